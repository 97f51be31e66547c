// XSPF, WPL and ASX playlists read: Expat reads the file and reports where each element starts
// and ends in the original bytes; the entries and where new ones go are taken from those spans
// (formats/xml_write.cpp writes). The heap is used here (entries, text, ASX's normalised copy)
// and freed by FreeXmlPlaylist or before the call returns.
#include "formats/xml.h"

#include <expat.h>
#include <stdlib.h>
#include <string.h>

#include "formats/xml_internal.h"

using namespace XmlInternal;

namespace {

// Nesting deeper than any playlist needs stops the parse: such a file is not one we change.
const size_t MaxDepth = 256;

// ---- ASX's tolerances ------------------------------------------------------------------------

void SetUnit(const Units& u, unsigned char* copy, size_t pos, unsigned c) {
    if (u.Width == 1) {
        copy[pos] = (unsigned char)c;
    } else if (u.BigEndian) {
        copy[pos] = (unsigned char)(c >> 8);
        copy[pos + 1] = (unsigned char)c;
    } else {
        copy[pos] = (unsigned char)c;
        copy[pos + 1] = (unsigned char)(c >> 8);
    }
}

size_t LowerName(const Units& u, unsigned char* copy, size_t pos) {
    while (pos + u.Width <= u.Size && IsNameChar(UnitAt(u, pos))) {
        unsigned c = UnitAt(u, pos);
        if (c >= 'A' && c <= 'Z') {
            SetUnit(u, copy, pos, c - 'A' + 'a');
        }
        pos += u.Width;
    }
    return pos;
}

// A bare '&' at pos (one that starts no reference) becomes '_' in the copy.
void MaskBareAmpersand(const Units& u, unsigned char* copy, size_t pos) {
    size_t after = pos + u.Width;
    unsigned c;
    if (!ReadReference(u, &after, u.Size, &c)) {
        SetUnit(u, copy, pos, '_');
    }
}

// ASX as players read it: names in any case, end tags in another case than their start tags,
// bare '&'. A copy with the ASCII letters of every tag and attribute name in lower case and
// each bare '&' replaced by '_' keeps every byte where it was, so Expat's positions are the
// file's, and the values are read from the file itself.
unsigned char* NormalisedAsx(const Units& u) {
    unsigned char* copy = (unsigned char*)malloc(u.Size ? u.Size : 1);
    if (!copy) {
        return nullptr;
    }
    memcpy(copy, u.Bytes, u.Size);
    const size_t w = u.Width;
    size_t p = u.Begin;
    bool found;
    while (p + w <= u.Size) {
        unsigned c = UnitAt(u, p);
        if (c == '&') {
            MaskBareAmpersand(u, copy, p);
            p += w;
            continue;
        }
        if (c != '<' || p + 2 * w > u.Size) {
            p += w;
            continue;
        }
        unsigned next = UnitAt(u, p + w);
        if (UnitsAre(u, p, "<!--")) {
            p = PastNext(u, p + 4 * w, "-->", &found);
        } else if (UnitsAre(u, p, "<![CDATA[")) {
            p = PastNext(u, p + 9 * w, "]]>", &found);
        } else if (next == '?') {
            p = PastNext(u, p + 2 * w, "?>", &found);
        } else if (next == '!') {
            int brackets = 0;
            for (p += 2 * w; p + w <= u.Size; p += w) {
                unsigned d = UnitAt(u, p);
                brackets += d == '[' ? 1 : d == ']' ? -1 : 0;
                if (d == '>' && brackets <= 0) {
                    p += w;
                    break;
                }
            }
        } else if (next == '/') {
            p = LowerName(u, copy, p + 2 * w);
        } else if (IsNameStart(next)) {
            p = LowerName(u, copy, p + w);
            // Attributes: name, '=', a quoted value; anything else is left for Expat to refuse.
            while (p + w <= u.Size) {
                p = SkipBlanks(u, p);
                if (p + w > u.Size) {
                    break;
                }
                unsigned d = UnitAt(u, p);
                if (d == '>' || d == '<') {
                    break;
                }
                if (!IsNameStart(d)) {
                    p += w;
                    continue;
                }
                p = SkipBlanks(u, LowerName(u, copy, p));
                if (p + w > u.Size || UnitAt(u, p) != '=') {
                    continue;
                }
                p = SkipBlanks(u, p + w);
                if (p + w > u.Size) {
                    break;
                }
                unsigned quote = UnitAt(u, p);
                if (quote != '"' && quote != '\'') {
                    continue;
                }
                for (p += w; p + w <= u.Size && UnitAt(u, p) != quote; p += w) {
                    if (UnitAt(u, p) == '&') {
                        MaskBareAmpersand(u, copy, p);
                    }
                }
                p += w;
            }
        } else {
            p += w;
        }
    }
    return copy;
}

} // namespace

PlaylistFormat SniffXmlFormat(const unsigned char* bytes, size_t size) {
    if (!bytes) {
        return FormatM3u;
    }
    Detected d = DetectEncoding(bytes, size, FormatUnknown);
    Units u = MakeUnits(bytes, size, d.Encoding, d.Begin);
    if (u.Width == 1 && memchr(bytes, 0, size < 4096 ? size : 4096)) {
        return FormatUnknown; // binary
    }
    const size_t w = u.Width;
    bool xml = false, found = false;
    size_t p = u.Begin;
    for (;;) {
        p = SkipBlanks(u, p);
        if (p + 2 * w > u.Size || UnitAt(u, p) != '<') {
            return xml ? FormatUnknown : FormatM3u;
        }
        unsigned next = UnitAt(u, p + w);
        char name[64];
        if (next == '?') {
            ReadName(u, p + 2 * w, name, sizeof name);
            if (SameNoCase(name, "wpl") || SameNoCase(name, "zpl")) {
                return FormatWpl;
            }
            p = PastNext(u, p + 2 * w, "?>", &found);
        } else if (UnitsAre(u, p, "<!--")) {
            p = PastNext(u, p + 4 * w, "-->", &found);
        } else if (next == '!') {
            int brackets = 0;
            for (p += 2 * w, found = false; p + w <= u.Size && !found; p += w) {
                unsigned c = UnitAt(u, p);
                brackets += c == '[' ? 1 : c == ']' ? -1 : 0;
                found = c == '>' && brackets <= 0;
            }
        } else if (IsNameStart(next)) {
            ReadName(u, p + w, name, sizeof name);
            const char* local = LocalName(name);
            if (strcmp(local, "playlist") == 0) {
                return FormatXspf;
            }
            if (SameNoCase(local, "smil")) {
                return FormatWpl;
            }
            return SameNoCase(name, "asx") ? FormatAsx : FormatUnknown;
        } else {
            return xml ? FormatUnknown : FormatM3u;
        }
        if (!found) {
            return FormatUnknown;
        }
        xml = true;
    }
}

