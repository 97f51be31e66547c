// M3U's line rules: what kind of line a line is, and which lines an entry takes with it.
#include "formats/m3u.h"

#include <cstring>

// The unit at index `i` of a line: a byte, or a UTF-16 unit in the file's byte order.
static inline unsigned UnitOfLine(const char* bytes, size_t i, TextEncoding encoding) {
    return encoding == Text8Bit
               ? static_cast<unsigned char>(bytes[i])
               : UnitAt(reinterpret_cast<const unsigned char*>(bytes) + 2 * i, encoding);
}

// Whether the units from `at` on begin with the ASCII `prefix`. Inline, so that the prefix's
// length is known where it is asked.
template <size_t Size>
static inline bool HasPrefix(const char* bytes, size_t at, size_t units, TextEncoding encoding,
                             const char (&prefix)[Size]) {
    if (encoding == Text8Bit) {
        // Bytes are units: one comparison, as every info line of a playlist asks.
        return units - at >= Size - 1 && memcmp(bytes + at, prefix, Size - 1) == 0;
    }
    for (size_t i = 0; prefix[i]; ++i) {
        if (at + i >= units || UnitOfLine(bytes, at + i, encoding) != unsigned(prefix[i])) {
            return false;
        }
    }
    return true;
}

LineKind KindOfAnyLine(const char* bytes, size_t length, TextEncoding encoding) {
    // Nearly every line: 8-bit text that starts with what a name starts with.
    if (encoding == Text8Bit && length > 0 && bytes[0] != '#' && bytes[0] != ' ' &&
        bytes[0] != '\t') {
        return LinePath;
    }
    size_t units = encoding == Text8Bit ? length : length / 2;
    size_t i = 0;
    while (i < units &&
           (UnitOfLine(bytes, i, encoding) == ' ' || UnitOfLine(bytes, i, encoding) == '\t')) {
        ++i;
    }
    if (i == units) {
        // Half a unit is something, if nothing a name can hold.
        return encoding == Text8Bit || units * 2 == length ? LineBlank : LinePath;
    }
    if (UnitOfLine(bytes, i, encoding) != '#') {
        return LinePath;
    }
    if (HasPrefix(bytes, i, units, encoding, "#EXTINF:")) {
        return LineInfo;
    }
    return HasPrefix(bytes, i, units, encoding, "#EXTVLCOPT:") ||
                   HasPrefix(bytes, i, units, encoding, "#KODIPROP:")
               ? LineOption
               : LineDirective;
}

Belonging BelongsToNextEntry(LineKind kind, bool belowInfo) {
    if (kind == LineInfo) {
        return BelongsAsInfo;
    }
    return belowInfo || RunsIntoEntry(kind) ? BelongsMaybe : BelongsNot;
}
