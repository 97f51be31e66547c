// XML playlists (XSPF, WPL, ASX) as the operations see them: the whole file read onto the heap
// (which only the XML formats may use), its entries' locations, and its two rewrites. The one
// place in playlist/ that knows the XML modules' records.
#pragma once

#include <cstddef>

#include "formats/format.h"
#include "platform/platform.h"

struct XmlFile;
// Reads the rest of an open file from its start; null when it cannot be read or memory is short.
XmlFile* LoadXmlFile(PlatformFile* file);
void FreeXmlFile(XmlFile* xml);
// Read whole and understood as its format: only then may it be rewritten.
bool XmlFileWhole(const XmlFile* xml);
size_t XmlEntryCount(const XmlFile* xml);
// The location of entry `i` in UTF-8, or null when it names nothing.
const char* XmlEntryLocation(const XmlFile* xml, size_t i);
// The file again without the entries whose `remove[i]` is set, into `out`: 0, E_EWRITE, or
// E_NOT_SUPPORTED when the module will not write this file.
int WriteXmlFileWithout(const XmlFile* xml, const bool* remove, PlatformFile* out);
// The file again with new entries (UTF-8 paths, '/' between folders when relative), into `out`;
// `xml` null for a new file of `format`. 0, E_EWRITE, or E_NOT_SUPPORTED when the module will
// not write them there (a file not read whole, relative paths under an absolute base).
// What a new entry carries beside its path: null (-1) where it has nothing.
struct NewEntryFields {
    const char* Title;
    const char* Creator;
    long long DurationMs;
};
// `fields`: one for each path, or null when they carry nothing. The module writes each only
// where the file's own entries carry it.
int WriteXmlFileWith(const XmlFile* xml, PlaylistFormat format, const char* const* paths,
                     const NewEntryFields* fields, size_t count, PlatformFile* out);
// Which of a title, a creator (ASX: author) and a duration entry `i` carries.
void XmlEntryCarries(const XmlFile* xml, size_t i, bool* title, bool* creator, bool* duration);
