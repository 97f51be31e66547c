// XSPF, WPL and ASX playlists: Expat reads the file and reports where each element starts and
// ends in the original bytes; the writers copy those bytes and change only the spans they must.
// The heap is used here (entries, text, ASX's normalised copy) and freed by FreeXmlPlaylist or
// before the call returns.
#include "formats/xml.h"

#include <expat.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Nesting deeper than any playlist needs stops the parse: such a file is not one we change.
const size_t MaxDepth = 256;
// Longer text (a location, a title, an xml:base) names nothing we could list.
const size_t MaxText = 64 * 1024;
const char VlcApplication[] = "http://www.videolan.org/vlc/playlist/0";

// ---- Growable text ---------------------------------------------------------------------------

struct Buffer {
    char* Data;
    size_t Size, Capacity;
    bool Failed; // out of memory: everything after is dropped
};

bool Reserve(Buffer* b, size_t more) {
    if (b->Failed) {
        return false;
    }
    if (b->Size + more + 1 <= b->Capacity) {
        return true;
    }
    size_t capacity = b->Capacity ? b->Capacity : 64;
    while (capacity < b->Size + more + 1) {
        if (capacity > ((size_t)-1) / 2) {
            b->Failed = true;
            return false;
        }
        capacity *= 2;
    }
    char* data = (char*)realloc(b->Data, capacity);
    if (!data) {
        b->Failed = true;
        return false;
    }
    b->Data = data;
    b->Capacity = capacity;
    return true;
}

void Put(Buffer* b, const void* data, size_t n) {
    if (n == 0 || !Reserve(b, n)) {
        return;
    }
    memcpy(b->Data + b->Size, data, n);
    b->Size += n;
    b->Data[b->Size] = 0;
}

void Put(Buffer* b, const char* text) {
    if (text) {
        Put(b, text, strlen(text));
    }
}

void PutByte(Buffer* b, unsigned char c) {
    Put(b, &c, 1);
}

void PutNumber(Buffer* b, unsigned long long n) {
    char digits[24];
    size_t i = sizeof digits;
    do {
        digits[--i] = (char)('0' + n % 10);
        n /= 10;
    } while (n);
    Put(b, digits + i, sizeof digits - i);
}

void Drop(Buffer* b) {
    free(b->Data);
    memset(b, 0, sizeof *b);
}

// The text as a zero-terminated heap string the caller owns ("" when empty); null when out of
// memory, with *failed set.
char* Take(Buffer* b, bool* failed) {
    if (b->Failed || !Reserve(b, 0)) {
        *failed = true;
        Drop(b);
        return nullptr;
    }
    b->Data[b->Size] = 0;
    char* text = b->Data;
    memset(b, 0, sizeof *b);
    return text;
}

char* Copy(const char* text, size_t n, bool* failed) {
    char* copy = (char*)malloc(n + 1);
    if (!copy) {
        *failed = true;
        return nullptr;
    }
    memcpy(copy, text, n);
    copy[n] = 0;
    return copy;
}

char* Copy(const char* text, bool* failed) {
    return Copy(text, strlen(text), failed);
}

// ---- Characters ------------------------------------------------------------------------------

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}

bool SameNoCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        if (LowerAscii(*a) != LowerAscii(*b)) {
            return false;
        }
    }
    return *a == *b;
}

bool IsXmlSpace(unsigned c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsNameStart(unsigned c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
}

bool IsNameChar(unsigned c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

int HexValue(unsigned c) {
    if (c >= '0' && c <= '9') {
        return (int)(c - '0');
    }
    c |= 0x20;
    return c >= 'a' && c <= 'f' ? (int)(c - 'a' + 10) : -1;
}

// The local part of a qualified name: what follows its prefix.
const char* LocalName(const char* name) {
    const char* colon = strrchr(name, ':');
    return colon ? colon + 1 : name;
}

void PutUtf8(Buffer* b, unsigned c) {
    unsigned char out[4];
    size_t n;
    if (c < 0x80) {
        out[0] = (unsigned char)c;
        n = 1;
    } else if (c < 0x800) {
        out[0] = (unsigned char)(0xC0 | c >> 6);
        out[1] = (unsigned char)(0x80 | (c & 0x3F));
        n = 2;
    } else if (c < 0x10000) {
        out[0] = (unsigned char)(0xE0 | c >> 12);
        out[1] = (unsigned char)(0x80 | (c >> 6 & 0x3F));
        out[2] = (unsigned char)(0x80 | (c & 0x3F));
        n = 3;
    } else {
        out[0] = (unsigned char)(0xF0 | c >> 18);
        out[1] = (unsigned char)(0x80 | (c >> 12 & 0x3F));
        out[2] = (unsigned char)(0x80 | (c >> 6 & 0x3F));
        out[3] = (unsigned char)(0x80 | (c & 0x3F));
        n = 4;
    }
    Put(b, out, n);
}

// The next character of UTF-8 text; an invalid sequence is U+FFFD for one byte.
unsigned NextUtf8(const unsigned char* s, size_t n, size_t* i) {
    unsigned c = s[*i];
    size_t length = c < 0x80                ? 1
                    : c >= 0xC2 && c < 0xE0 ? 2
                    : c >= 0xE0 && c < 0xF0 ? 3
                    : c >= 0xF0 && c < 0xF5 ? 4
                                            : 0;
    if (length == 1) {
        ++*i;
        return c;
    }
    if (length == 0 || *i + length > n) {
        ++*i;
        return 0xFFFD;
    }
    unsigned value = c & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        unsigned next = s[*i + k];
        if ((next & 0xC0) != 0x80) {
            ++*i;
            return 0xFFFD;
        }
        value = value << 6 | (next & 0x3F);
    }
    static const unsigned least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < least[length] || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000)) {
        ++*i;
        return 0xFFFD;
    }
    *i += length;
    return value;
}

bool ValidUtf8(const unsigned char* s, size_t n) {
    for (size_t i = 0; i < n;) {
        size_t at = i;
        if (NextUtf8(s, n, &i) == 0xFFFD && !(i - at == 3 && s[at] == 0xEF)) {
            return false;
        }
    }
    return true;
}

// Windows-1252's characters for the bytes 0x80..0x9F; the five it leaves undefined stand for
// themselves, as Windows reads them.
const unsigned short Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

