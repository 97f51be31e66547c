// XSPF, WPL and ASX playlists over their bytes: which format, the entries with the byte span of
// each one's own text, and the file written again without some entries or with new ones. Every
// byte the writers do not have to change is written as it was. Text handed out is UTF-8,
// zero-terminated, on the heap, freed by FreeXmlPlaylist.
#pragma once

#include <stddef.h>

#include "formats/format.h"

// Which XML format the bytes are, by content: a root `playlist` (any prefix) is XSPF; `<?wpl`,
// `<?zpl` or a root `smil` is WPL; a root `asx` in any case is ASX; any other XML document or a
// binary file is FormatUnknown; text that is not XML at all answers FormatM3u (the caller then
// tries PLS / M3U). `bytes` may be only the file's first part (at least 4 KiB or the whole file).
PlaylistFormat SniffXmlFormat(const unsigned char* bytes, size_t size);

struct XmlEntry {
    size_t Start, End;    // the entry's own text, in the file's bytes: [Start, End) is removed on
                          // delete. It begins at the start of the entry's line when only
                          // whitespace stands before the element on that line, and ends past the
                          // line end after the element when only whitespace follows it there;
                          // otherwise exactly the element.
    char* Location;       // what the entry names, written as an M3U path line would name it:
                          // a relative path (percent-decoded, xml:base applied, separators as
                          // written), an absolute path, a `file:///` URI, or a URL as it is.
                          // Null when the element names nothing (a track without location):
                          // such an entry is still in Entries (delete may remove it) but lists not.
    char* Title;          // for new-entry style decisions: null when none
    char* Creator;        // XSPF creator / ASX author: null when none
    long long DurationMs; // XSPF duration; -1 when none
    long long VlcId;      // XSPF written by VLC: the track's vlc:id; -1 when none
};

// How the file's text is encoded; the writers write new text the same way.
enum XmlEncoding { XmlUtf8, XmlUtf16Le, XmlUtf16Be, XmlLatin1, XmlAscii, XmlCp1252 };

struct XmlLayout; // where and how the writers write: the module's own
struct XmlTexts;  // the entries' texts: the module's own

struct XmlPlaylist {
    PlaylistFormat Format; // FormatXspf, FormatWpl, FormatAsx, or FormatUnknown
    bool Whole;            // parsed whole and understood (ASX: within its tolerances):
                           // only then may pack and delete rewrite it
    XmlEntry* Entries;     // in document order (XSPF tracks, WPL media in every seq, ASX
    size_t Count;          // entry and entryref, in repeat too)
    XmlEncoding Encoding;
    XmlLayout* Layout;
    XmlTexts* Texts;
};

// Parses a whole file. False only when out of memory; a file that is not well-formed gives
// Whole = false with whatever entries could be read (possibly none).
bool ReadXmlPlaylist(const unsigned char* bytes, size_t size, XmlPlaylist* playlist);
void FreeXmlPlaylist(XmlPlaylist* playlist);

// Where the rewritten file goes, in pieces, in order.
struct XmlSink {
    bool (*Write)(void* context, const void* data, size_t bytes); // false: stop, failed
    void* Context;
};

// Delete: the whole file again without the entries whose `remove[i]` is true, renumbered where
// the format needs it (WPL ItemCount, VLC's vlc:item list). False when the playlist is not Whole
// or a write failed. Every other byte is written as it was.
bool WriteXmlWithout(const XmlPlaylist* playlist, const unsigned char* bytes, size_t size,
                     const bool* remove, const XmlSink* sink);

// A new entry to pack. `Path` is UTF-8: relative to the playlist's folder with '/' between
// folders when the file lies below or beside it (e.g. "../Jazz/a b.mp3"), else absolute in the
// build's own form ("C:\\Music\\x.mp3" or "/home/u/x.mp3"). The module writes it in the format's
// form: XSPF a percent-encoded relative reference (absolute: a file:/// URI); WPL backslashes;
// ASX the href as written. Title/Creator null and DurationMs -1 when unknown (the module writes
// them only where its neighbours have such fields).
struct XmlNewEntry {
    const char* Path;
    const char* Title;
    const char* Creator;
    long long DurationMs;
};

// Pack: the whole file again with `count` new entries after the last entry, looking like their
// neighbours (indentation, tag case, line ends), escaped for XML, in the file's encoding (a
// character the encoding lacks: a character reference). With size == 0 (a new file), a minimal
// valid playlist of `format` holding the entries; with count == 0 the file as it was. False when
// the playlist is not Whole, when a relative path cannot be written where the entries go (under
// an absolute xml:base or ASX base), or when a write failed.
bool WriteXmlWith(const XmlPlaylist* playlist, PlaylistFormat format, const unsigned char* bytes,
                  size_t size, const XmlNewEntry* entries, size_t count, const XmlSink* sink);