namespace {

// ---- Reading ---------------------------------------------------------------------------------

enum ElementKind {
    KOther,
    KRoot,
    KTrackList, // XSPF
    KTrack,
    KLocation,
    KTitle,
    KCreator,
    KDuration,
    KTrackExtension,
    KVlcId,
    KVlcList,
    KVlcNode,
    KVlcItem,
    KHead, // WPL
    KMeta,
    KBody,
    KSeq,
    KMedia,
    KRepeat, // ASX
    KEntry,
    KEntryRef,
    KRef,
    KBase,
};

struct Frame {
    ElementKind Kind;
    size_t Start, TagEnd; // the start tag
    char* Base;           // xml:base resolved, owned; null: the parent's
    const char* EffectiveBase;
    bool BaseTooLong; // locations below name nothing
    bool HasChild;
    size_t FirstChild;
    bool HasSmartPlaylist; // a WPL seq
};

// An element seen whole: its start tag and its end.
struct Element {
    bool Seen;
    size_t Start, TagEnd, EndTag, End; // EndTag == End: an empty element
};

struct Reader {
    XML_Parser Parser;
    PlaylistFormat Format;
    Units U;
    bool Failed;  // out of memory
    bool Refused; // not a file we change: its entries may still list
    Frame* Frames;
    size_t Depth, FrameCapacity;
    XmlEntry* Entries;
    size_t Count, Capacity;
    XmlTexts* Texts; // the entries' texts
    bool InEntry;
    bool LocationSeen;
    // Text of the element being collected.
    Buffer Text;
    bool Collecting, TextTooLong;
    // The last entry whole, its first child and its first ASX ref / WPL media.
    Element LastEntry;
    bool LastWasEntryRef;
    bool LastHasChild;
    size_t LastFirstChild;
    bool LastTitle, LastCreator, LastDuration;
    size_t TitleAt, AuthorAt; // ASX: the last entry's title and author, for their names
    Element Ref;              // the current entry's first ASX ref
    Span HrefName;            // its href attribute's name
    Element LastRef;
    Span LastHrefName;
    char* Href;      // ASX: the current entry's first ref, read from the file
    char* EntryBase; // ASX: a base inside the current entry
    char* AsxBase;   // ASX: the playlist's base
    // XSPF: the base that applies where new tracks go (after the last one, in the trackList,
    // or in the playlist when a trackList is written).
    char* EntryParentBase;
    char* ContainerBase;
    char* RootBase;
    // Where entries go when there are none yet.
    Element Root, Container, ContainerParent;
    // WPL's ItemCount.
    bool HasItemCount;
    Span ItemCount;
    // VLC's list.
    Element VlcList;
    Span* VlcItems;
    long long* VlcItemIds;
    size_t VlcItemCount, VlcItemCapacity;
    Element LastVlcItem;
    long long MaxVlcId;
    char* VlcPrefix;
};

void Refuse(Reader* r) {
    r->Refused = true;
    XML_StopParser(r->Parser, XML_FALSE);
}

void OutOfMemory(Reader* r) {
    r->Failed = true;
    Refuse(r);
}

const char* Attribute(const XML_Char** atts, const char* name, size_t* index) {
    for (size_t i = 0; atts[i]; i += 2) {
        if (strcmp(atts[i], name) == 0) {
            if (index) {
                *index = i / 2;
            }
            return atts[i + 1];
        }
    }
    return nullptr;
}

// An attribute's value as the file writes it, read with ASX's tolerance for a bare '&'.
char* RawAttribute(Reader* r, const XML_Char** atts, const char* name, Span* nameSpan) {
    size_t index;
    if (!Attribute(atts, name, &index)) {
        return nullptr;
    }
    const XML_AttrInfo* info = XML_GetAttributeInfo(r->Parser);
    if (!info || info[index].valueStart < 0 || info[index].valueEnd < info[index].valueStart) {
        return nullptr;
    }
    if (nameSpan) {
        nameSpan->Start = (size_t)info[index].nameStart;
        nameSpan->End = (size_t)info[index].nameEnd;
    }
    Buffer value = {};
    DecodeSpan(r->U, (size_t)info[index].valueStart, (size_t)info[index].valueEnd, true, &value);
    return Take(&value, &r->Failed);
}

long long ParseNumber(const char* text) {
    while (IsXmlSpace((unsigned char)*text)) {
        ++text;
    }
    long long value = 0;
    size_t digits = 0;
    for (; *text >= '0' && *text <= '9'; ++text, ++digits) {
        if (value > 100000000000000LL) {
            return -1;
        }
        value = value * 10 + (*text - '0');
    }
    while (IsXmlSpace((unsigned char)*text)) {
        ++text;
    }
    return digits && !*text ? value : -1;
}

char* TrimmedText(Reader* r, const char* text, size_t n) {
    while (n && IsXmlSpace((unsigned char)*text)) {
        ++text;
        --n;
    }
    while (n && IsXmlSpace((unsigned char)text[n - 1])) {
        --n;
    }
    return KeepText(&r->Texts, text, n, &r->Failed);
}

bool Grow(void** array, size_t* capacity, size_t count, size_t size) {
    if (count < *capacity) {
        return true;
    }
    size_t more = *capacity ? *capacity * 2 : 16;
    void* grown = realloc(*array, more * size);
    if (!grown) {
        return false;
    }
    *array = grown;
    *capacity = more;
    return true;
}

XmlEntry* NewEntry(Reader* r, size_t start) {
    if (!Grow((void**)&r->Entries, &r->Capacity, r->Count, sizeof(XmlEntry))) {
        OutOfMemory(r);
        return nullptr;
    }
    XmlEntry* e = &r->Entries[r->Count++];
    memset(e, 0, sizeof *e);
    e->Start = e->End = start;
    e->DurationMs = -1;
    e->VlcId = -1;
    r->InEntry = true;
    r->LocationSeen = false;
    r->LastHasChild = false;
    r->LastTitle = r->LastCreator = r->LastDuration = false;
    r->Ref.Seen = false;
    free(r->Href);
    free(r->EntryBase);
    r->Href = r->EntryBase = nullptr;
    return e;
}

XmlEntry* Current(Reader* r) {
    return r->InEntry && r->Count ? &r->Entries[r->Count - 1] : nullptr;
}

void StartCollecting(Reader* r) {
    r->Collecting = true;
    r->TextTooLong = false;
    r->Text.Size = 0;
    if (r->Text.Data) {
        r->Text.Data[0] = 0;
    }
}

// A name compared with one of ours: most differ in their first letter, which decides without a
// call.
bool NameIs(const char* name, const char* ours) {
    return name[0] == ours[0] && strcmp(name, ours) == 0;
}

ElementKind XspfKind(Reader* r, ElementKind parent, const char* name, const XML_Char** atts) {
    const char* local = LocalName(name);
    // VLC's extensions, asked only of the elements that may be one.
    auto vlc = [atts] {
        const char* application = Attribute(atts, "application", nullptr);
        return application && strcmp(application, VlcApplication) == 0;
    };
    switch (parent) {
    case KRoot:
        if (NameIs(local, "trackList")) {
            return KTrackList;
        }
        return NameIs(local, "extension") && vlc() ? KVlcList : KOther;
    case KTrackList:
        if (NameIs(local, "track")) {
            const char* base = r->Frames[r->Depth - 2].EffectiveBase;
            if (base || r->EntryParentBase) {
                free(r->EntryParentBase);
                r->EntryParentBase = base ? Copy(base, &r->Failed) : nullptr;
            }
            return NewEntry(r, r->Frames[r->Depth - 1].Start) ? KTrack : KOther;
        }
        return KOther;
    case KTrack:
        if (NameIs(local, "location") && !r->LocationSeen) {
            r->LocationSeen = true;
            return KLocation;
        }
        if (NameIs(local, "title")) {
            r->LastTitle = true;
            return Current(r) && !Current(r)->Title ? KTitle : KOther;
        }
        if (NameIs(local, "creator")) {
            r->LastCreator = true;
            return Current(r) && !Current(r)->Creator ? KCreator : KOther;
        }
        if (NameIs(local, "duration")) {
            r->LastDuration = true;
            return KDuration;
        }
        return NameIs(local, "extension") && vlc() ? KTrackExtension : KOther;
    case KTrackExtension:
        return NameIs(local, "id") ? KVlcId : KOther;
    case KVlcList:
    case KVlcNode:
        if (NameIs(local, "node")) {
            return KVlcNode;
        }
        if (NameIs(local, "item") && Attribute(atts, "tid", nullptr)) {
            if (!r->VlcPrefix && local != name) {
                r->VlcPrefix = Copy(name, (size_t)(local - name - 1), &r->Failed);
            }
            return KVlcItem;
        }
        return KOther;
    default:
        return KOther;
    }
}

ElementKind WplKind(Reader* r, ElementKind parent, const char* name, const XML_Char** atts) {
    const char* local = LocalName(name);
    switch (parent) {
    case KRoot:
        return SameNoCase(local, "head") ? KHead : SameNoCase(local, "body") ? KBody : KOther;
    case KHead: {
        const char* what = Attribute(atts, "name", nullptr);
        size_t index;
        if (SameNoCase(local, "meta") && what && SameNoCase(what, "ItemCount") &&
            Attribute(atts, "content", &index) && !r->HasItemCount) {
            const XML_AttrInfo* info = XML_GetAttributeInfo(r->Parser);
            if (info && info[index].valueStart >= 0) {
                r->HasItemCount = true;
                r->ItemCount.Start = (size_t)info[index].valueStart;
                r->ItemCount.End = (size_t)info[index].valueEnd;
            }
        }
        return KOther;
    }
    case KBody:
    case KSeq:
        if (SameNoCase(local, "seq")) {
            return KSeq;
        }
        if (parent == KSeq && SameNoCase(local, "smartPlaylist")) {
            r->Frames[r->Depth - 2].HasSmartPlaylist = true; // the seq: Depth - 1 is this one
        }
        if (parent == KSeq && SameNoCase(local, "media")) {
            XmlEntry* e = NewEntry(r, r->Frames[r->Depth - 1].Start);
            const char* src = Attribute(atts, "src", nullptr);
            if (!e) {
                return KOther;
            }
            if (src) {
                e->Location = LocationOf(src, strlen(src), nullptr, &r->Texts, &r->Failed);
            }
            return KMedia;
        }
        return KOther;
    default:
        return KOther;
    }
}

ElementKind AsxKind(Reader* r, ElementKind parent, const char* name, const XML_Char** atts) {
    switch (parent) {
    case KRoot:
    case KRepeat:
        if (NameIs(name, "repeat")) {
            return KRepeat;
        }
        if (NameIs(name, "entry")) {
            return NewEntry(r, r->Frames[r->Depth - 1].Start) ? KEntry : KOther;
        }
        if (NameIs(name, "entryref")) {
            if (!NewEntry(r, r->Frames[r->Depth - 1].Start)) {
                return KOther;
            }
            r->Href = RawAttribute(r, atts, "href", nullptr);
            return KEntryRef;
        }
        if (NameIs(name, "base") && parent == KRoot && !r->AsxBase) {
            r->AsxBase = RawAttribute(r, atts, "href", nullptr);
        }
        return KOther;
    case KEntry:
        if (NameIs(name, "ref") && !r->Ref.Seen) {
            r->Ref.Seen = true;
            r->Ref.Start = r->Frames[r->Depth - 1].Start;
            r->Ref.TagEnd = r->Frames[r->Depth - 1].TagEnd;
            r->Href = RawAttribute(r, atts, "href", &r->HrefName);
            return KRef;
        }
        if (NameIs(name, "base") && !r->EntryBase) {
            r->EntryBase = RawAttribute(r, atts, "href", nullptr);
        }
        if (NameIs(name, "title")) {
            r->LastTitle = true;
            r->TitleAt = r->Frames[r->Depth - 1].Start;
            return KTitle;
        }
        if (NameIs(name, "author")) {
            r->LastCreator = true;
            r->AuthorAt = r->Frames[r->Depth - 1].Start;
            return KCreator;
        }
        return KOther;
    default:
        return KOther;
    }
}

bool EventSpan(Reader* r, size_t* start, size_t* end) {
    XML_Index index = XML_GetCurrentByteIndex(r->Parser);
    int count = XML_GetCurrentByteCount(r->Parser);
    if (index < 0 || count < 0 || (size_t)index + (size_t)count > r->U.Size) {
        Refuse(r);
        return false;
    }
    *start = (size_t)index;
    *end = (size_t)index + (size_t)count;
    return true;
}

// A start tag at [start, tagEnd).
void OnStart(Reader* r, const char* name, const char** atts, size_t start, size_t tagEnd) {
    if (r->Depth >= MaxDepth) {
        Refuse(r);
        return;
    }
    if (!Grow((void**)&r->Frames, &r->FrameCapacity, r->Depth, sizeof(Frame))) {
        OutOfMemory(r);
        return;
    }
    Frame* parent = r->Depth ? &r->Frames[r->Depth - 1] : nullptr;
    if (parent && !parent->HasChild) {
        parent->HasChild = true;
        parent->FirstChild = start;
    }
    if (parent && parent->Kind == KTrack && !r->LastHasChild) {
        r->LastHasChild = true;
        r->LastFirstChild = start;
    }
    if (parent && parent->Kind == KEntry && !r->LastHasChild) {
        r->LastHasChild = true;
        r->LastFirstChild = start;
    }
    Frame* f = &r->Frames[r->Depth++];
    memset(f, 0, sizeof *f);
    f->Start = start;
    f->TagEnd = tagEnd;
    f->EffectiveBase = parent ? parent->EffectiveBase : nullptr;
    f->BaseTooLong = parent && parent->BaseTooLong;
    if (r->Format == FormatXspf) {
        const char* base = Attribute(atts, "xml:base", nullptr);
        if (base) {
            Buffer resolved = {};
            Resolve(f->EffectiveBase, base, &resolved);
            f->BaseTooLong |= resolved.Size > MaxText;
            f->Base = Take(&resolved, &r->Failed);
            f->EffectiveBase = f->Base;
        }
    }
    if (r->Failed) {
        OutOfMemory(r);
        return;
    }
    if (!parent) {
        const char* local = LocalName(name);
        bool mine = r->Format == FormatXspf  ? NameIs(local, "playlist")
                    : r->Format == FormatWpl ? SameNoCase(local, "smil")
                                             : NameIs(name, "asx");
        if (!mine) {
            Refuse(r);
            return;
        }
        f->Kind = KRoot;
        return;
    }
    ElementKind kind = r->Format == FormatXspf  ? XspfKind(r, parent->Kind, name, atts)
                       : r->Format == FormatWpl ? WplKind(r, parent->Kind, name, atts)
                                                : AsxKind(r, parent->Kind, name, atts);
    f->Kind = kind;
    if (kind == KLocation || kind == KTitle || kind == KCreator || kind == KDuration ||
        kind == KVlcId) {
        StartCollecting(r);
    }
    if (kind == KVlcItem) {
        const char* tid = Attribute(atts, "tid", nullptr);
        if (!Grow((void**)&r->VlcItems, &r->VlcItemCapacity, r->VlcItemCount, sizeof(Span)) ||
            !(r->VlcItemIds =
                  (long long*)realloc(r->VlcItemIds, r->VlcItemCapacity * sizeof(long long)))) {
            OutOfMemory(r);
            return;
        }
        r->VlcItemIds[r->VlcItemCount] = tid ? ParseNumber(tid) : -1;
        if (r->VlcItemIds[r->VlcItemCount] > r->MaxVlcId) {
            r->MaxVlcId = r->VlcItemIds[r->VlcItemCount];
        }
        r->VlcItems[r->VlcItemCount].Start = start;
    }
    if (r->Failed) {
        OutOfMemory(r);
    }
}

// An end tag at [endTag, end); endTag == end past an empty element's tag.
void OnEnd(Reader* r, size_t endTag, size_t end) {
    Frame* f = &r->Frames[--r->Depth];
    Element element = {true, f->Start, f->TagEnd, endTag, end};
    XmlEntry* e = Current(r);
    bool collected = r->Collecting;
    const char* text = r->Text.Data ? r->Text.Data : "";
    switch (f->Kind) {
    case KRoot:
        r->Root = element;
        r->RootBase = f->EffectiveBase ? Copy(f->EffectiveBase, &r->Failed) : nullptr;
        break;
    case KTrackList:
        if (!r->Container.Seen) {
            r->Container = element;
            r->ContainerBase = f->EffectiveBase ? Copy(f->EffectiveBase, &r->Failed) : nullptr;
        }
        break;
    case KBody:
        r->ContainerParent = element;
        break;
    case KSeq:
        if (!r->Container.Seen && !f->HasSmartPlaylist && r->Depth &&
            r->Frames[r->Depth - 1].Kind == KBody) {
            r->Container = element;
        }
        break;
    case KLocation:
        if (e && !r->TextTooLong && !f->BaseTooLong) {
            e->Location = LocationOf(text, r->Text.Size, f->EffectiveBase, &r->Texts, &r->Failed);
        }
        break;
    case KTitle:
    case KCreator:
        if (e && !r->TextTooLong) {
            char** field = f->Kind == KTitle ? &e->Title : &e->Creator;
            if (!*field) {
                Buffer raw = {};
                if (r->Format == FormatAsx && endTag - f->TagEnd <= MaxText) {
                    DecodeSpan(r->U, f->TagEnd, endTag, true, &raw);
                    text = raw.Data ? raw.Data : "";
                }
                *field = TrimmedText(r, text, strlen(text));
                r->Failed |= raw.Failed;
                Drop(&raw);
            }
        }
        break;
    case KDuration:
        if (e && e->DurationMs < 0 && !r->TextTooLong) {
            e->DurationMs = ParseNumber(text);
        }
        break;
    case KVlcId:
        if (e && e->VlcId < 0 && !r->TextTooLong) {
            e->VlcId = ParseNumber(text);
            if (e->VlcId > r->MaxVlcId) {
                r->MaxVlcId = e->VlcId;
            }
        }
        break;
    case KVlcList:
        if (!r->VlcList.Seen) {
            r->VlcList = element;
        }
        break;
    case KVlcItem: {
        bool lineStart, lineEnd;
        Span* s = &r->VlcItems[r->VlcItemCount++];
        s->Start = LineStartBefore(r->U, s->Start, &lineStart);
        s->End = LineEndAfter(r->U, end, &lineEnd);
        r->LastVlcItem = element;
        break;
    }
    case KRef:
        r->Ref.EndTag = endTag;
        r->Ref.End = end;
        break;
    case KTrack:
    case KMedia:
    case KEntry:
    case KEntryRef:
        if (e) {
            bool lineStart, lineEnd;
            e->Start = LineStartBefore(r->U, f->Start, &lineStart);
            e->End = LineEndAfter(r->U, end, &lineEnd);
            if (r->Format == FormatAsx && r->Href) {
                const char* base = r->EntryBase ? r->EntryBase : r->AsxBase;
                e->Location = LocationOf(r->Href, strlen(r->Href), base, &r->Texts, &r->Failed);
            }
            r->LastEntry = element;
            r->LastWasEntryRef = f->Kind == KEntryRef;
            r->LastRef = r->Ref;
            r->LastHrefName = r->HrefName;
            r->InEntry = false;
        }
        break;
    default:
        break;
    }
    if (collected && (f->Kind == KLocation || f->Kind == KTitle || f->Kind == KCreator ||
                      f->Kind == KDuration || f->Kind == KVlcId)) {
        r->Collecting = false;
    }
    if (f->Base) {
        free(f->Base);
        f->Base = nullptr;
    }
    if (r->Failed) {
        OutOfMemory(r);
    }
}

void XMLCALL CharacterData(void* data, const XML_Char* text, int length);

// Expat hands over text only while an element's text is collected: the rest of the file's
// text (mostly the blanks between tags) costs no call.
void Listen(Reader* r, bool wasCollecting) {
    if (r->Collecting != wasCollecting) {
        XML_SetCharacterDataHandler(r->Parser, r->Collecting ? CharacterData : nullptr);
    }
}

void XMLCALL StartElement(void* data, const XML_Char* name, const XML_Char** atts) {
    Reader* r = (Reader*)data;
    size_t start, tagEnd;
    if (!r->Refused && EventSpan(r, &start, &tagEnd)) {
        bool wasCollecting = r->Collecting;
        OnStart(r, name, atts, start, tagEnd);
        Listen(r, wasCollecting);
    }
}

void XMLCALL EndElement(void* data, const XML_Char*) {
    Reader* r = (Reader*)data;
    size_t endTag, end;
    if (!r->Refused && r->Depth != 0 && EventSpan(r, &endTag, &end)) {
        bool wasCollecting = r->Collecting;
        OnEnd(r, endTag, end);
        Listen(r, wasCollecting);
    }
}

void Collect(Reader* r, const char* text, size_t length) {
    if (!r->Collecting || length == 0 || r->TextTooLong) {
        return;
    }
    if (r->Text.Size + length > MaxText) {
        r->TextTooLong = true;
        return;
    }
    Put(&r->Text, text, length);
    if (r->Text.Failed) {
        OutOfMemory(r);
    }
}

void XMLCALL CharacterData(void* data, const XML_Char* text, int length) {
    if (length > 0) {
        Collect((Reader*)data, text, (size_t)length);
    }
}

// A declared entity could expand into entries whose text is not in the file: such a file (and
// every entity expansion attack) is refused at its declaration.
void XMLCALL EntityDeclaration(void* data, const XML_Char*, int, const XML_Char*, int,
                               const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*) {
    Refuse((Reader*)data);
}

void XMLCALL SkippedEntity(void* data, const XML_Char*, int) {
    Refuse((Reader*)data);
}

} // namespace

