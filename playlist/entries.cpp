// The rules that make a playlist line an entry, and give it its name.
#include "playlist/entries.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "path/path.h"
#include "platform/platform.h"
#include "playlist/playlist.h"
#include "text/text.h"

// How many leading bytes are ASCII other than zero, copied into `name` as units: eight at a time
// while a word holds neither a high bit nor a zero byte.
static size_t PlainAscii(const char* bytes, size_t length, char16_t* name) {
    const uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t w;
        memcpy(&w, bytes + i, 8);
        if (((w | ((w - ones) & ~w)) & highs) != 0) {
            break;
        }
        for (size_t k = 0; k < 8; ++k) {
            name[i + k] = static_cast<unsigned char>(bytes[i + k]);
        }
    }
    for (; i < length && bytes[i] != 0 && static_cast<unsigned char>(bytes[i]) < 0x80; ++i) {
        name[i] = static_cast<unsigned char>(bytes[i]);
    }
    return i;
}

// 8-bit text as UTF-16: UTF-8 when it is, else the legacy code page (Winamp and most Windows
// players write the ANSI code page). False when the name would not fit with a terminator.
static bool DecodeText(const char* bytes, size_t length, char16_t* name, size_t* units) {
    if (IsUtf8Text(bytes, length)) {
        const size_t room = (PathUnits - 1) * 2;
        size_t inCount = length, left = room;
        if (Utf8ToUtf16(bytes, inCount, name, left) != 0) {
            return false;
        }
        *units = (room - left) / 2;
        return true;
    }
    return LegacyTextToWide(bytes, length, name, PathUnits - 1, units);
}

static char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// Equal ignoring ASCII case; `lower` in lower case.
static bool SameAscii(const char* text, size_t length, const char* lower) {
    size_t n = strlen(lower);
    if (length != n) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        if (Lower(text[i]) != lower[i]) {
            return false;
        }
    }
    return true;
}

static bool IsFileUri(const char* bytes, size_t length) {
    return length >= 7 && Lower(bytes[0]) == 'f' && SameAscii(bytes, 7, "file://");
}

static int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = Lower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

static bool IsLetter(char c) {
    return Lower(c) >= 'a' && Lower(c) <= 'z';
}

// The path a file:// URI names, as VLC writes them: "file:///C:/a%20b.mp3" and
// "file://localhost/C:/a%20b.mp3" name C:\a b.mp3, "file://server/share/a.mp3" names
// \\server\share\a.mp3. Escapes become bytes, read as any 8-bit line is; a malformed escape, and
// %00, which no name can hold, stay as written.
static bool FileUriName(const char* uri, size_t length, char16_t* name, size_t* units) {
    const char* rest = uri + 7;
    size_t restLength = length - 7;
    size_t authority = 0;
    while (authority < restLength && rest[authority] != '/') {
        ++authority;
    }
    char path[LineBytes];
    size_t n = 0;
    const char* p = rest;
    size_t pn = restLength;
    if (authority == 0 || SameAscii(rest, authority, "localhost")) {
        p += authority;
        pn -= authority;
        // "/C:/x" is the drive path "C:/x".
        if (pn >= 3 && p[0] == '/' && IsLetter(p[1]) && p[2] == ':' && (pn == 3 || p[3] == '/')) {
            ++p;
            --pn;
        }
    } else {
        // A share keeps its backslashes on every system: it names another machine's file.
        path[n++] = '\\';
        path[n++] = '\\';
    }
    // "file://" is 7 bytes, the share's prefix 2: the decoded path fits where the line did.
    for (size_t i = 0; i < pn; ++i) {
        int high = p[i] == '%' && i + 2 < pn ? HexValue(p[i + 1]) : -1;
        int low = high >= 0 ? HexValue(p[i + 2]) : -1;
        if (low >= 0 && (high | low) != 0) {
            path[n++] = static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            path[n++] = p[i];
        }
    }
    if (!DecodeText(path, n, name, units)) {
        return false;
    }
    for (size_t i = 0; i < *units; ++i) {
        if (name[i] == u'/') {
            name[i] = EntrySeparator;
        }
    }
    return true;
}