unsigned FromSingleByte(unsigned char c, XmlEncoding encoding) {
    if (encoding == XmlCp1252 && c >= 0x80 && c < 0xA0) {
        return Cp1252High[c - 0x80];
    }
    return c;
}

// ---- The file's text: code units of one or two bytes -----------------------------------------

struct Units {
    const unsigned char* Bytes;
    size_t Size;
    size_t Begin; // past the byte-order mark
    size_t Width; // 1, or 2 for UTF-16
    bool BigEndian;
    XmlEncoding Encoding;
};

Units MakeUnits(const unsigned char* bytes, size_t size, XmlEncoding encoding, size_t begin) {
    Units u = {bytes, size, begin, 1, false, encoding};
    if (encoding == XmlUtf16Le || encoding == XmlUtf16Be) {
        u.Width = 2;
        u.BigEndian = encoding == XmlUtf16Be;
        u.Size = begin + (size - begin) / 2 * 2; // an odd last byte is no unit
    }
    return u;
}

unsigned UnitAt(const Units& u, size_t pos) {
    if (u.Width == 1) {
        return u.Bytes[pos];
    }
    return u.BigEndian ? (unsigned)u.Bytes[pos] << 8 | u.Bytes[pos + 1]
                       : u.Bytes[pos] | (unsigned)u.Bytes[pos + 1] << 8;
}

bool Blank(unsigned c) {
    return c == ' ' || c == '\t';
}

// Where an element's own text begins: the start of its line when only blanks stand before it.
size_t LineStartBefore(const Units& u, size_t pos, bool* atLineStart) {
    size_t p = pos;
    while (p >= u.Begin + u.Width && Blank(UnitAt(u, p - u.Width))) {
        p -= u.Width;
    }
    unsigned before = p >= u.Begin + u.Width ? UnitAt(u, p - u.Width) : '\n';
    *atLineStart = before == '\n' || before == '\r';
    return *atLineStart ? p : pos;
}

// Where an element's own text ends: past the line end when only blanks follow it.
size_t LineEndAfter(const Units& u, size_t pos, bool* pastLineEnd) {
    size_t p = pos;
    while (p + u.Width <= u.Size && Blank(UnitAt(u, p))) {
        p += u.Width;
    }
    *pastLineEnd = true;
    if (p + u.Width > u.Size) {
        return p;
    }
    unsigned c = UnitAt(u, p);
    if (c == '\r') {
        p += u.Width;
        if (p + u.Width <= u.Size && UnitAt(u, p) == '\n') {
            p += u.Width;
        }
        return p;
    }
    if (c == '\n') {
        return p + u.Width;
    }
    *pastLineEnd = false;
    return pos;
}

// The next character of the file's text at *pos (before end), which it advances.
unsigned NextChar(const Units& u, size_t* pos, size_t end) {
    if (u.Width == 2) {
        unsigned c = UnitAt(u, *pos);
        *pos += 2;
        if (c >= 0xD800 && c < 0xDC00 && *pos + 2 <= end) {
            unsigned low = UnitAt(u, *pos);
            if (low >= 0xDC00 && low < 0xE000) {
                *pos += 2;
                return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            }
        }
        return c >= 0xD800 && c < 0xE000 ? 0xFFFD : c;
    }
    if (u.Encoding == XmlUtf8) {
        return NextUtf8(u.Bytes, end, pos);
    }
    return FromSingleByte(u.Bytes[(*pos)++], u.Encoding);
}

// A reference at *pos (just past '&'): one of XML's five names or a character number. Anything
// else is a bare '&' (ASX files have them) and reads as itself.
bool ReadReference(const Units& u, size_t* pos, size_t end, unsigned* c) {
    char name[12];
    size_t n = 0, p = *pos;
    while (p + u.Width <= end && n + 1 < sizeof name) {
        unsigned unit = UnitAt(u, p);
        p += u.Width;
        if (unit == ';') {
            break;
        }
        if (unit >= 0x80) {
            return false;
        }
        name[n++] = (char)unit;
    }
    if (p > end || UnitAt(u, p - u.Width) != ';' || n == 0) {
        return false;
    }
    name[n] = 0;
    static const struct {
        const char* Name;
        unsigned Char;
    } named[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& entity : named) {
        if (strcmp(name, entity.Name) == 0) {
            *c = entity.Char;
            *pos = p;
            return true;
        }
    }
    if (name[0] != '#' || n < 2) {
        return false;
    }
    bool hex = name[1] == 'x';
    unsigned long value = 0;
    size_t digits = 0;
    for (size_t i = hex ? 2 : 1; i < n; ++i, ++digits) {
        int d = hex ? HexValue((unsigned char)name[i])
                    : (name[i] >= '0' && name[i] <= '9' ? name[i] - '0' : -1);
        if (d < 0) {
            return false;
        }
        value = value * (hex ? 16 : 10) + (unsigned long)d;
    }
    if (digits == 0 || value == 0 || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000)) {
        return false;
    }
    *c = (unsigned)value;
    *pos = p;
    return true;
}

// The file's text in [start, end) as UTF-8; with `references`, XML's references are read.
void DecodeSpan(const Units& u, size_t start, size_t end, bool references, Buffer* out) {
    for (size_t pos = start; pos + u.Width <= end;) {
        unsigned c = NextChar(u, &pos, end);
        if (c == '&' && references) {
            ReadReference(u, &pos, end, &c);
        }
        PutUtf8(out, c);
    }
}

// ---- Encodings -------------------------------------------------------------------------------

struct Detected {
    XmlEncoding Encoding;
    size_t Begin;         // bytes of the byte-order mark
    const char* ForExpat; // the encoding Expat is told, when the file does not say
};

bool StartsWith(const unsigned char* bytes, size_t size, const char* prefix) {
    size_t n = strlen(prefix);
    return size >= n && memcmp(bytes, prefix, n) == 0;
}