namespace {

// ---- Where new entries go --------------------------------------------------------------------

const char* LineEndOf(const Units& u) {
    for (size_t p = u.Begin; p + u.Width <= u.Size; p += u.Width) {
        unsigned c = UnitAt(u, p);
        if (c == '\n') {
            return "\n";
        }
        if (c == '\r') {
            return p + 2 * u.Width <= u.Size && UnitAt(u, p + u.Width) == '\n' ? "\r\n" : "\r";
        }
    }
    return "\n";
}

char* Decoded(const Units& u, size_t start, size_t end, bool* failed) {
    Buffer b = {};
    DecodeSpan(u, start, end, false, &b);
    return Take(&b, failed);
}

// The blanks before an element when it begins its line, else "".
char* IndentOf(const Units& u, size_t pos, bool* failed) {
    bool lineStart;
    size_t start = LineStartBefore(u, pos, &lineStart);
    return Decoded(u, start, pos, failed);
}

// The name of the element whose start tag begins at pos, as written.
char* RawName(const Units& u, size_t pos, bool* failed) {
    size_t end = pos + u.Width;
    while (end + u.Width <= u.Size && IsNameChar(UnitAt(u, end))) {
        end += u.Width;
    }
    return Decoded(u, pos + u.Width, end, failed);
}

const char* EmptyCloseOf(const Units& u, const Element& e) {
    bool empty = e.Seen && e.EndTag == e.End && e.TagEnd >= e.Start + 3 * u.Width;
    return empty && UnitAt(u, e.TagEnd - 3 * u.Width) == ' ' ? " />" : "/>";
}

// One step of indentation: what the element's line adds to its parent's, else what the file's
// first indented line starts with, else two spaces.
char* IndentUnit(const Units& u, const char* indent, const char* parentIndent, bool* failed) {
    size_t n = strlen(indent), parent = parentIndent ? strlen(parentIndent) : 0;
    if (parentIndent && n > parent && strncmp(indent, parentIndent, parent) == 0) {
        return Copy(indent + parent, n - parent, failed);
    }
    for (size_t p = u.Begin; p + u.Width <= u.Size; p += u.Width) {
        unsigned c = UnitAt(u, p);
        if (c != '\n' && c != '\r') {
            continue;
        }
        size_t q = p + u.Width;
        while (q + u.Width <= u.Size && Blank(UnitAt(u, q))) {
            q += u.Width;
        }
        if (q > p + u.Width && q + u.Width <= u.Size && UnitAt(u, q) == '<') {
            if (UnitAt(u, p + u.Width) == '\t') {
                return Copy("\t", failed);
            }
            size_t spaces = (q - p - u.Width) / u.Width;
            return Copy("        ", spaces < 8 ? spaces : 8, failed);
        }
    }
    return Copy("  ", failed);
}

char* Joined(const char* a, const char* b, const char* c, bool* failed) {
    Buffer j = {};
    Put(&j, a);
    Put(&j, b);
    Put(&j, c);
    return Take(&j, failed);
}

// New lines before the end tag of `container`, each indented one step more than it.
void InsertBeforeEndTag(const Units& u, const Element& container, const char* parentIndent,
                        const char* lineEnd, XmlLayout* l, char** containerIndent, bool* failed) {
    *containerIndent = IndentOf(u, container.Start, failed);
    if (!*containerIndent) {
        return;
    }
    char* unit = IndentUnit(u, *containerIndent, parentIndent, failed);
    l->Indent = Joined(*containerIndent, unit, nullptr, failed);
    l->ChildIndent = Joined(l->Indent, unit, nullptr, failed);
    free(unit);
    l->OwnLines = true;
    bool lineStart;
    size_t start = LineStartBefore(u, container.EndTag, &lineStart);
    l->At = l->ReplaceEnd = lineStart ? start : container.EndTag;
    l->Before = Copy(lineStart ? "" : lineEnd, failed);
    l->After = Copy(lineStart ? "" : *containerIndent, failed);
}

// The start tag of an empty element made an opening one: "<seq />" gives "<seq>".
char* OpenedTag(const Units& u, const Element& e, bool* failed) {
    char* tag = Decoded(u, e.Start, e.TagEnd, failed);
    if (!tag) {
        return nullptr;
    }
    size_t n = strlen(tag);
    if (n >= 2 && tag[n - 1] == '>' && tag[n - 2] == '/') {
        n -= 2;
        while (n && IsXmlSpace((unsigned char)tag[n - 1])) {
            --n;
        }
        tag[n++] = '>';
        tag[n] = 0;
    }
    return tag;
}

// Where and how new entries go when there are none: inside the container, which may be an
// empty element or, for XSPF and WPL, missing (then it is written too).
void PlaceInContainer(Reader* r, XmlLayout* l, const char* prefix) {
    const Units& u = r->U;
    bool* failed = &r->Failed;
    const Element& container = r->Format == FormatAsx ? r->Root : r->Container;
    const Element& parent = r->Format == FormatXspf ? r->Root : r->ContainerParent;
    char* parentIndent =
        parent.Seen && r->Format != FormatAsx ? IndentOf(u, parent.Start, failed) : nullptr;
    char* containerIndent = nullptr;
    l->CanInsert = true;
    if (container.Seen && container.EndTag != container.End) {
        InsertBeforeEndTag(u, container, parentIndent, l->LineEnd, l, &containerIndent, failed);
    } else if (container.Seen) {
        containerIndent = IndentOf(u, container.Start, failed);
        char* unit =
            containerIndent ? IndentUnit(u, containerIndent, parentIndent, failed) : nullptr;
        char* name = RawName(u, container.Start, failed);
        char* open = OpenedTag(u, container, failed);
        l->At = container.Start;
        l->ReplaceEnd = container.End;
        l->Before = Joined(open, l->LineEnd, nullptr, failed);
        Buffer after = {};
        Put(&after, containerIndent);
        Put(&after, "</");
        Put(&after, name);
        PutByte(&after, '>');
        l->After = Take(&after, failed);
        l->Indent = Joined(containerIndent, unit, nullptr, failed);
        l->ChildIndent = Joined(l->Indent, unit, nullptr, failed);
        l->OwnLines = true;
        free(unit);
        free(name);
        free(open);
    } else if (parent.Seen && parent.EndTag != parent.End) {
        // The container is written around the entries, one step inside the parent.
        char* parentParent = nullptr;
        InsertBeforeEndTag(u, parent, nullptr, l->LineEnd, l, &parentParent, failed);
        const char* name = r->Format == FormatXspf ? "trackList" : "seq";
        Buffer before = {}, after = {};
        Put(&before, l->Before);
        Put(&before, l->Indent);
        PutByte(&before, '<');
        Put(&before, prefix);
        Put(&before, name);
        PutByte(&before, '>');
        Put(&before, l->LineEnd);
        Put(&after, l->Indent);
        Put(&after, "</");
        Put(&after, prefix);
        Put(&after, name);
        PutByte(&after, '>');
        Put(&after, l->LineEnd);
        Put(&after, l->After);
        free(l->Before);
        free(l->After);
        l->Before = Take(&before, failed);
        l->After = Take(&after, failed);
        char* unit =
            l->Indent && parentParent ? IndentUnit(u, l->Indent, parentParent, failed) : nullptr;
        char* indent = Joined(l->Indent, unit, nullptr, failed);
        free(l->ChildIndent);
        l->ChildIndent = Joined(indent, unit, nullptr, failed);
        free(l->Indent);
        l->Indent = indent;
        free(unit);
        free(parentParent);
    } else {
        l->CanInsert = false;
    }
    l->WithTitle = l->WithCreator = l->WithDuration = true;
    free(parentIndent);
    free(containerIndent);
}

void PlaceAfterLastEntry(Reader* r, XmlLayout* l) {
    const Units& u = r->U;
    bool* failed = &r->Failed;
    const Element& last = r->LastEntry;
    l->CanInsert = last.Seen;
    if (!last.Seen) {
        return;
    }
    bool lineStart, lineEnd;
    LineStartBefore(u, last.Start, &lineStart);
    l->At = l->ReplaceEnd = LineEndAfter(u, last.End, &lineEnd);
    l->OwnLines = lineEnd;
    l->Indent = lineEnd && lineStart ? IndentOf(u, last.Start, failed) : Copy("", failed);
    if (r->LastHasChild) {
        bool childLineStart;
        LineStartBefore(u, r->LastFirstChild, &childLineStart);
        if (childLineStart) {
            l->ChildIndent = IndentOf(u, r->LastFirstChild, failed);
        }
    }
    l->Before = Copy("", failed);
    l->After = Copy("", failed);
    l->WithTitle = r->LastTitle;
    l->WithCreator = r->LastCreator;
    l->WithDuration = r->LastDuration;
}

void PlaceVlcItems(Reader* r, XmlLayout* l) {
    const Units& u = r->U;
    bool* failed = &r->Failed;
    l->Vlc = r->VlcList.Seen && r->VlcList.EndTag != r->VlcList.End;
    l->VlcNextId = r->MaxVlcId + 1;
    l->VlcPrefix = r->VlcPrefix ? r->VlcPrefix : Copy("vlc", failed);
    r->VlcPrefix = nullptr;
    if (!l->Vlc) {
        return;
    }
    if (r->VlcItemCount) {
        bool lineStart;
        LineStartBefore(u, r->LastVlcItem.Start, &lineStart);
        l->VlcItemAt = r->VlcItems[r->VlcItemCount - 1].End;
        l->VlcItemOwnLines = l->VlcItemAt != r->LastVlcItem.End;
        l->VlcItemIndent = l->VlcItemOwnLines && lineStart
                               ? IndentOf(u, r->LastVlcItem.Start, failed)
                               : Copy("", failed);
        return;
    }
    bool lineStart;
    size_t start = LineStartBefore(u, r->VlcList.EndTag, &lineStart);
    char* listIndent = IndentOf(u, r->VlcList.Start, failed);
    char* unit = listIndent ? IndentUnit(u, listIndent, nullptr, failed) : nullptr;
    l->VlcItemAt = lineStart ? start : r->VlcList.EndTag;
    l->VlcItemOwnLines = lineStart;
    l->VlcItemIndent = lineStart ? Joined(listIndent, unit, nullptr, failed) : Copy("", failed);
    free(listIndent);
    free(unit);
}

char* ClimbOutOf(const char* base, bool* failed) {
    if (!base || !*base) {
        return Copy("", failed);
    }
    if (SchemeLength(base) || IsDrivePath(base) || base[0] == '/' || base[0] == '\\') {
        return nullptr;
    }
    // The base's folder, as Resolve takes it: its path up to the last '/' before any query.
    const char* slash = nullptr;
    for (const char* p = base; *p && *p != '?' && *p != '#'; ++p) {
        slash = *p == '/' ? p : slash;
    }
    if (!slash) {
        return Copy("", failed); // "foo" names a file beside the playlist
    }
    char* folder = Copy(base, (size_t)(slash - base + 1), failed);
    Buffer clean = {}, prefix = {};
    if (folder) {
        RemoveDots(folder, false, &clean);
    }
    free(folder);
    bool climbs = clean.Size >= 2 && clean.Data[0] == '.' && clean.Data[1] == '.';
    // One climb per folder; an empty segment ("m//n/") is none, as ".." passes over it.
    for (size_t i = 0; i < clean.Size && !climbs; ++i) {
        if (clean.Data[i] == '/' && i > 0 && clean.Data[i - 1] != '/') {
            Put(&prefix, "../");
        }
    }
    *failed |= clean.Failed;
    Drop(&clean);
    if (climbs) {
        Drop(&prefix);
        return nullptr;
    }
    return Take(&prefix, failed);
}

// What a path relative to the playlist needs before it under `base`; null when no relative
// reference can name it there. The climb is checked by resolving it as a reader will.
char* RelativePrefixUnder(const char* base, bool* failed) {
    char* climb = ClimbOutOf(base, failed);
    if (!climb) {
        return nullptr;
    }
    Buffer probe = {}, resolved = {};
    Put(&probe, climb);
    Put(&probe, "x");
    Resolve(base, probe.Data, &resolved);
    bool undone = resolved.Data && strcmp(resolved.Data, "x") == 0;
    *failed |= probe.Failed || resolved.Failed;
    Drop(&probe);
    Drop(&resolved);
    if (!undone) {
        free(climb);
        return nullptr;
    }
    return climb;
}

XmlLayout* BuildLayout(Reader* r) {
    XmlLayout* l = (XmlLayout*)calloc(1, sizeof(XmlLayout));
    if (!l) {
        r->Failed = true;
        return nullptr;
    }
    const Units& u = r->U;
    bool* failed = &r->Failed;
    l->LineEnd = LineEndOf(u);
    l->EmptyClose = "/>";
    // The XSPF prefix of the root ("myns:" for <myns:playlist>), which new names take.
    char* prefix = Copy("", failed);
    if (r->Format == FormatXspf && r->Root.Seen && prefix) {
        char* root = RawName(u, r->Root.Start, failed);
        if (root) {
            const char* local = LocalName(root);
            free(prefix);
            prefix = Copy(root, (size_t)(local - root), failed);
            free(root);
        }
    }
    if (r->Count) {
        PlaceAfterLastEntry(r, l);
    } else {
        PlaceInContainer(r, l, prefix ? prefix : "");
    }
    if (r->Count && r->LastEntry.Seen) {
        l->EntryName = RawName(u, r->LastEntry.Start, failed);
        if (r->LastWasEntryRef && l->EntryName) {
            // New entries are entries, in the case the entryref was written in.
            bool upper = l->EntryName[0] >= 'A' && l->EntryName[0] <= 'Z';
            free(l->EntryName);
            l->EntryName = Copy(upper ? "Entry" : "entry", failed);
        }
    } else {
        const char* name = r->Format == FormatXspf  ? "track"
                           : r->Format == FormatWpl ? "media"
                                                    : "entry";
        l->EntryName = Joined(prefix, name, nullptr, failed);
    }
    if (r->Format == FormatXspf && l->EntryName) {
        const char* local = LocalName(l->EntryName);
        char* own = Copy(l->EntryName, (size_t)(local - l->EntryName), failed);
        l->ChildName = Joined(own, "location", nullptr, failed);
        l->TitleName = Joined(own, "title", nullptr, failed);
        l->AuthorName = Joined(own, "creator", nullptr, failed);
        free(own);
    } else if (r->Format == FormatAsx) {
        bool upper = l->EntryName && l->EntryName[0] >= 'A' && l->EntryName[0] <= 'Z';
        l->ChildName = r->Count && r->LastRef.Seen ? RawName(u, r->LastRef.Start, failed)
                                                   : Copy(upper ? "Ref" : "ref", failed);
        l->HrefName = r->Count && r->LastRef.Seen && r->LastHrefName.End > r->LastHrefName.Start
                          ? Decoded(u, r->LastHrefName.Start, r->LastHrefName.End, failed)
                          : Copy("href", failed);
        l->TitleName = r->Count && r->LastTitle ? RawName(u, r->TitleAt, failed)
                                                : Copy(upper ? "Title" : "title", failed);
        l->AuthorName = r->Count && r->LastCreator ? RawName(u, r->AuthorAt, failed)
                                                   : Copy(upper ? "Author" : "author", failed);
        if (r->Count && r->LastRef.Seen) {
            l->EmptyClose = EmptyCloseOf(u, r->LastRef);
        }
    } else if (r->Format == FormatWpl && r->Count) {
        l->EmptyClose = EmptyCloseOf(u, r->LastEntry);
    }
    const char* base = r->Format == FormatAsx ? r->AsxBase
                       : r->Count             ? r->EntryParentBase
                       : r->Container.Seen    ? r->ContainerBase
                                              : r->RootBase;
    l->RelativePrefix = RelativePrefixUnder(base, failed);
    l->HasItemCount = r->HasItemCount;
    l->ItemCount = r->ItemCount;
    if (r->Format == FormatXspf) {
        PlaceVlcItems(r, l);
    }
    l->VlcItems = r->VlcItems;
    l->VlcItemIds = r->VlcItemIds;
    l->VlcItemCount = r->VlcItemCount;
    r->VlcItems = nullptr;
    r->VlcItemIds = nullptr;
    free(prefix);
    return l;
}

void FreeLayout(XmlLayout* l) {
    if (!l) {
        return;
    }
    char* texts[] = {l->Before,     l->After,         l->Indent,    l->ChildIndent,
                     l->EntryName,  l->ChildName,     l->HrefName,  l->TitleName,
                     l->AuthorName, l->VlcItemIndent, l->VlcPrefix, l->RelativePrefix};
    for (char* text : texts) {
        free(text);
    }
    free(l->VlcItems);
    free(l->VlcItemIds);
    free(l);
}

} // namespace

