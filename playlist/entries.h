// The name an entry lists under, whatever the format, and how the host's names meet it. Listing,
// deleting and adding all ask here, so the three can never disagree about an entry. What makes an
// M3U line an entry at all is M3U's own (formats/m3u.h).
#pragma once

#include <cstddef>

#include "formats/m3u.h"
#include "platform/conventions.h"

// The separator that joins a playlist's folder and an entry, and that the slashes of a file://
// entry become: the host's.
constexpr char16_t EntrySeparator = static_cast<char16_t>(HostPaths.Separator);

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

// The same name for an entry of any format, from its location text (the value of a PLS FileN
// key, an XML entry's location in UTF-8): every text lists that a path line of it would.
size_t LocationName(const char* bytes, size_t length, bool whole, TextEncoding encoding,
                    char16_t* name, char16_t* path = nullptr, size_t* pathUnits = nullptr);

// A path (UTF-8) as the host shows it, split at the style's separator into folders: "." and ".."
// resolved, empty segments gone, and what lies outside the playlist's folder under a first
// folder of its own: the Up marker for each step up, the Root marker for a leading separator, a
// marker for a drive, a share or a device path. Under WindowsParts every part is also one that
// Windows can create. Writes what fits below `size`, zero-terminated when size > 0, and returns
// the complete length; "" for a path without segments.
size_t TreePath(const char* path, char* out, size_t size, const NameStyle& style = HostNames);

#if defined(M3U_FAULT_INJECTION)
// Tests only: ListedName (`m3uLine`) or LocationName the general way, without the fast one for
// plain lines, so that a test can compare the two.
size_t GeneralNameForTests(const char* bytes, size_t length, bool whole, TextEncoding encoding,
                           char16_t* name, bool m3uLine, char16_t* path = nullptr,
                           size_t* pathUnits = nullptr);
#endif

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
