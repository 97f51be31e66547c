// Text helpers of the XML playlist module: growable buffers, the file's code units in its
// encoding, XML's references, and what a location names once xml:base and percent-encoding are
// applied.
#include <stdlib.h>
#include <string.h>

#include "formats/xml_internal.h"

struct XmlTexts {
    XmlTexts* Next;
    size_t Used, Size; // of the bytes that follow
};

namespace XmlInternal {

// ---- Growable text ---------------------------------------------------------------------------

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
    // Decoding only shortens the text: one reservation holds it.
    if (Reserve(&decoded, resolved->Size)) {
        for (size_t i = 0; i < resolved->Size; ++i) {
            int high, low;
            if (s[i] == '%' && i + 2 < resolved->Size &&
                (high = HexValue((unsigned char)s[i + 1])) >= 0 &&
                (low = HexValue((unsigned char)s[i + 2])) >= 0) {
                zero |= high == 0 && low == 0;
                decoded.Data[decoded.Size++] = (char)(high * 16 + low);
                i += 2;
            } else {
                decoded.Data[decoded.Size++] = s[i];
            }
        }
        decoded.Data[decoded.Size] = 0;
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

// What a reference names, resolved against its base and decoded, on the heap; the general way.
char* ResolvedLocation(const char* ref, size_t n, const char* base, bool* failed) {
    char* copy = Copy(ref, n, failed);
    if (!copy) {
        return nullptr;
    }
    Buffer resolved = {};
    Resolve(base, copy, &resolved);
    free(copy);
    if (resolved.Size > MaxText) {
        Drop(&resolved);
        return nullptr;
    }
    return DecodedLocation(&resolved, failed);
}

// What a location's text names: trimmed, resolved against its base, decoded. Null when empty
// or when it holds a line break or another control character (a URI cut over lines).
char* LocationOf(const char* text, size_t n, const char* base, XmlTexts** texts, bool* failed) {
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
    // Without a base or a percent sign, the text names itself (as ResolvedLocation finds).
    if ((!base || !*base) && !memchr(text, '%', n)) {
        return KeepText(texts, text, n, failed);
    }
    char* location = ResolvedLocation(text, n, base, failed);
    char* kept = location ? KeepText(texts, location, strlen(location), failed) : nullptr;
    free(location);
    return kept;
}

// ---- Texts kept together ---------------------------------------------------------------------

char* KeepText(XmlTexts** texts, const char* text, size_t n, bool* failed) {
    XmlTexts* chunk = *texts;
    if (!chunk || chunk->Size - chunk->Used < n + 1) {
        // Room for many entries' texts at once; a longer one gets a chunk of its own.
        const size_t room = 60 * 1024;
        size_t size = n + 1 > room ? n + 1 : room;
        chunk = (XmlTexts*)malloc(sizeof(XmlTexts) + size);
        if (!chunk) {
            *failed = true;
            return nullptr;
        }
        chunk->Used = 0;
        chunk->Size = size;
        chunk->Next = *texts;
        *texts = chunk;
    }
    char* kept = (char*)(chunk + 1) + chunk->Used;
    memcpy(kept, text, n);
    kept[n] = 0;
    chunk->Used += n + 1;
    return kept;
}

void FreeTexts(XmlTexts* texts) {
    while (texts) {
        XmlTexts* next = texts->Next;
        free(texts);
        texts = next;
    }
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

size_t SkipBlanks(const Units& u, size_t pos) {
    while (pos + u.Width <= u.Size && IsXmlSpace(UnitAt(u, pos))) {
        pos += u.Width;
    }
    return pos;
}

} // namespace XmlInternal
