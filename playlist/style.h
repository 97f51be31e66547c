// How a new entry is written: the way most of the playlist's entries already are. Pack feeds
// each existing entry's location text as it reads the playlist, with the fields its format gave
// that entry; the tally then decides, once, the path form of every new entry (relative or
// absolute, '\' or '/', for M3U a file:/// URI) and whether new entries carry a title and a
// length as their neighbours do. A playlist without entries, or a new one, keeps the plain form:
// a relative path with the build's separator.
#pragma once

#include <cstddef>
#include <cstdint>

#include "media/media.h"

// What a format gave one entry beside its location: M3U an #EXTINF line, PLS TitleN and LengthN,
// XSPF title, creator and duration, ASX a title; WPL nothing.
struct EntryFields {
    bool Title, Length, Creator;
};

struct StyleTally {
    uint32_t Entries;   // entries that name a file (URLs of other schemes vote on nothing)
    uint32_t Absolute;  // of those: rooted paths and file:// URIs
    uint32_t Uris;      // file:// URIs
    uint32_t Backslash; // paths whose first separator is '\'
    uint32_t Slash;     // ... and '/'
    uint32_t Titles, Lengths, Creators;
    bool M3u, ExtendedHeader;
};

// `m3u`: the playlist is an M3U one, whose entries carry a title and a length only under an
// #EXTM3U first line (`extendedHeader`).
void StartTally(StyleTally* tally, bool m3u, bool extendedHeader);
// One existing entry's location text (UTF-8, as the format reads it), of `length` bytes.
void TallyEntry(StyleTally* tally, const char* location, size_t length, EntryFields fields);

struct EntryStyle {
    bool Absolute;
    bool Uri; // a file:/// URI, percent-encoded (M3U only)
    char Separator;
    bool Title, Length, Creator; // the fields new entries carry
    bool Header;                 // a new M3U playlist: #EXTM3U goes first
};

// The decision, by majority of the entries tallied. `newM3u`: the playlist does not exist yet and
// is an M3U one: it begins with #EXTM3U and its entries carry #EXTINF, as players write it.
EntryStyle DecideStyle(const StyleTally* tally, bool newM3u);

// A new entry's location text in that style: `file` is the file's full path and `folder` the
// playlist's folder ending in its separator, both UTF-8 in the build's own form. A relative path
// where the style says so and the file lies on the playlist's root, else the full path; with the
// style's separator, or as a file:/// URI. False when it does not fit `size` (out then empty).
bool EntryPathText(const EntryStyle& style, const char* file, const char* folder, char* out,
                   size_t size);

// "Artist - Title", the title alone without an artist, the file name for the title where the
// tags have none; line breaks and other control characters become spaces. Cut to fit `size`
// at a whole character.
void DisplayTitle(const MediaInfo& info, char* out, size_t size);
// Tag text made fit for one line of a playlist: control characters become spaces, cut at a
// whole character to fit `size`.
void OneLineText(const char* text, char* out, size_t size);
// The M3U line before a new entry's path: "#EXTINF:<seconds>,<DisplayTitle>", -1 seconds when
// the length is unknown; empty when neither a length nor a title from tags is known.
void ExtinfLine(const MediaInfo& info, char* out, size_t size);