// The entry's path as the line names it.
static size_t EntryPath(const char* bytes, size_t length, bool whole, TextEncoding encoding,
                        char16_t* name, bool m3uLine) {
    // The first piece of a long line is a fragment that names no file.
    if (!whole || (m3uLine && KindOfLine(bytes, length, encoding) != LinePath)) {
        return NotListed;
    }
    size_t units = 0;
    if (encoding == Text8Bit) {
        bool uri = IsFileUri(bytes, length);
        // Most names are plain ASCII, UTF-8 whose units are its bytes, with no zero to end them.
        if (!uri && length < PathUnits && PlainAscii(bytes, length, name) == length) {
            name[length] = 0;
            return length;
        }
        bool decoded = uri ? FileUriName(bytes, length, name, &units)
                           : DecodeText(bytes, length, name, &units);
        if (!decoded) {
            return NotListed;
        }
    } else {
        units = length / 2;
        if (length % 2 != 0 || units >= PathUnits) {
            return NotListed;
        }
        char scheme[7];
        for (size_t i = 0; i < units; ++i) {
            name[i] = static_cast<char16_t>(
                UnitAt(reinterpret_cast<const unsigned char*>(bytes) + 2 * i, encoding));
            if (i < 7) {
                scheme[i] = name[i] < 0x80 ? static_cast<char>(name[i]) : 0;
            }
        }
        if (IsFileUri(scheme, units < 7 ? units : 7)) {
            // Escapes stand for bytes, so the URI is read as the UTF-8 of its units.
            char utf8[3 * LineBytes];
            name[units] = 0;
            if (!ToUtf8(name, utf8, sizeof utf8) ||
                !FileUriName(utf8, strlen(utf8), name, &units)) {
                return NotListed;
            }
        }
    }
    name[units] = 0;
    // No name holds a zero unit: it ends the name, and an empty name lists nothing.
    units = WideLength(name);
    return units == 0 ? NotListed : units;
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

static bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A URL's scheme or a drive with its colon, "http:" or "C:": a letter, then letters, digits,
// '+', '-' or '.'.
static bool IsSchemePart(const char* s, size_t n) {
    if (n < 2 || s[n - 1] != ':' || !IsLetter(s[0])) {
        return false;
    }
    for (size_t i = 1; i + 1 < n; ++i) {
        if (!IsLetter(s[i]) && !IsDigit(s[i]) && s[i] != '+' && s[i] != '-' && s[i] != '.') {
            return false;
        }
    }
    return true;
}

// The length of a device name that Windows sees in a part before its first dot and any spaces
// ahead of that dot ("nul", "COM1 .mp3", "LPT1.txt"), or 0.
static size_t DeviceStem(const char* s, size_t n) {
    // Most parts are told apart by their first letter, or by a long stem.
    char first = Lower(s[0]);
    if (first != 'c' && first != 'p' && first != 'a' && first != 'n' && first != 'l') {
        return 0;
    }
    size_t stem = 0;
    for (; stem < n && s[stem] != '.'; ++stem) {
        if (stem >= 7 && s[stem] != ' ') {
            return 0;
        }
    }
    while (stem > 0 && s[stem - 1] == ' ') {
        --stem;
    }
    static const char* const plain[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* name : plain) {
        if (SameAscii(s, stem, name)) {
            return stem;
        }
    }
    if (stem < 4 || !(SameAscii(s, 3, "com") || SameAscii(s, 3, "lpt"))) {
        return 0;
    }
    // A digit, or the superscripts one to three, which Windows counts as digits here.
    bool digit = stem == 4 && IsDigit(s[3]);
    bool superscript =
        stem == 5 && s[3] == '\xC2' && (s[4] == '\xB9' || s[4] == '\xB2' || s[4] == '\xB3');
    return digit || superscript ? stem : 0;
}

static bool IsForbiddenInName(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' ||
           c == '|' || c == '?' || c == '*';
}

// A part of a listed name as one Windows can create.
static void AppendWindowsPart(char* out, size_t size, size_t* pos, const char* s, size_t n) {
    if (IsSchemePart(s, n)) {
        // A drive in capitals, as Windows shows it: "c:" and "C:" are one drive.
        char drive = n == 2 && s[0] >= 'a' ? static_cast<char>(s[0] - 32) : s[0];
        Append(out, size, pos, "(", 1);
        Append(out, size, pos, &drive, 1);
        Append(out, size, pos, s + 1, n - 2);
        Append(out, size, pos, ")", 1);
        return;
    }
    // Windows drops trailing dots and spaces when it opens a path, so the name is the file's.
    while (n > 0 && (s[n - 1] == '.' || s[n - 1] == ' ')) {
        --n;
    }
    if (n == 0) {
        Append(out, size, pos, "_", 1);
        return;
    }
    size_t stem = DeviceStem(s, n);
    for (size_t i = 0; i < n; ++i) {
        Append(out, size, pos, IsForbiddenInName(s[i]) ? "_" : s + i, 1);
        if (i + 1 == stem) {
            Append(out, size, pos, "_", 1);
        }
    }
}

static void AppendPart(char* out, size_t size, size_t* pos, const char* s, size_t n,
                       const NameStyle& style) {
    if (*pos > 0) {
        Append(out, size, pos, &style.Separator, 1);
    }
    if (style.WindowsParts) {
        AppendWindowsPart(out, size, pos, s, n);
    } else {
        Append(out, size, pos, s, n);
    }
}

// The first folder that stands for the root `path` begins with (`root` bytes).
static void AppendRootMarker(char* out, size_t size, size_t* pos, const char* path, size_t root,
                             const NameStyle& style) {
    if (root == 1) {
        Append(out, size, pos, style.Root, strlen(style.Root));
        return;
    }
    size_t end = root;
    while (end > 0 && IsSeparator(path[end - 1])) {
        --end;
    }
    bool twoSeparators = IsSeparator(path[0]) && IsSeparator(path[1]);
    if (!style.Share) {
        // The root itself with backslashes, which no part of such a name can hold, so it never
        // meets a real folder's name.
        Append(out, size, pos, "(", 1);
        for (size_t i = 0; i < end; ++i) {
            Append(out, size, pos, IsSeparator(path[i]) ? "\\" : path + i, 1);
        }
        Append(out, size, pos, ")", 1);
    } else if (!twoSeparators) {
        AppendPart(out, size, pos, path, end, style);
    } else if (root == 4 && (path[2] == '?' || path[2] == '.')) {
        Append(out, size, pos, style.Device, strlen(style.Device));
    } else {
        // The server and the share become folders below the marker.
        Append(out, size, pos, style.Share, strlen(style.Share));
        size_t i = 2;
        while (i < end) {
            size_t from = i;
            while (i < end && !IsSeparator(path[i])) {
                ++i;
            }
            AppendPart(out, size, pos, path + from, i - from, style);
            while (i < end && IsSeparator(path[i])) {
                ++i;
            }
        }
    }
}

size_t TreePath(const char* path, char* out, size_t size, const NameStyle& style) {
    // Entry lines may come from Windows, so its roots count everywhere.
    const PathStyle& roots = style.SlashRootsPosix && path[0] == '/' ? PosixPaths : WindowsPaths;
    size_t root = PathRootLength(path, roots);
    bool rooted = root > 0 && IsSeparator(path[root - 1]);
    size_t pos = 0;
    if (root > 0) {
        AppendRootMarker(out, size, &pos, path, root, style);
    }
    PathCursor c;
    if (OpenCursor(&c, path, roots) && SkipToEffective(&c, rooted)) {
        do {
            // Only a step up that nothing cancels is left; it would read as the host's own "..".
            if (ClassifySegment(&c) == SegmentDotDot) {
                if (pos > 0) {
                    Append(out, size, &pos, &style.Separator, 1);
                }
                Append(out, size, &pos, style.Up, strlen(style.Up));
            } else {
                AppendPart(out, size, &pos, c.SegStart, c.SegLength, style);
            }
        } while (NextSegment(&c) && SkipToEffective(&c, rooted));
    }
    if (size > 0) {
        out[pos < size ? pos : size - 1] = 0;
    }
    return pos;
}

// Whether a path already is its own name: parts between the style's separators that are
// neither empty nor end in a dot (as "." and ".." do), and nothing the style changes. Most
// lines are such names, and need no UTF-8 on their way.
static bool ShownAsItIs(const char16_t* path, size_t units, const NameStyle& style) {
    // The ASCII units that may change, as bits: both slashes and ':' everywhere; for Windows
    // parts control characters and < > " | ? * too.
    const uint64_t bit = 1;
    uint64_t low = bit << '/' | bit << ':', high = bit << ('\\' - 64);
    if (style.WindowsParts) {
        low |= 0xFFFFFFFFu | bit << '<' | bit << '>' | bit << '"' | bit << '?' | bit << '*';
        high |= bit << ('|' - 64);
    }
    size_t from = 0;
    for (size_t i = 0; i <= units; ++i) {
        char16_t c = i < units ? path[i] : style.Separator;
        if (c == style.Separator) {
            if (i == from || path[i - 1] == u'.') {
                return false;
            }
            if (style.WindowsParts && path[i - 1] == u' ') {
                return false;
            }
            // Nine units decide whether a part holds a device name, whose stem is at most seven
            // long; a superscript digit counts as a digit. Only five first letters begin one.
            char16_t first = path[from] | 0x20;
            if (style.WindowsParts && (first == u'c' || first == u'p' || first == u'a' ||
                                       first == u'n' || first == u'l')) {
                char head[9];
                size_t n = 0;
                for (; n < sizeof head && from + n < i; ++n) {
                    char16_t u = path[from + n];
                    bool super = u == 0xB9 || u == 0xB2 || u == 0xB3;
                    head[n] = u < 0x80 ? static_cast<char>(u) : super ? '1' : 'x';
                }
                if (DeviceStem(head, n) != 0) {
                    return false;
                }
            }
            from = i + 1;
        } else if (c < 0x80 && ((c < 64 ? low >> c : high >> (c - 64)) & 1) != 0) {
            return false;
        }
    }
    return true;
}

// The path as the host shows it, through its UTF-8 form unless it needs no change.
static size_t TreeName(const char16_t* path, size_t units, char16_t* name) {
    if (ShownAsItIs(path, units, HostNames)) {
        if (name != path) {
            memcpy(name, path, (units + 1) * sizeof(char16_t));
        }
        return units;
    }
    // Three bytes of UTF-8 at most per unit; a shown name that needs more has no room either.
    char utf8[3 * PathUnits];
    char tree[3 * PathUnits];
    if (!ToUtf8(path, utf8, sizeof utf8) || TreePath(utf8, tree, sizeof tree) >= sizeof tree) {
        return NotListed;
    }
    size_t inCount = strlen(tree) + 1;
    size_t room = PathUnits * sizeof(char16_t);
    if (Utf8ToUtf16(tree, inCount, name, room) != 0) {
        return NotListed;
    }
    size_t shown = WideLength(name);
    return shown == 0 ? NotListed : shown;
}

// What each byte is to a plain line's name under a style: a separator, a byte that needs the
// general way (one ShownAsItIs or PlainAscii refuses: zero, non-ASCII, either slash, ':', and
// for Windows parts control characters and < > " | ? *), a byte that may end a part only by
// the general way ('.', and ' ' for Windows parts), or an ordinary one.
enum ByteRole : unsigned char { Ordinary, Separates, Refused, EndsNoPart };
struct ByteRoles {
    ByteRole Of[256];
};

static constexpr ByteRoles RolesFor(const NameStyle& style) {
    ByteRoles roles = {};
    for (unsigned c = 0; c < 256; ++c) {
        bool refused = c == 0 || c >= 0x80 || c == ':';
        if (style.WindowsParts) {
            refused = refused || c < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' ||
                      c == '?' || c == '*';
        }
        bool endsNoPart = c == '.' || (style.WindowsParts && c == ' ');
        // Both slashes separate parts, as TreePath reads them; the name shows the style's.
        roles.Of[c] = c == '/' || c == '\\' ? Separates
                      : refused             ? Refused
                      : endsNoPart          ? EndsNoPart
                                            : Ordinary;
    }
    return roles;
}
static constexpr ByteRoles HostRoles = RolesFor(HostNames);

// Whether a part of a plain line may hold a device name, as ShownAsItIs decides it.
static bool PlainDevicePart(const char* part, size_t n) {
    char first = static_cast<char>(part[0] | 0x20);
    if (first != 'c' && first != 'p' && first != 'a' && first != 'n' && first != 'l') {
        return false;
    }
    return DeviceStem(part, n < 9 ? n : 9) != 0;
}

// One byte of a plain line that may matter: true when the line may still be plain. A separator
// ends a part, which must not be empty, end in a dot (or a space, for Windows parts) or hold a
// device name; `from` is where the part began. `foreign` learns of a slash that is not the
// style's own, which the name shows as the style's.
static inline bool PlainByte(const char* bytes, size_t i, size_t* from, bool* foreign) {
    ByteRole role = HostRoles.Of[static_cast<unsigned char>(bytes[i])];
    if (role == Ordinary || role == EndsNoPart) {
        return true;
    }
    if (role == Refused || i == *from ||
        HostRoles.Of[static_cast<unsigned char>(bytes[i - 1])] == EndsNoPart ||
        (HostNames.WindowsParts && PlainDevicePart(bytes + *from, i - *from))) {
        return false;
    }
    *foreign = *foreign || bytes[i] != HostNames.Separator;
    *from = i + 1;
    return true;
}

#if defined(__SSE2__)
// The bytes that sixteen at a time are looked at one by one: a superset of those that separate
// or are refused (as the static_assert below checks). Everything else is ordinary, or matters
// only where a separator looks back at it.
static constexpr char SeenAlways[] = {'/', '\\', ':'};
static constexpr char SeenForWindows[] = {'"', '*', '<', '>', '?', '|'};
static constexpr bool SeenOneByOne(unsigned char c) {
    // Below 0x20 for Windows parts, below 1 otherwise, compared as signed bytes: bytes from 0x80
    // on count as negative and are always seen.
    int below = HostNames.WindowsParts ? 0x20 : 1;
    bool seen = c >= 0x80 || c < below;
    for (char s : SeenAlways) {
        seen = seen || c == static_cast<unsigned char>(s);
    }
    for (char s : SeenForWindows) {
        seen = seen || (HostNames.WindowsParts && c == static_cast<unsigned char>(s));
    }
    return seen;
}
static constexpr bool SeenCoversRoles() {
    for (unsigned c = 0; c < 256; ++c) {
        ByteRole role = HostRoles.Of[c];
        if ((role == Separates || role == Refused) &&
            !SeenOneByOne(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}
static_assert(SeenCoversRoles(), "every separator and refused byte is looked at");

static inline unsigned SeenMask(__m128i v) {
    __m128i seen = _mm_cmplt_epi8(v, _mm_set1_epi8(HostNames.WindowsParts ? 0x20 : 1));
    for (char s : SeenAlways) {
        seen = _mm_or_si128(seen, _mm_cmpeq_epi8(v, _mm_set1_epi8(s)));
    }
    if (HostNames.WindowsParts) {
        for (char s : SeenForWindows) {
            seen = _mm_or_si128(seen, _mm_cmpeq_epi8(v, _mm_set1_epi8(s)));
        }
    }
    return static_cast<unsigned>(_mm_movemask_epi8(seen));
}
#endif

// Nearly every path line: 8-bit ASCII whose name is itself, once a slash that is not the
// style's own (`foreign`) reads as the style's. Checked and widened in one pass; false when the
// line needs the general way, which then decides alone. Gives what EntryPath gives such a line,
// and TreeName once the slashes are the style's, as a test compares.
static bool PlainLineName(const char* bytes, size_t length, bool m3uLine, char16_t* text,
                          bool* foreign) {
    if (length == 0 || length >= PathUnits ||
        (m3uLine && (bytes[0] == '#' || bytes[0] == ' ' || bytes[0] == '\t'))) {
        return false;
    }
    size_t from = 0, i = 0;
#if defined(__SSE2__)
    // Sixteen bytes a step: widened at once, and only the bytes that may matter looked at.
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= length; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(text + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(text + i + 8), _mm_unpackhi_epi8(v, zero));
        for (unsigned seen = SeenMask(v); seen != 0; seen &= seen - 1) {
            if (!PlainByte(bytes, i + static_cast<size_t>(__builtin_ctz(seen)), &from, foreign)) {
                return false;
            }
        }
    }
#endif
    for (; i < length; ++i) {
        text[i] = static_cast<unsigned char>(bytes[i]);
        if (!PlainByte(bytes, i, &from, foreign)) {
            return false;
        }
    }
    if (from == length ||
        HostRoles.Of[static_cast<unsigned char>(bytes[length - 1])] == EndsNoPart ||
        (HostNames.WindowsParts && PlainDevicePart(bytes + from, length - from))) {
        return false;
    }
    text[length] = 0;
    return true;
}

static size_t NameOf(const char* bytes, size_t length, bool whole, TextEncoding encoding,
                     char16_t* name, char16_t* path, size_t* pathUnits, bool m3uLine,
                     bool fast = true) {
    // Without room for the path the name is worked out where it lies.
    char16_t* text = path ? path : name;
    bool foreign = false;
    if (fast && whole && encoding == Text8Bit &&
        PlainLineName(bytes, length, m3uLine, text, &foreign)) {
        if (pathUnits) {
            *pathUnits = length;
        }
        if (foreign) {
            const char16_t own = static_cast<char16_t>(HostNames.Separator);
            for (size_t i = 0; i <= length; ++i) {
                name[i] = IsNameSeparator(text[i]) ? own : text[i];
            }
        } else if (text != name) {
            memcpy(name, text, (length + 1) * sizeof(char16_t));
        }
        return length;
    }
    size_t units = EntryPath(bytes, length, whole, encoding, text, m3uLine);
    if (units == NotListed) {
        return NotListed;
    }
    if (pathUnits) {
        *pathUnits = units;
    }
    return TreeName(text, units, name);
}

size_t ListedName(const char* bytes, size_t length, bool whole, TextEncoding encoding,
                  char16_t* name, char16_t* path, size_t* pathUnits) {
    return NameOf(bytes, length, whole, encoding, name, path, pathUnits, true);
}

size_t LocationName(const char* bytes, size_t length, bool whole, TextEncoding encoding,
                    char16_t* name, char16_t* path, size_t* pathUnits) {
    // Only a line's first character makes it a directive; a location is a location whatever
    // it begins with. An empty one names nothing.
    if (length == 0) {
        return NotListed;
    }
    return NameOf(bytes, length, whole, encoding, name, path, pathUnits, false);
}

#if defined(M3U_FAULT_INJECTION)
size_t GeneralNameForTests(const char* bytes, size_t length, bool whole, TextEncoding encoding,
                           char16_t* name, bool m3uLine, char16_t* path, size_t* pathUnits) {
    if (!m3uLine && length == 0) {
        return NotListed;
    }
    return NameOf(bytes, length, whole, encoding, name, path, pathUnits, m3uLine, false);
}
#endif

bool IsFolderName(const char16_t* name, size_t units) {
    return units > 4 && name[units - 3] == u'*' && name[units - 2] == u'.' &&
           name[units - 1] == u'*' && IsNameSeparator(name[units - 4]);
}

bool NameMatches(const char16_t* listed, size_t units, const char16_t* wanted, size_t wantedUnits) {
    if (units == wantedUnits && memcmp(listed, wanted, units * sizeof(char16_t)) == 0) {
        return true;
    }
    if (IsFolderName(wanted, wantedUnits)) {
        size_t folder = wantedUnits - 4;
        return units > folder && memcmp(listed, wanted, folder * sizeof(char16_t)) == 0 &&
               IsNameSeparator(listed[folder]);
    }
    return false;
}

// A full path already, by the host's rules; only its first three units decide.
static bool IsAbsoluteEntry(const char16_t* name) {
    char head[4] = {};
    for (size_t i = 0; i < 3 && name[i]; ++i) {
        head[i] = name[i] < 0x80 ? static_cast<char>(name[i]) : 'x';
    }
    return IsFullPath(head);
}

bool JoinEntryPath(const char16_t* dir, const char16_t* name, size_t units, char16_t* path) {
    // Without drive roots a share ("\\server\share\...") is no path here: read with slashes
    // it would name a local file that the line never meant.
    if (!HostPaths.DriveRoots && name[0] == u'\\' && name[1] == u'\\') {
        path[0] = 0;
        return false;
    }
    size_t dirLength = 0;
    if (!IsAbsoluteEntry(name)) {
        dirLength = WideLength(dir);
        if (dirLength + 1 + units + 1 > PathUnits) {
            path[0] = 0;
            return false;
        }
        memcpy(path, dir, dirLength * sizeof(char16_t));
        path[dirLength++] = EntrySeparator;
    }
    memcpy(path + dirLength, name, (units + 1) * sizeof(char16_t));
    // Playlists made on Windows separate with backslashes; so does every build but Linux's.
    for (size_t i = dirLength; i < dirLength + units; ++i) {
        if (path[i] == u'\\') {
            path[i] = EntrySeparator;
        }
    }
    return true;
}
