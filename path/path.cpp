#include "path.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

static size_t RootLength(const char* p, const PathStyle& style) {
    if (p[0] == 0) {
        return 0;
    }
    if (!style.DriveRoots) {
        // More separators after the first are only empty segments.
        return IsSeparator(p[0]) ? 1 : 0;
    }
    if (IsSeparator(p[0])) {
        if (!IsSeparator(p[1])) {
            return 1;
        }
        if ((p[2] == '?' || p[2] == '.') && IsSeparator(p[3])) {
            return 4;
        }
        // Network share: server, separator run, share, one separator.
        size_t i = 2;
        while (p[i] != 0 && !IsSeparator(p[i])) {
            ++i;
        }
        while (IsSeparator(p[i])) {
            ++i;
        }
        if (p[i] != 0) {
            while (p[i] != 0 && !IsSeparator(p[i])) {
                ++i;
            }
            if (IsSeparator(p[i])) {
                ++i;
            }
        }
        return i;
    }
    if (p[1] == ':') {
        return IsSeparator(p[2]) ? 3 : 2;
    }
    return 0;
}

bool IsFullPath(const char* p, const PathStyle& style) {
    if (!style.DriveRoots) {
        return IsSeparator(p[0]);
    }
    bool letter = (p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z');
    return (letter && p[1] == ':' && IsSeparator(p[2])) || (IsSeparator(p[0]) && IsSeparator(p[1]));
}

// Sets the current segment to the one starting at s (a non-separator byte).
static void TakeSegment(PathCursor* c, const char* s) {
    const char* e = s;
    while (*e != 0 && !IsSeparator(*e)) {
        ++e;
    }
    c->SegStart = s;
    c->SegEnd = e;
    c->SegLength = static_cast<size_t>(e - s);
}

// Passes the separators from s; the segment found there becomes current. False at the end.
static bool SegmentFrom(PathCursor* c, const char* s) {
    while (IsSeparator(*s)) {
        ++s;
    }
    if (*s == 0) {
        return false;
    }
    TakeSegment(c, s);
    return true;
}

// Whether a body holds a segment "." or "..". Most paths hold none, and then resolving them
// needs no look along the path for a ".." that cancels each segment.
static bool HasDotSegment(const char* body) {
    for (const char* dot = strchr(body, '.'); dot; dot = strchr(dot + 1, '.')) {
        bool starts = dot == body || IsSeparator(dot[-1]);
        size_t n = dot[1] == '.' ? 2 : 1;
        if (starts && (dot[n] == 0 || IsSeparator(dot[n]))) {
            return true;
        }
    }
    return false;
}

static bool Open(PathCursor* c, const char* path, const PathStyle& style) {
    c->Style = &style;
    c->PathStart = path;
    c->BodyStart = path + RootLength(path, style);
    c->SegStart = c->BodyStart;
    c->SegEnd = c->BodyStart;
    c->SegLength = 0;
    c->Dotted = HasDotSegment(c->BodyStart);
    return SegmentFrom(c, c->BodyStart);
}

static bool Next(PathCursor* c) {
    // The byte at SegEnd is a separator unless the path ends there.
    return *c->SegEnd != 0 && SegmentFrom(c, c->SegEnd + 1);
}

bool PrevSegment(PathCursor* c) {
    // Work with offsets from BodyStart so no pointer ever points before the body.
    const char* body = c->BodyStart;
    size_t i = static_cast<size_t>(c->SegStart - body);
    while (i > 0 && IsSeparator(body[i - 1])) {
        --i;
    }
    if (i == 0) {
        return false;
    }
    size_t end = i;
    while (i > 0 && !IsSeparator(body[i - 1])) {
        --i;
    }
    c->SegStart = body + i;
    c->SegEnd = body + end;
    c->SegLength = end - i;
    return true;
}

static SegmentClass Classify(const PathCursor* c) {
    const char* s = c->SegStart;
    if (c->SegLength == 1 && s[0] == '.') {
        return SegmentDot;
    }
    if (c->SegLength == 2 && s[0] == '.' && s[1] == '.') {
        return SegmentDotDot;
    }
    return SegmentOrdinary;
}

static unsigned char LowerAscii(unsigned char ch) {
    return (ch >= 0x41 && ch <= 0x5A) ? static_cast<unsigned char>(ch + 0x20) : ch;
}

static bool Same(const char* a, size_t lenA, const char* b, size_t lenB, const PathStyle& style) {
    if (lenA != lenB) {
        return false;
    }
    // Most names that meet are written alike, case and all.
    if (lenA == 0 || memcmp(a, b, lenA) == 0) {
        return true;
    }
    if (!style.CaseBlind) {
        return false;
    }
    for (size_t i = 0; i < lenA; ++i) {
        if (LowerAscii(static_cast<unsigned char>(a[i])) !=
            LowerAscii(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool CancelledLater(PathCursor c) {
    int32_t depth = 0;
    while (Next(&c)) {
        SegmentClass k = Classify(&c);
        if (k == SegmentOrdinary) {
            ++depth;
        } else if (k == SegmentDotDot && --depth < 0) {
            return true;
        }
    }
    return false;
}

bool CancelsEarlier(PathCursor c) {
    int32_t depth = 0;
    while (PrevSegment(&c)) {
        SegmentClass k = Classify(&c);
        if (k == SegmentDotDot) {
            --depth;
        } else if (k == SegmentOrdinary && ++depth > 0) {
            return true;
        }
    }
    return false;
}

static bool Skipped(const PathCursor* c, bool rooted) {
    if (!c->Dotted) {
        return false; // an ordinary segment, and no ".." after it
    }
    switch (Classify(c)) {
    case SegmentDot:
        return true;
    case SegmentDotDot:
        // Above a root there is nothing to climb to, so a surplus ".." vanishes.
        return rooted || CancelsEarlier(*c);
    case SegmentOrdinary:
        break;
    }
    return CancelledLater(*c);
}

static bool SkipTo(PathCursor* c, bool rooted) {
    if (c->SegLength == 0) {
        return false;
    }
    while (Skipped(c, rooted)) {
        if (!Next(c)) {
            return false;
        }
    }
    return true;
}

WalkResult WalkCommonPrefix(PathCursor* a, PathCursor* b, bool rooted) {
    WalkResult r;
    for (;;) {
        // Both sides always advance, so callers see where each one stands.
        r.okA = SkipTo(a, rooted);
        r.okB = SkipTo(b, rooted);
        if (!r.okA || !r.okB) {
            return r;
        }
        if (!Same(a->SegStart, a->SegLength, b->SegStart, b->SegLength, *a->Style)) {
            return r;
        }
        r.okA = Next(a);
        r.okB = Next(b);
        if (!r.okA || !r.okB) {
            return r;
        }
    }
}

// Copies what fits below size; pos always grows by n so the complete length is known.
static void Append(char* out, size_t size, size_t* pos, const char* s, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (*pos + i < size) {
            out[*pos + i] = s[i];
        }
    }
    *pos += n;
}

// Roots name the same place: the same text, or where only a separator roots, both rooted.
static bool SameRoot(const char* a, size_t ra, const char* b, size_t rb, const PathStyle& style) {
    return ra == rb && (!style.DriveRoots || Same(a, ra, b, rb, style));
}

// Where the target goes on below the base, when it begins with the base's very bytes, the base
// ends in a separator and neither holds a "." or ".." segment: then every segment of the base
// is one of the target's, and the rest are the relative path. Null otherwise. Pack asks this
// of every name, whose source lies below the playlist's folder.
static const char* Below(const char* base, const char* target, size_t root) {
    size_t n = strlen(base);
    if (n == 0 || !IsSeparator(base[n - 1]) || strncmp(base, target, n) != 0 ||
        HasDotSegment(base + root) || HasDotSegment(target + root)) {
        return nullptr;
    }
    return target + n;
}

static size_t Relative(const char* base, const char* target, char* out, size_t size,
                       const PathStyle& style, bool general) {
    size_t ra = RootLength(base, style);
    size_t rb = RootLength(target, style);
    if (!SameRoot(base, ra, target, rb, style)) {
        if (size > 0) {
            out[0] = 0;
        }
        return 0;
    }
    size_t pos = 0;
    if (const char* rest = general ? nullptr : Below(base, target, ra)) {
        // The target's segments below the base, as the walk below would find them.
        while (*rest) {
            while (IsSeparator(*rest)) {
                ++rest;
            }
            const char* from = rest;
            while (*rest && !IsSeparator(*rest)) {
                ++rest;
            }
            if (rest > from) {
                Append(out, size, &pos, from, static_cast<size_t>(rest - from));
                Append(out, size, &pos, &style.Separator, 1);
            }
        }
    } else {
        bool rooted = ra > 0 && IsSeparator(base[ra - 1]);
        PathCursor a;
        PathCursor b;
        Open(&a, base, style);
        Open(&b, target, style);
        WalkResult w = WalkCommonPrefix(&a, &b, rooted);
        const char up[] = {'.', '.', style.Separator};
        if (w.okA && SkipTo(&a, rooted)) {
            do {
                Append(out, size, &pos, up, 3);
            } while (Next(&a) && SkipTo(&a, rooted));
        }
        if (w.okB && SkipTo(&b, rooted)) {
            do {
                Append(out, size, &pos, b.SegStart, b.SegLength);
                Append(out, size, &pos, &style.Separator, 1);
            } while (Next(&b) && SkipTo(&b, rooted));
        }
    }

    size_t length;
    if (pos > 0) {
        length = pos - 1;
    } else {
        Append(out, size, &pos, ".", 1);
        length = 1;
    }
    if (size > 0) {
        out[length < size ? length : size - 1] = 0;
    }
    return length;
}

size_t RelativePath(const char* base, const char* target, char* out, size_t size,
                    const PathStyle& style) {
    return Relative(base, target, out, size, style, false);
}

#if defined(M3U_FAULT_INJECTION)
size_t GeneralRelativePathForTests(const char* base, const char* target, char* out, size_t size,
                                   const PathStyle& style) {
    return Relative(base, target, out, size, style, true);
}
#endif

// The public names; calls within this file use the static forms, which the compiler may inline
// into each other even where public functions could be replaced at load time.
bool NextSegment(PathCursor* c) {
    return Next(c);
}
SegmentClass ClassifySegment(const PathCursor* c) {
    return Classify(c);
}
bool SkipToEffective(PathCursor* c, bool rooted) {
    return SkipTo(c, rooted);
}
bool IsSkipped(const PathCursor* c, bool rooted) {
    return Skipped(c, rooted);
}
size_t PathRootLength(const char* p, const PathStyle& style) {
    return RootLength(p, style);
}
bool SameText(const char* a, size_t lenA, const char* b, size_t lenB, const PathStyle& style) {
    return Same(a, lenA, b, lenB, style);
}
bool OpenCursor(PathCursor* c, const char* path, const PathStyle& style) {
    return Open(c, path, style);
}