namespace {

void StartReader(Reader* r, PlaylistFormat format, const Units& u) {
    memset(r, 0, sizeof *r);
    r->Format = format;
    r->U = u;
    r->MaxVlcId = -1;
}

// The file through Expat: false when it is not well-formed or the reader stopped it.
bool ParseWithExpat(Reader* r, const unsigned char* bytes, size_t size, const Detected& detected) {
    unsigned char* copy = nullptr;
    if (r->Format == FormatAsx && !(copy = NormalisedAsx(r->U))) {
        r->Failed = true;
        return false;
    }
    r->Parser = XML_ParserCreate(detected.ForExpat);
    if (!r->Parser) {
        free(copy);
        r->Failed = true;
        return false;
    }
    XML_SetUserData(r->Parser, r);
    XML_SetElementHandler(r->Parser, StartElement, EndElement);
    XML_SetEntityDeclHandler(r->Parser, EntityDeclaration);
    XML_SetSkippedEntityHandler(r->Parser, SkippedEntity);
    XML_SetUnknownEncodingHandler(r->Parser, UnknownEncoding, nullptr);
    // Expat takes an int's worth at a time.
    const unsigned char* data = copy ? copy : bytes;
    const size_t chunk = 1u << 30;
    bool parsed = true;
    size_t done = 0;
    do {
        size_t n = size - done < chunk ? size - done : chunk;
        parsed = XML_Parse(r->Parser, (const char*)data + done, (int)n,
                           done + n == size ? XML_TRUE : XML_FALSE) == XML_STATUS_OK;
        done += n;
    } while (parsed && done < size);
    XML_ParserFree(r->Parser);
    r->Parser = nullptr;
    free(copy);
    return parsed;
}

} // namespace