// The encoding named in an XML declaration of single-byte text, or null.
bool DeclaredEncoding(const unsigned char* bytes, size_t size, char* name, size_t capacity) {
    if (!StartsWith(bytes, size, "<?xml")) {
        return false;
    }
    size_t end = 5;
    while (end + 1 < size && end < 512 && !(bytes[end] == '?' && bytes[end + 1] == '>')) {
        ++end;
    }
    for (size_t i = 5; i + 8 < end; ++i) {
        if (memcmp(bytes + i, "encoding", 8) != 0 || !IsXmlSpace(bytes[i - 1])) {
            continue;
        }
        size_t p = i + 8;
        while (p < end && IsXmlSpace(bytes[p])) {
            ++p;
        }
        if (p >= end || bytes[p] != '=') {
            return false;
        }
        ++p;
        while (p < end && IsXmlSpace(bytes[p])) {
            ++p;
        }
        if (p >= end || (bytes[p] != '"' && bytes[p] != '\'')) {
            return false;
        }
        unsigned char quote = bytes[p++];
        size_t n = 0;
        while (p < end && bytes[p] != quote && n + 1 < capacity) {
            name[n++] = (char)bytes[p++];
        }
        name[n] = 0;
        return p < end && bytes[p] == quote;
    }
    return false;
}

Detected DetectEncoding(const unsigned char* bytes, size_t size, PlaylistFormat format) {
    Detected d = {XmlUtf8, 0, nullptr};
    if (StartsWith(bytes, size, "\xEF\xBB\xBF")) {
        d.Begin = 3;
    } else if (StartsWith(bytes, size, "\xFF\xFE")) {
        d.Encoding = XmlUtf16Le;
        d.Begin = 2;
    } else if (StartsWith(bytes, size, "\xFE\xFF")) {
        d.Encoding = XmlUtf16Be;
        d.Begin = 2;
    } else if (size >= 2 && bytes[0] == '<' && bytes[1] == 0) {
        d.Encoding = XmlUtf16Le;
    } else if (size >= 2 && bytes[0] == 0 && bytes[1] == '<') {
        d.Encoding = XmlUtf16Be;
    } else {
        char name[64];
        if (DeclaredEncoding(bytes, size, name, sizeof name)) {
            if (SameNoCase(name, "ISO-8859-1") || SameNoCase(name, "latin1") ||
                SameNoCase(name, "ISO_8859-1") || SameNoCase(name, "l1")) {
                d.Encoding = XmlLatin1;
            } else if (SameNoCase(name, "US-ASCII") || SameNoCase(name, "ASCII")) {
                d.Encoding = XmlAscii;
            } else if (SameNoCase(name, "windows-1252") || SameNoCase(name, "cp1252")) {
                d.Encoding = XmlCp1252;
            }
        } else if (format == FormatAsx && !ValidUtf8(bytes, size)) {
            // ASX files of streaming sites come in Windows' 8-bit text without a declaration.
            d.Encoding = XmlLatin1;
            d.ForExpat = "ISO-8859-1";
        }
    }
    return d;
}

// Expat knows UTF-8, UTF-16, Latin-1 and ASCII; Windows-1252 is given to it here.
int XMLCALL UnknownEncoding(void*, const XML_Char* name, XML_Encoding* info) {
    if (!SameNoCase(name, "windows-1252") && !SameNoCase(name, "cp1252")) {
        return XML_STATUS_ERROR;
    }
    for (int i = 0; i < 256; ++i) {
        info->map[i] = (int)FromSingleByte((unsigned char)i, XmlCp1252);
    }
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return XML_STATUS_OK;
}

// New text in the file's encoding; a character the encoding lacks becomes a character
// reference, so it must be text or an attribute value.
void Encode(const char* utf8, size_t n, XmlEncoding encoding, Buffer* out) {
    const unsigned char* s = (const unsigned char*)utf8;
    if (encoding == XmlUtf8) {
        Put(out, s, n);
        return;
    }
    for (size_t i = 0; i < n;) {
        unsigned c = NextUtf8(s, n, &i);
        if (encoding == XmlUtf16Le || encoding == XmlUtf16Be) {
            unsigned units[2] = {c, 0};
            size_t count = 1;
            if (c >= 0x10000) {
                units[0] = 0xD800 + ((c - 0x10000) >> 10);
                units[1] = 0xDC00 + ((c - 0x10000) & 0x3FF);
                count = 2;
            }
            for (size_t k = 0; k < count; ++k) {
                unsigned char pair[2] = {(unsigned char)(units[k] & 0xFF),
                                         (unsigned char)(units[k] >> 8)};
                if (encoding == XmlUtf16Be) {
                    unsigned char t = pair[0];
                    pair[0] = pair[1];
                    pair[1] = t;
                }
                Put(out, pair, 2);
            }
            continue;
        }
        int byte = -1;
        if (c < 0x80) {
            byte = (int)c;
        } else if (encoding == XmlLatin1 && c < 0x100) {
            byte = (int)c;
        } else if (encoding == XmlCp1252) {
            if (c >= 0xA0 && c < 0x100) {
                byte = (int)c;
            }
            for (int k = 0; k < 32 && byte < 0; ++k) {
                if (Cp1252High[k] == c) {
                    byte = 0x80 + k;
                }
            }
        }
        if (byte >= 0) {
            PutByte(out, (unsigned char)byte);
        } else {
            Put(out, "&#");
            PutNumber(out, c);
            PutByte(out, ';');
        }
    }
}

// Text escaped for an XML attribute value or element content.
void PutEscaped(Buffer* b, const char* text) {
    for (const char* p = text; *p; ++p) {
        switch (*p) {
        case '&':
            Put(b, "&amp;");
            break;
        case '<':
            Put(b, "&lt;");
            break;
        case '>':
            Put(b, "&gt;");
            break;
        case '"':
            Put(b, "&quot;");
            break;
        default:
            PutByte(b, (unsigned char)*p);
        }
    }
}

// ---- References: xml:base, ASX's base, percent-encoding --------------------------------------

// "http:" or "file:", not a drive letter.
size_t SchemeLength(const char* s) {
    if (!((*s >= 'a' && *s <= 'z') || (*s >= 'A' && *s <= 'Z'))) {
        return 0;
    }
    size_t i = 1;
    while ((s[i] >= 'a' && s[i] <= 'z') || (s[i] >= 'A' && s[i] <= 'Z') ||
           (s[i] >= '0' && s[i] <= '9') || s[i] == '+' || s[i] == '-' || s[i] == '.') {
        ++i;
    }
    return s[i] == ':' && i >= 2 ? i + 1 : 0;
}

