// M3U's syntax: how its text is stored, the kinds of its lines and which of them an entry takes
// with it. Listing, deleting and adding all ask here, so the three never disagree about a line.
#pragma once

#include <cstddef>

// How a playlist's lines are stored: 8-bit text (UTF-8 or a legacy code page, line by line), or
// UTF-16 in the byte order of the file's mark.
enum TextEncoding { Text8Bit, TextUtf16Le, TextUtf16Be };

// The UTF-16 unit at `at`, in the byte order of a UTF-16 encoding.
inline unsigned UnitAt(const unsigned char* at, TextEncoding encoding) {
    return encoding == TextUtf16Le ? at[0] | at[1] << 8 : at[0] << 8 | at[1];
}

// Players skip spaces and tabs before a '#', so the kinds below look past them.
enum LineKind {
    LineInfo,      // "#EXTINF:": describes the entry line after it
    LineOption,    // "#EXTVLCOPT:", "#KODIPROP:": an option players apply to the next entry only
    LineDirective, // any other line that begins with '#'
    LineBlank,     // empty, or only spaces and tabs
    LinePath       // what a player takes for a file, whether it lists or not
};

// A line's bytes as the reader yields them: without line end, in the file's encoding.
LineKind KindOfAnyLine(const char* bytes, size_t length, TextEncoding encoding);
// The same, inline for nearly every line: 8-bit text that starts with what a name starts with.
inline LineKind KindOfLine(const char* bytes, size_t length, TextEncoding encoding) {
    if (encoding == Text8Bit && length > 0 && bytes[0] != '#' && bytes[0] != ' ' &&
        bytes[0] != '\t') {
        return LinePath;
    }
    return KindOfAnyLine(bytes, length, encoding);
}

// The lines of an entry: its path line, the last info line above it with every line between the
// two, and directly above those (or above the path line, without an info line) a run of options.
// Blank lines among them are no one's: they stay where they stand. Any other directive above the
// info line (a header, a section's comment) belongs to no entry.
// Read from the top, a line that is no path line may belong to the entry below it: an info line
// starts its lines; below one, every line may; above one, only options (and blank lines among
// them), while any other directive there belongs to no entry and ends such a run. An info line
// that describes nothing (another follows before a path line) goes, and ends no run.
enum Belonging {
    BelongsNot, // no entry's, nor are the options and blank lines directly above it
    BelongsMaybe,
    BelongsAsInfo // the entry's info line; an info line above it describes nothing
};
Belonging BelongsToNextEntry(LineKind kind, bool belowInfo);
// Whether a line is of the run that an info line takes into its entry from above it.
inline bool RunsIntoEntry(LineKind kind) {
    return kind == LineOption || kind == LineBlank;
}