bool ReadXmlPlaylist(const unsigned char* bytes, size_t size, XmlPlaylist* playlist) {
    memset(playlist, 0, sizeof *playlist);
    playlist->Format = FormatUnknown;
    PlaylistFormat format = SniffXmlFormat(bytes, size);
    if (format != FormatXspf && format != FormatWpl && format != FormatAsx) {
        return true;
    }
    playlist->Format = format;
    Detected detected = DetectEncoding(bytes, size, format);
    playlist->Encoding = detected.Encoding;
    Reader r;
    StartReader(&r, format, MakeUnits(bytes, size, detected.Encoding, detected.Begin));
    bool parsed = ParseWithExpat(&r, bytes, size, detected);
    for (size_t i = 0; i < r.Depth; ++i) {
        free(r.Frames[i].Base);
    }
    free(r.Frames);
    free(r.Href);
    free(r.EntryBase);
    Drop(&r.Text);
    playlist->Entries = r.Entries;
    playlist->Count = r.Count;
    playlist->Texts = r.Texts;
    playlist->Whole = parsed && !r.Refused && !r.Failed && r.Root.Seen && !r.InEntry;
    if (!r.Failed) {
        playlist->Layout = BuildLayout(&r);
    }
    free(r.VlcItems);
    free(r.VlcItemIds);
    free(r.VlcPrefix);
    free(r.AsxBase);
    free(r.EntryParentBase);
    free(r.ContainerBase);
    free(r.RootBase);
    if (r.Failed) {
        FreeXmlPlaylist(playlist);
        return false;
    }
    return true;
}

void FreeXmlPlaylist(XmlPlaylist* playlist) {
    if (!playlist) {
        return;
    }
    FreeTexts(playlist->Texts);
    free(playlist->Entries);
    FreeLayout(playlist->Layout);
    memset(playlist, 0, sizeof *playlist);
    playlist->Format = FormatUnknown;
}