bool IsDrivePath(const char* s) {
    return ((*s >= 'a' && *s <= 'z') || (*s >= 'A' && *s <= 'Z')) && s[1] == ':' &&
           (s[2] == '/' || s[2] == '\\');
}

// The path of a merged reference without "." and ".." segments; ".." that would climb above a
// relative path's start stays, since it climbs above the playlist's folder.
void RemoveDots(const char* path, bool rooted, Buffer* out) {
    size_t start = out->Size;
    const char* p = path;
    while (*p) {
        const char* end = p;
        while (*end && *end != '/') {
            ++end;
        }
        size_t n = (size_t)(end - p);
        bool last = *end == 0;
        if (n == 1 && p[0] == '.') {
            // nothing
        } else if (n == 2 && p[0] == '.' && p[1] == '.') {
            // Drop the previous segment unless it is itself "..".
            size_t s = out->Size;
            while (s > start && out->Data[s - 1] == '/') {
                --s;
            }
            size_t segment = s;
            while (segment > start && out->Data[segment - 1] != '/') {
                --segment;
            }
            bool previousDots =
                s - segment == 2 && out->Data[segment] == '.' && out->Data[segment + 1] == '.';
            if (s > start && !previousDots) {
                out->Size = segment;
                out->Data[out->Size] = 0;
            } else if (!rooted) {
                Put(out, "../");
            }
        } else {
            Put(out, p, n);
            if (!last) {
                PutByte(out, '/');
            }
        }
        p = last ? end : end + 1;
    }
}

// A reference resolved against a base (itself resolved), as the URI rules merge them.
void Resolve(const char* base, const char* ref, Buffer* out) {
    if (!base || !*base || SchemeLength(ref) || IsDrivePath(ref) || ref[0] == '\\') {
        Put(out, ref);
        return;
    }
    size_t scheme = SchemeLength(base);
    size_t authorityEnd = scheme;
    if (scheme && base[scheme] == '/' && base[scheme + 1] == '/') {
        authorityEnd = scheme + 2;
        while (base[authorityEnd] && base[authorityEnd] != '/' && base[authorityEnd] != '?' &&
               base[authorityEnd] != '#') {
            ++authorityEnd;
        }
    }
    if (ref[0] == '/' && ref[1] == '/') {
        Put(out, base, scheme);
        Put(out, ref);
        return;
    }
    if (ref[0] == '/') {
        if (!scheme) {
            Put(out, ref);
            return;
        }
        Put(out, base, authorityEnd);
        Buffer path = {};
        RemoveDots(ref + 1, true, &path);
        PutByte(out, '/');
        Put(out, path.Data, path.Size);
        out->Failed |= path.Failed;
        Drop(&path);
        return;
    }
    // The base's path up to its last '/', then the reference.
    size_t baseEnd = authorityEnd;
    while (base[baseEnd] && base[baseEnd] != '?' && base[baseEnd] != '#') {
        ++baseEnd;
    }
    size_t lastSlash = baseEnd;
    while (lastSlash > authorityEnd && base[lastSlash - 1] != '/') {
        --lastSlash;
    }
    Buffer merged = {};
    bool rooted = lastSlash > authorityEnd && base[authorityEnd] == '/';
    Put(&merged, base + authorityEnd + (rooted ? 1 : 0),
        lastSlash - authorityEnd - (rooted ? 1 : 0));
    Put(&merged, ref);
    Put(out, base, authorityEnd);
    if (rooted) {
        PutByte(out, '/');
    }
    if (merged.Data) {
        RemoveDots(merged.Data, rooted || scheme, out);
    }
    out->Failed |= merged.Failed;
    Drop(&merged);
}

// A reference without a scheme names the file its percent-encoding decodes to; when decoding
// would give no valid UTF-8 (or a zero byte) it stays as written.
char* DecodedLocation(Buffer* resolved, bool* failed) {
    if (resolved->Failed) {
        *failed = true;
        Drop(resolved);
        return nullptr;
    }
    if (!resolved->Data || SchemeLength(resolved->Data)) {
        return Take(resolved, failed);
    }
    Buffer decoded = {};
    const char* s = resolved->Data;
    bool zero = false;
    for (size_t i = 0; i < resolved->Size; ++i) {
        int high, low;
        if (s[i] == '%' && i + 2 < resolved->Size &&
            (high = HexValue((unsigned char)s[i + 1])) >= 0 &&
            (low = HexValue((unsigned char)s[i + 2])) >= 0) {
            zero |= high == 0 && low == 0;
            PutByte(&decoded, (unsigned char)(high * 16 + low));
            i += 2;
        } else {
            PutByte(&decoded, (unsigned char)s[i]);
        }
    }
    if (decoded.Failed) {
        *failed = true;
    }
    if (zero || decoded.Failed || !ValidUtf8((const unsigned char*)decoded.Data, decoded.Size)) {
        Drop(&decoded);
        return Take(resolved, failed);
    }
    Drop(resolved);
    return Take(&decoded, failed);
}

// What a location's text names: trimmed, resolved against its base, decoded. Null when empty
// or when it holds a line break or another control character (a URI cut over lines).
char* LocationOf(const char* text, size_t n, const char* base, bool* failed) {
    while (n && IsXmlSpace((unsigned char)*text)) {
        ++text;
        --n;
    }
    while (n && IsXmlSpace((unsigned char)text[n - 1])) {
        --n;
    }
    if (n == 0 || n > MaxText) {
        return nullptr;
    }
    for (size_t i = 0; i < n; ++i) {
        if ((unsigned char)text[i] < 0x20) {
            return nullptr;
        }
    }
    char* ref = Copy(text, n, failed);
    if (!ref) {
        return nullptr;
    }
    Buffer resolved = {};
    Resolve(base, ref, &resolved);
    free(ref);
    if (resolved.Size > MaxText) {
        Drop(&resolved);
        return nullptr;
    }
    return DecodedLocation(&resolved, failed);
}

// ---- Which format --------------------------------------------------------------------------

bool UnitsAre(const Units& u, size_t pos, const char* ascii) {
    for (; *ascii; ++ascii, pos += u.Width) {
        if (pos + u.Width > u.Size || UnitAt(u, pos) != (unsigned char)*ascii) {
            return false;
        }
    }
    return true;
}

