#include "playlist/style.h"

#include <cstdio>
#include <cstring>

#include "path/path.h"

static char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// How many letters a text begins with.
static size_t LeadingLetters(const char* text, size_t length) {
    size_t i = 0;
    while (i < length &&
           ((text[i] >= 'a' && text[i] <= 'z') || (text[i] >= 'A' && text[i] <= 'Z'))) {
        ++i;
    }
    return i;
}

// "scheme://": two or more letters (a drive "C:/" is one), then "://".
static size_t SchemeLength(const char* text, size_t length, size_t letters) {
    return letters >= 2 && length - letters >= 3 && text[letters] == ':' &&
                   text[letters + 1] == '/' && text[letters + 2] == '/'
               ? letters
               : 0;
}

void StartTally(StyleTally* tally, bool m3u, bool extendedHeader) {
    memset(tally, 0, sizeof *tally);
    tally->M3u = m3u;
    tally->ExtendedHeader = m3u && extendedHeader;
}

void TallyEntry(StyleTally* tally, const char* location, size_t length, EntryFields fields) {
    size_t letters = LeadingLetters(location, length);
    size_t scheme = SchemeLength(location, length, letters);
    bool uri = scheme == 4 && Lower(location[0]) == 'f' && Lower(location[1]) == 'i' &&
               Lower(location[2]) == 'l' && Lower(location[3]) == 'e';
    if (scheme && !uri) {
        return; // a stream: it says nothing of how files are written here
    }
    ++tally->Entries;
    tally->Titles += fields.Title;
    tally->Lengths += fields.Length;
    tally->Creators += fields.Creator;
    if (uri) {
        ++tally->Uris;
        ++tally->Absolute;
        return;
    }
    // A rooted path in either system's form: a drive, a share, a leading separator; what
    // PathRootLength finds by Windows' rules, told by the first two bytes.
    bool rooted = length > 0 && location[0] != 0 &&
                  (IsSeparator(location[0]) || (length > 1 && location[1] == ':'));
    if (rooted) {
        ++tally->Absolute;
    }
    // Letters are no separators: the search starts after them.
    for (size_t i = letters; i < length; ++i) {
        if (location[i] == '\\' || location[i] == '/') {
            ++(location[i] == '\\' ? tally->Backslash : tally->Slash);
            break;
        }
    }
}

static bool Most(uint32_t count, uint32_t of) {
    return of > 0 && 2 * static_cast<uint64_t>(count) > of;
}

EntryStyle DecideStyle(const StyleTally* t, bool newM3u) {
    EntryStyle s = {};
    s.Separator = HostPaths.Separator;
    if (newM3u) {
        s.Header = s.Title = s.Length = true;
        return s;
    }
    s.Uri = Most(t->Uris, t->Entries);
    s.Absolute = s.Uri || Most(t->Absolute, t->Entries);
    if (t->Backslash != t->Slash) {
        s.Separator = t->Backslash > t->Slash ? '\\' : '/';
    }
    // M3U: an #EXTINF line carries both, and only under #EXTM3U; an extended playlist without
    // entries yet is extended all the same.
    if (t->M3u) {
        s.Title = s.Length = t->ExtendedHeader && (t->Entries == 0 || Most(t->Titles, t->Entries));
        return s;
    }
    s.Title = Most(t->Titles, t->Entries);
    s.Length = Most(t->Lengths, t->Entries);
    s.Creator = Most(t->Creators, t->Entries);
    return s;
}

// Appends `n` bytes; false when they and a terminator do not fit.
static bool Append(char* out, size_t size, size_t* used, const char* text, size_t n) {
    if (*used + n >= size) {
        return false;
    }
    memcpy(out + *used, text, n);
    *used += n;
    out[*used] = 0;
    return true;
}

