// What a playlist line is, and the name it lists under. Listing, deleting and adding all ask
// here, so the three can never disagree about a line.
#pragma once

#include <cstddef>

#include "platform/conventions.h"

// How a playlist's lines are stored: 8-bit text (UTF-8 or a legacy code page, line by line), or
// UTF-16 in the byte order of the file's mark.
enum TextEncoding { Text8Bit, TextUtf16Le, TextUtf16Be };

// The UTF-16 unit at `at`, in the byte order of a UTF-16 encoding.
inline unsigned UnitAt(const unsigned char* at, TextEncoding encoding) {
    return encoding == TextUtf16Le ? at[0] | at[1] << 8 : at[0] << 8 | at[1];
}

// The separator that joins a playlist's folder and an entry, and that the slashes of a file://
// entry become: the host's.
constexpr char16_t EntrySeparator = static_cast<char16_t>(HostPaths.Separator);

// Players skip spaces and tabs before a '#', so the kinds below look past them.
enum LineKind {
    LineInfo,      // "#EXTINF:": describes the entry line after it
    LineOption,    // "#EXTVLCOPT:", "#KODIPROP:": an option players apply to the next entry only
    LineDirective, // any other line that begins with '#'
    LineBlank,     // empty, or only spaces and tabs
    LinePath       // what a player takes for a file, whether it lists or not
};

// A line's bytes as the reader yields them: without line end, in the file's encoding.
LineKind KindOfLine(const char* bytes, size_t length, TextEncoding encoding);

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

constexpr size_t NotListed = ~size_t{0};

// The name a line lists under, zero-terminated into `name` (PathUnits units): its length in
// units, or NotListed. `whole` is false for the first piece of a line longer than one read,
// which names no file. A line lists when it is a path line whose name is not empty and fits;
// text that is not UTF-8 is read in the legacy code page; a file:// line names the file of its
// URI. `name` may be scribbled on when the line does not list.
// The name is the entry's path as the host shows it (TreePath); the path itself, which finds the
// file, goes to `path` (PathUnits) with its units in `pathUnits`.
size_t ListedName(const char* bytes, size_t length, bool whole, TextEncoding encoding,
                  char16_t* name, char16_t* path = nullptr, size_t* pathUnits = nullptr);

// A path (UTF-8) as the host shows it, split at the style's separator into folders: "." and ".."
// resolved, empty segments gone, and what lies outside the playlist's folder under a first
// folder of its own: the Up marker for each step up, the Root marker for a leading separator, a
// marker for a drive, a share or a device path. Under WindowsParts every part is also one that
// Windows can create. Writes what fits below `size`, zero-terminated when size > 0, and returns
// the complete length; "" for a path without segments.
size_t TreePath(const char* path, char* out, size_t size, const NameStyle& style = HostNames);

// Both slashes separate the names a host passes, whatever the build's own separator.
inline bool IsNameSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

// Whether a name the host passes stands for a whole folder: the folder, a separator and "*.*".
bool IsFolderName(const char16_t* name, size_t units);

// Whether a listed name is one the host asks for: the very same units, or a name below a folder
// that the host passes as the folder, a separator and "*.*".
bool NameMatches(const char16_t* listed, size_t units, const char16_t* wanted, size_t wantedUnits);

// The full path of an entry into `path` (PathUnits): the playlist's folder, a separator and the
// entry's path, whose backslashes become the host's separator; a full path already stands alone.
// False (and `path` empty) when it does not fit.
bool JoinEntryPath(const char16_t* dir, const char16_t* name, size_t units, char16_t* path);