// The position past `ascii` from pos on, or the end of the text when it never comes.
size_t PastNext(const Units& u, size_t pos, const char* ascii, bool* found) {
    for (; pos + u.Width <= u.Size; pos += u.Width) {
        if (UnitsAre(u, pos, ascii)) {
            *found = true;
            return pos + strlen(ascii) * u.Width;
        }
    }
    *found = false;
    return u.Size;
}

// A name at pos, as ASCII (other characters as '?'), at most capacity - 1 of them.
size_t ReadName(const Units& u, size_t pos, char* name, size_t capacity) {
    size_t n = 0;
    while (pos + u.Width <= u.Size && IsNameChar(UnitAt(u, pos)) && n + 1 < capacity) {
        unsigned c = UnitAt(u, pos);
        name[n++] = c < 0x80 ? (char)c : '?';
        pos += u.Width;
    }
    name[n] = 0;
    return pos;
}

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

size_t SkipBlanks(const Units& u, size_t pos) {
    while (pos + u.Width <= u.Size && IsXmlSpace(UnitAt(u, pos))) {
        pos += u.Width;
    }
    return pos;
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

struct Span {
    size_t Start, End;
};

} // namespace

struct XmlLayout {
    const char* LineEnd;
    // Pack: [At, ReplaceEnd) is replaced by Before, the new entries, After.
    bool CanInsert;
    size_t At, ReplaceEnd;
    char* Before;
    char* After;
    char* Indent;      // before each new entry's first line
    char* ChildIndent; // before each line inside a new entry; null: all on one line
    bool OwnLines;     // each new entry ends its line
    char* EntryName;   // names as the neighbours write them
    char* ChildName;   // XSPF location, ASX ref
    char* HrefName;
    char* TitleName;
    char* AuthorName;
    const char* EmptyClose;
    bool WithTitle, WithCreator, WithDuration;
    // What a path relative to the playlist needs before it under the base where new entries
    // go ("../../" below xml:base="one/two/"); null when no relative reference can name it.
    char* RelativePrefix;
    // WPL: the ItemCount value.
    bool HasItemCount;
    Span ItemCount;
    // VLC's list: each vlc:item and its id; new tracks get ids from VlcNextId.
    Span* VlcItems;
    long long* VlcItemIds;
    size_t VlcItemCount;
    bool Vlc;
    long long VlcNextId;
    size_t VlcItemAt;
    char* VlcItemIndent;
    bool VlcItemOwnLines;
    char* VlcPrefix;
};