// The path as VLC writes it: file:///C:/a%20b.mp3, file://server/share/x.mp3, file:///home/x.
// Every byte but letters, digits, "-._~" and the separators is escaped, UTF-8 byte by byte.
static bool UriText(const char* file, char* out, size_t size) {
    size_t used = 0;
    const char* p = file;
    bool share = (p[0] == '\\' || p[0] == '/') && (p[1] == '\\' || p[1] == '/');
    if (!Append(out, size, &used, share ? "file:" : "file://", share ? 5 : 7)) {
        return false;
    }
    if (!share && p[0] != '\\' && p[0] != '/') {
        if (!Append(out, size, &used, "/", 1)) {
            return false;
        }
        if (((p[0] | 32) >= 'a' && (p[0] | 32) <= 'z') && p[1] == ':') {
            if (!Append(out, size, &used, p, 2)) {
                return false; // the drive's colon stays as it is
            }
            p += 2;
        }
    }
    for (; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        char escaped[4];
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '.' || c == '_' || c == '~';
        if (c == '\\' || c == '/') {
            escaped[0] = '/';
            plain = true;
        } else if (plain) {
            escaped[0] = static_cast<char>(c);
        } else {
            snprintf(escaped, sizeof escaped, "%%%02X", c);
        }
        if (!Append(out, size, &used, escaped, plain ? 1 : 3)) {
            return false;
        }
    }
    return true;
}

bool EntryPathText(const EntryStyle& style, const char* file, const char* folder, char* out,
                   size_t size) {
    if (size == 0) {
        return false;
    }
    out[0] = 0;
    bool ok;
    if (style.Uri) {
        ok = UriText(file, out, size);
    } else {
        PathStyle paths = HostPaths;
        paths.Separator = style.Separator;
        size_t length = style.Absolute ? 0 : RelativePath(folder, file, out, size, paths);
        if (length == 0 || length >= size) {
            // Absolute, or on another root than the playlist's: the full path.
            length = strlen(file);
            ok = length < size;
            if (ok) {
                memcpy(out, file, length + 1);
                for (size_t i = 0; i < length; ++i) {
                    if (out[i] == '\\' || out[i] == '/') {
                        out[i] = style.Separator;
                    }
                }
            }
        } else {
            ok = true;
        }
    }
    if (!ok) {
        out[0] = 0;
    }
    return ok;
}

// Cuts `used` back to a whole character.
static size_t WholeCharacters(const char* text, size_t used) {
    size_t start = used;
    while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) {
        --start;
    }
    if (start == 0) {
        return used; // no lead byte: stray continuations, taken as they are
    }
    unsigned char lead = static_cast<unsigned char>(text[start - 1]);
    size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return used - (start - 1) >= need ? used : start - 1;
}

// Appends text with control characters as spaces, as much as fits whole.
static void AppendLine(char* out, size_t size, size_t* used, const char* text) {
    size_t n = strlen(text);
    size_t room = size - 1 - *used;
    bool cut = n > room;
    if (cut) {
        n = room;
    }
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        out[*used + i] = c < 0x20 || c == 0x7F ? ' ' : static_cast<char>(c);
    }
    size_t end = *used + n;
    if (cut) {
        end = WholeCharacters(out, end);
        // A character was cut only if the next byte continues it.
        if (end < *used) {
            end = *used;
        }
    }
    *used = end;
    out[end] = 0;
}

void OneLineText(const char* text, char* out, size_t size) {
    if (size == 0) {
        return;
    }
    size_t used = 0;
    out[0] = 0;
    AppendLine(out, size, &used, text);
}

void DisplayTitle(const MediaInfo& info, char* out, size_t size) {
    if (size == 0) {
        return;
    }
    size_t used = 0;
    out[0] = 0;
    if (info.Artist[0]) {
        AppendLine(out, size, &used, info.Artist);
        AppendLine(out, size, &used, " - ");
    }
    AppendLine(out, size, &used, info.Title);
}

void ExtinfLine(const MediaInfo& info, char* out, size_t size) {
    if (size == 0) {
        return;
    }
    out[0] = 0;
    if (info.Seconds < 0 && !info.TitleFromTags) {
        return;
    }
    int n = snprintf(out, size, "#EXTINF:%lld,", static_cast<long long>(info.Seconds));
    if (n < 0 || static_cast<size_t>(n) >= size) {
        out[0] = 0;
        return;
    }
    DisplayTitle(info, out + n, size - n);
}