namespace {

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

char* TrimmedCopy(const char* text, size_t n, bool* failed) {
    while (n && IsXmlSpace((unsigned char)*text)) {
        ++text;
        --n;
    }
    while (n && IsXmlSpace((unsigned char)text[n - 1])) {
        --n;
    }
    return Copy(text, n, failed);
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

ElementKind XspfKind(Reader* r, ElementKind parent, const char* name, const XML_Char** atts) {
    const char* local = LocalName(name);
    const char* application = Attribute(atts, "application", nullptr);
    bool vlc = application && strcmp(application, VlcApplication) == 0;
    switch (parent) {
    case KRoot:
        if (strcmp(local, "trackList") == 0) {
            return KTrackList;
        }
        return strcmp(local, "extension") == 0 && vlc ? KVlcList : KOther;
    case KTrackList:
        if (strcmp(local, "track") == 0) {
            const char* base = r->Frames[r->Depth - 2].EffectiveBase;
            if (base || r->EntryParentBase) {
                free(r->EntryParentBase);
                r->EntryParentBase = base ? Copy(base, &r->Failed) : nullptr;
            }
            return NewEntry(r, r->Frames[r->Depth - 1].Start) ? KTrack : KOther;
        }
        return KOther;
    case KTrack:
        if (strcmp(local, "location") == 0 && !r->LocationSeen) {
            r->LocationSeen = true;
            return KLocation;
        }
        if (strcmp(local, "title") == 0) {
            r->LastTitle = true;
            return Current(r) && !Current(r)->Title ? KTitle : KOther;
        }
        if (strcmp(local, "creator") == 0) {
            r->LastCreator = true;
            return Current(r) && !Current(r)->Creator ? KCreator : KOther;
        }
        if (strcmp(local, "duration") == 0) {
            r->LastDuration = true;
            return KDuration;
        }
        return strcmp(local, "extension") == 0 && vlc ? KTrackExtension : KOther;
    case KTrackExtension:
        return strcmp(local, "id") == 0 ? KVlcId : KOther;
    case KVlcList:
    case KVlcNode:
        if (strcmp(local, "node") == 0) {
            return KVlcNode;
        }
        if (strcmp(local, "item") == 0 && Attribute(atts, "tid", nullptr)) {
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
                e->Location = LocationOf(src, strlen(src), nullptr, &r->Failed);
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
        if (strcmp(name, "repeat") == 0) {
            return KRepeat;
        }
        if (strcmp(name, "entry") == 0) {
            return NewEntry(r, r->Frames[r->Depth - 1].Start) ? KEntry : KOther;
        }
        if (strcmp(name, "entryref") == 0) {
            if (!NewEntry(r, r->Frames[r->Depth - 1].Start)) {
                return KOther;
            }
            r->Href = RawAttribute(r, atts, "href", nullptr);
            return KEntryRef;
        }
        if (strcmp(name, "base") == 0 && parent == KRoot && !r->AsxBase) {
            r->AsxBase = RawAttribute(r, atts, "href", nullptr);
        }
        return KOther;
    case KEntry:
        if (strcmp(name, "ref") == 0 && !r->Ref.Seen) {
            r->Ref.Seen = true;
            r->Ref.Start = r->Frames[r->Depth - 1].Start;
            r->Ref.TagEnd = r->Frames[r->Depth - 1].TagEnd;
            r->Href = RawAttribute(r, atts, "href", &r->HrefName);
            return KRef;
        }
        if (strcmp(name, "base") == 0 && !r->EntryBase) {
            r->EntryBase = RawAttribute(r, atts, "href", nullptr);
        }
        if (strcmp(name, "title") == 0) {
            r->LastTitle = true;
            r->TitleAt = r->Frames[r->Depth - 1].Start;
            return KTitle;
        }
        if (strcmp(name, "author") == 0) {
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

void XMLCALL StartElement(void* data, const XML_Char* name, const XML_Char** atts) {
    Reader* r = (Reader*)data;
    size_t start, tagEnd;
    if (r->Refused || !EventSpan(r, &start, &tagEnd)) {
        return;
    }
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
        bool mine = r->Format == FormatXspf  ? strcmp(local, "playlist") == 0
                    : r->Format == FormatWpl ? SameNoCase(local, "smil")
                                             : strcmp(name, "asx") == 0;
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

void XMLCALL EndElement(void* data, const XML_Char*) {
    Reader* r = (Reader*)data;
    size_t endTag, end;
    if (r->Refused || r->Depth == 0 || !EventSpan(r, &endTag, &end)) {
        return;
    }
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
            e->Location = LocationOf(text, r->Text.Size, f->EffectiveBase, &r->Failed);
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
                *field = TrimmedCopy(text, strlen(text), &r->Failed);
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
                e->Location = LocationOf(r->Href, strlen(r->Href), base, &r->Failed);
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
    free(f->Base);
    f->Base = nullptr;
    if (r->Failed) {
        OutOfMemory(r);
    }
}

void XMLCALL CharacterData(void* data, const XML_Char* text, int length) {
    Reader* r = (Reader*)data;
    if (!r->Collecting || length <= 0 || r->TextTooLong) {
        return;
    }
    if (r->Text.Size + (size_t)length > MaxText) {
        r->TextTooLong = true;
        return;
    }
    Put(&r->Text, text, (size_t)length);
    if (r->Text.Failed) {
        OutOfMemory(r);
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

char* RelativePrefixUnder(const char* base, bool* failed) {
    if (!base || !*base) {
        return Copy("", failed);
    }
    if (SchemeLength(base) || IsDrivePath(base) || base[0] == '/' || base[0] == '\\') {
        return nullptr;
    }
    const char* slash = strrchr(base, '/');
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
    for (size_t i = 0; i < clean.Size && !climbs; ++i) {
        if (clean.Data[i] == '/') {
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
    memset(&r, 0, sizeof r);
    r.Format = format;
    r.U = MakeUnits(bytes, size, detected.Encoding, detected.Begin);
    r.MaxVlcId = -1;
    unsigned char* copy = nullptr;
    if (format == FormatAsx && !(copy = NormalisedAsx(r.U))) {
        return false;
    }
    r.Parser = XML_ParserCreate(detected.ForExpat);
    if (!r.Parser) {
        free(copy);
        return false;
    }
    XML_SetUserData(r.Parser, &r);
    XML_SetElementHandler(r.Parser, StartElement, EndElement);
    XML_SetCharacterDataHandler(r.Parser, CharacterData);
    XML_SetEntityDeclHandler(r.Parser, EntityDeclaration);
    XML_SetSkippedEntityHandler(r.Parser, SkippedEntity);
    XML_SetUnknownEncodingHandler(r.Parser, UnknownEncoding, nullptr);
    // Expat takes an int's worth at a time.
    const unsigned char* data = copy ? copy : bytes;
    const size_t chunk = 1u << 30;
    bool parsed = true;
    size_t done = 0;
    do {
        size_t n = size - done < chunk ? size - done : chunk;
        parsed = XML_Parse(r.Parser, (const char*)data + done, (int)n,
                           done + n == size ? XML_TRUE : XML_FALSE) == XML_STATUS_OK;
        done += n;
    } while (parsed && done < size);
    XML_ParserFree(r.Parser);
    free(copy);
    for (size_t i = 0; i < r.Depth; ++i) {
        free(r.Frames[i].Base);
    }
    free(r.Frames);
    free(r.Href);
    free(r.EntryBase);
    Drop(&r.Text);
    playlist->Entries = r.Entries;
    playlist->Count = r.Count;
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
    for (size_t i = 0; i < playlist->Count; ++i) {
        free(playlist->Entries[i].Location);
        free(playlist->Entries[i].Title);
        free(playlist->Entries[i].Creator);
    }
    free(playlist->Entries);
    FreeLayout(playlist->Layout);
    memset(playlist, 0, sizeof *playlist);
    playlist->Format = FormatUnknown;
}

namespace {

// ---- Writing ---------------------------------------------------------------------------------

struct Edit {
    size_t Start, End; // replaced by Text
    const char* Text;
    size_t Length;
};

int CompareEdits(const void* a, const void* b) {
    const Edit* x = (const Edit*)a;
    const Edit* y = (const Edit*)b;
    return x->Start < y->Start ? -1 : x->Start > y->Start ? 1 : 0;
}

bool WriteEdits(const unsigned char* bytes, size_t size, Edit* edits, size_t count,
                const XmlSink* sink) {
    qsort(edits, count, sizeof *edits, CompareEdits);
    size_t pos = 0;
    for (size_t i = 0; i < count; ++i) {
        if (edits[i].Start < pos || edits[i].End < edits[i].Start || edits[i].End > size) {
            return false;
        }
        if ((edits[i].Start > pos &&
             !sink->Write(sink->Context, bytes + pos, edits[i].Start - pos)) ||
            (edits[i].Length && !sink->Write(sink->Context, edits[i].Text, edits[i].Length))) {
            return false;
        }
        pos = edits[i].End;
    }
    return pos == size || sink->Write(sink->Context, bytes + pos, size - pos);
}

bool IsUnreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

bool IsAbsolutePath(const char* path) {
    return IsDrivePath(path) || path[0] == '/' || path[0] == '\\';
}

// A path as XSPF writes it: a percent-encoded relative reference, or a file:/// URI.
void PutUri(Buffer* b, const char* path) {
    bool drive = IsDrivePath(path);
    bool share = path[0] == '\\' && path[1] == '\\';
    bool windows = drive || share;
    if (drive) {
        Put(b, "file:///");
    } else if (share) {
        Put(b, "file:");
    } else if (path[0] == '/') {
        Put(b, "file://");
    }
    static const char hex[] = "0123456789ABCDEF";
    for (size_t i = 0; path[i]; ++i) {
        unsigned char c = (unsigned char)path[i];
        if (c == '\\' && windows) {
            c = '/';
        }
        if (IsUnreserved(c) || c == '/' || (drive && i == 1)) {
            PutByte(b, c);
        } else {
            char escaped[3] = {'%', hex[c >> 4], hex[c & 15]};
            Put(b, escaped, 3);
        }
    }
}

void PutElement(Buffer* b, const char* name, const char* escapedText, const char* text) {
    PutByte(b, '<');
    Put(b, name);
    PutByte(b, '>');
    Put(b, escapedText);
    if (text) {
        PutEscaped(b, text);
    }
    Put(b, "</");
    Put(b, name);
    PutByte(b, '>');
}

// One new entry as UTF-8, in its neighbours' form.
void PutEntry(const XmlLayout* l, PlaylistFormat format, const XmlNewEntry* entry, long long vlcId,
              Buffer* b) {
    Put(b, l->Indent);
    if (format == FormatWpl) {
        Buffer path = {};
        Put(&path, entry->Path);
        for (size_t i = 0; i < path.Size; ++i) {
            if (path.Data[i] == '/') {
                path.Data[i] = '\\';
            }
        }
        PutByte(b, '<');
        Put(b, l->EntryName);
        Put(b, " src=\"");
        PutEscaped(b, path.Data ? path.Data : "");
        PutByte(b, '"');
        Put(b, l->EmptyClose);
        b->Failed |= path.Failed;
        Drop(&path);
    } else {
        // Children on lines of their own, as the neighbours have them, or all on one line.
        Buffer line = {}, deeper = {};
        if (l->ChildIndent) {
            Put(&line, l->LineEnd);
            Put(&line, l->ChildIndent);
            Put(&deeper, line.Data);
            size_t indent = strlen(l->Indent ? l->Indent : "");
            size_t child = strlen(l->ChildIndent);
            Put(&deeper, child > indent ? l->ChildIndent + indent : "  ");
        }
        const char* sep = line.Data ? line.Data : "";
        PutByte(b, '<');
        Put(b, l->EntryName);
        PutByte(b, '>');
        Put(b, sep);
        if (format == FormatXspf) {
            Buffer uri = {};
            if (!IsAbsolutePath(entry->Path)) {
                Put(&uri, l->RelativePrefix);
            }
            PutUri(&uri, entry->Path);
            PutElement(b, l->ChildName, nullptr, uri.Data ? uri.Data : "");
            b->Failed |= uri.Failed;
            Drop(&uri);
        } else {
            PutByte(b, '<');
            Put(b, l->ChildName);
            PutByte(b, ' ');
            Put(b, l->HrefName);
            Put(b, "=\"");
            if (!IsAbsolutePath(entry->Path)) {
                PutEscaped(b, l->RelativePrefix);
            }
            PutEscaped(b, entry->Path);
            PutByte(b, '"');
            Put(b, l->EmptyClose);
        }
        if (l->WithTitle && entry->Title) {
            Put(b, sep);
            PutElement(b, l->TitleName, nullptr, entry->Title);
        }
        if (l->WithCreator && entry->Creator) {
            Put(b, sep);
            PutElement(b, l->AuthorName, nullptr, entry->Creator);
        }
        if (format == FormatXspf && l->WithDuration && entry->DurationMs >= 0) {
            Buffer number = {};
            PutNumber(&number, (unsigned long long)entry->DurationMs);
            Put(b, sep);
            const char* local = LocalName(l->EntryName);
            Buffer name = {};
            Put(&name, l->EntryName, (size_t)(local - l->EntryName));
            Put(&name, "duration");
            PutElement(b, name.Data, number.Data, nullptr);
            b->Failed |= number.Failed || name.Failed;
            Drop(&number);
            Drop(&name);
        }
        if (vlcId >= 0) {
            Buffer id = {}, name = {};
            PutNumber(&id, (unsigned long long)vlcId);
            Put(&name, l->VlcPrefix);
            Put(&name, ":id");
            Put(b, sep);
            Put(b, "<extension application=\"");
            Put(b, VlcApplication);
            Put(b, "\">");
            Put(b, deeper.Data);
            PutElement(b, name.Data, id.Data, nullptr);
            Put(b, sep);
            Put(b, "</extension>");
            b->Failed |= id.Failed || name.Failed;
            Drop(&id);
            Drop(&name);
        }
        if (l->ChildIndent) {
            Put(b, l->LineEnd);
            Put(b, l->Indent);
        }
        Put(b, "</");
        Put(b, l->EntryName);
        PutByte(b, '>');
        b->Failed |= line.Failed || deeper.Failed;
        Drop(&line);
        Drop(&deeper);
    }
    if (l->OwnLines) {
        Put(b, l->LineEnd);
    }
}

bool WriteNewFile(PlaylistFormat format, const XmlNewEntry* entries, size_t count,
                  const XmlSink* sink) {
    XmlLayout l;
    memset(&l, 0, sizeof l);
    l.OwnLines = true;
    l.EmptyClose = "/>";
    l.WithTitle = l.WithCreator = l.WithDuration = true;
    Buffer b = {};
    if (format == FormatXspf) {
        l.LineEnd = "\n";
        l.Indent = (char*)"    ";
        l.ChildIndent = (char*)"      ";
        l.EntryName = (char*)"track";
        l.ChildName = (char*)"location";
        l.TitleName = (char*)"title";
        l.AuthorName = (char*)"creator";
        Put(&b, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\">\n"
                "  <trackList>\n");
    } else if (format == FormatWpl) {
        l.LineEnd = "\r\n";
        l.Indent = (char*)"            ";
        l.EntryName = (char*)"media";
        Put(&b, "<?wpl version=\"1.0\"?>\r\n<smil>\r\n    <head>\r\n"
                "        <meta name=\"ItemCount\" content=\"");
        PutNumber(&b, count);
        Put(&b, "\"/>\r\n    </head>\r\n    <body>\r\n        <seq>\r\n");
    } else if (format == FormatAsx) {
        l.LineEnd = "\r\n";
        l.Indent = (char*)"  ";
        l.ChildIndent = (char*)"    ";
        l.EntryName = (char*)"entry";
        l.ChildName = (char*)"ref";
        l.HrefName = (char*)"href";
        l.TitleName = (char*)"title";
        l.AuthorName = (char*)"author";
        Put(&b, "<asx version=\"3.0\">\r\n");
    } else {
        return false;
    }
    l.RelativePrefix = (char*)"";
    for (size_t i = 0; i < count; ++i) {
        if (!entries[i].Path) {
            Drop(&b);
            return false;
        }
        PutEntry(&l, format, &entries[i], -1, &b);
    }
    Put(&b, format == FormatXspf  ? "  </trackList>\n</playlist>\n"
            : format == FormatWpl ? "        </seq>\r\n    </body>\r\n</smil>\r\n"
                                  : "</asx>\r\n");
    bool ok = !b.Failed && sink->Write(sink->Context, b.Data, b.Size);
    Drop(&b);
    return ok;
}

int CompareIds(const void* a, const void* b) {
    long long x = *(const long long*)a, y = *(const long long*)b;
    return x < y ? -1 : x > y ? 1 : 0;
}

bool HasId(const long long* ids, size_t count, long long id) {
    return bsearch(&id, ids, count, sizeof id, CompareIds) != nullptr;
}

} // namespace

bool WriteXmlWithout(const XmlPlaylist* playlist, const unsigned char* bytes, size_t size,
                     const bool* remove, const XmlSink* sink) {
    if (!playlist || !playlist->Whole || !playlist->Layout || !sink ||
        (!remove && playlist->Count)) {
        return false;
    }
    const XmlLayout* l = playlist->Layout;
    size_t removed = 0;
    for (size_t i = 0; i < playlist->Count; ++i) {
        removed += remove[i] ? 1 : 0;
    }
    // The ids of the tracks that go and of those that stay: a vlc:item goes when its id goes
    // and no track that stays has it.
    long long* gone = (long long*)malloc((removed + 1) * sizeof(long long));
    long long* kept = (long long*)malloc((playlist->Count - removed + 1) * sizeof(long long));
    Edit* edits = (Edit*)malloc((removed + l->VlcItemCount + 1) * sizeof(Edit));
    Buffer count = {};
    bool ok = gone && kept && edits;
    size_t goneCount = 0, keptCount = 0, editCount = 0;
    for (size_t i = 0; ok && i < playlist->Count; ++i) {
        const XmlEntry& e = playlist->Entries[i];
        if (remove[i]) {
            edits[editCount++] = {e.Start, e.End, nullptr, 0};
            gone[goneCount++] = e.VlcId;
        } else {
            kept[keptCount++] = e.VlcId;
        }
    }
    if (ok) {
        qsort(gone, goneCount, sizeof *gone, CompareIds);
        qsort(kept, keptCount, sizeof *kept, CompareIds);
        for (size_t i = 0; i < l->VlcItemCount; ++i) {
            long long id = l->VlcItemIds[i];
            if (id >= 0 && HasId(gone, goneCount, id) && !HasId(kept, keptCount, id)) {
                edits[editCount++] = {l->VlcItems[i].Start, l->VlcItems[i].End, nullptr, 0};
            }
        }
        if (l->HasItemCount && removed) {
            Buffer digits = {};
            PutNumber(&digits, playlist->Count - removed);
            Encode(digits.Data, digits.Size, playlist->Encoding, &count);
            ok = !digits.Failed && !count.Failed;
            Drop(&digits);
            edits[editCount++] = {l->ItemCount.Start, l->ItemCount.End, count.Data, count.Size};
        }
    }
    ok = ok && WriteEdits(bytes, size, edits, editCount, sink);
    free(gone);
    free(kept);
    free(edits);
    Drop(&count);
    return ok;
}

bool WriteXmlWith(const XmlPlaylist* playlist, PlaylistFormat format, const unsigned char* bytes,
                  size_t size, const XmlNewEntry* entries, size_t count, const XmlSink* sink) {
    if (!sink) {
        return false;
    }
    if (size == 0) {
        return WriteNewFile(format, entries, count, sink);
    }
    if (!playlist || !playlist->Whole || !playlist->Layout || !playlist->Layout->CanInsert ||
        playlist->Format != format) {
        return false;
    }
    if (count == 0) {
        return sink->Write(sink->Context, bytes, size);
    }
    const XmlLayout* l = playlist->Layout;
    for (size_t i = 0; i < count; ++i) {
        if (!entries[i].Path || (!l->RelativePrefix && !IsAbsolutePath(entries[i].Path))) {
            return false; // a base no relative reference climbs out of
        }
    }
    bool vlc = format == FormatXspf && l->Vlc;
    Buffer text = {}, items = {}, number = {};
    Put(&text, l->Before);
    for (size_t i = 0; i < count; ++i) {
        long long id = vlc ? l->VlcNextId + (long long)i : -1;
        PutEntry(l, format, &entries[i], id, &text);
        if (vlc) {
            Put(&items, l->VlcItemIndent);
            PutByte(&items, '<');
            Put(&items, l->VlcPrefix);
            Put(&items, ":item tid=\"");
            PutNumber(&items, (unsigned long long)id);
            Put(&items, "\"/>");
            if (l->VlcItemOwnLines) {
                Put(&items, l->LineEnd);
            }
        }
    }
    Put(&text, l->After);
    Buffer encodedText = {}, encodedItems = {}, encodedCount = {};
    Encode(text.Data, text.Size, playlist->Encoding, &encodedText);
    Encode(items.Data, items.Size, playlist->Encoding, &encodedItems);
    Edit edits[3];
    size_t editCount = 0;
    edits[editCount++] = {l->At, l->ReplaceEnd, encodedText.Data, encodedText.Size};
    if (vlc && count) {
        edits[editCount++] = {l->VlcItemAt, l->VlcItemAt, encodedItems.Data, encodedItems.Size};
    }
    if (l->HasItemCount && count) {
        PutNumber(&number, playlist->Count + count);
        Encode(number.Data, number.Size, playlist->Encoding, &encodedCount);
        edits[editCount++] = {l->ItemCount.Start, l->ItemCount.End, encodedCount.Data,
                              encodedCount.Size};
    }
    bool ok = !text.Failed && !items.Failed && !number.Failed && !encodedText.Failed &&
              !encodedItems.Failed && !encodedCount.Failed &&
              WriteEdits(bytes, size, edits, editCount, sink);
    Drop(&text);
    Drop(&items);
    Drop(&number);
    Drop(&encodedText);
    Drop(&encodedItems);
    Drop(&encodedCount);
    return ok;
}
