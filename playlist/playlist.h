// Playlist operations: reading lines, listing, copying, extracting, adding and deleting.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"
#include "plugin/wcx.h"

enum {
    PathUnits = 1024,  // every host path and converted narrow string, terminator included
    LineBytes = 4096,  // every playlist line and UTF-8 path, terminator included
    PieceBytes = 4095, // the most one read of a line yields
    CopyBytes = 8192,  // one block of a file copy
    StreamBufferBytes = 16384
};

// Reads a playlist the way every part of the plug-in sees it: a UTF-8 byte-order mark at the
// very start is no part of the first line, CR LF arrives as LF, a lone CR stays, a byte 0x1A
// ends the text, and a line longer than PieceBytes arrives in several pieces.
struct LineReader {
    PlatformFile* File;
    size_t Pos, Len;
    bool Started, Ended, AtEndMark, Failed, ByteOrderMark;
    unsigned char Buffer[StreamBufferBytes];
};
void StartReader(LineReader* reader, PlatformFile* file);
// Whether the text begins with a byte-order mark; reads the first block when not done yet.
bool HasByteOrderMark(LineReader* reader);
// Next piece, zero-terminated in `line` (LineBytes), its line end included as one LF; its length,
// or 0 when the text is exhausted. `lineBreak` tells whether the piece ended the line.
size_t ReadPiece(LineReader* reader, char* line, bool* lineBreak);
// Cuts a piece at its first CR or LF; the remaining length.
size_t CutLine(char* line);

// Buffered writer of lines that end in CR LF; remembers any failed write.
struct LineWriter {
    PlatformFile* File;
    size_t Len;
    bool Failed;
    unsigned char Buffer[StreamBufferBytes];
};
void StartWriter(LineWriter* writer, PlatformFile* file);
void WriteBytes(LineWriter* writer, const void* data, size_t bytes);
void WriteLineEnd(LineWriter* writer);
// The 0x1A byte that ended a reader's text and everything after it, unchanged.
void WriteRemainder(LineWriter* writer, LineReader* reader);
// Writes out what is buffered; false when any write failed.
bool FinishWriter(LineWriter* writer);

// Copies source over destination in CopyBytes blocks: 0, E_EOPEN (source), E_ECREATE
// (destination), E_EREAD or E_EWRITE. The source is opened first, so a missing source never
// creates or empties a destination; a destination that is the source itself stays intact.
int CopyFileData(const char16_t* destination, const char16_t* source, bool keepWriteTime);
// A fresh temporary name in `directory` (empty, or ending in a separator): "s", the process id in
// base 32, ".", a counter. False once the counter is exhausted or the name does not fit `units`.
bool MakeTempName(const char16_t* directory, char16_t* name, size_t units);
bool RemoveFile(const char16_t* path);
// A temporary name in the playlist's own directory, which is writable whenever the playlist may
// change and lies on the same volume.
bool TempNameBeside(const char16_t* playlist, char16_t* name);
// Ends the rewrite of a playlist: closes the temporary file and, when it was written whole and
// `result` is still 0, copies it over the playlist. The temporary file is removed unless it holds
// the only complete copy of the new playlist (the copy back failed part way).
int FinishRewrite(const char16_t* playlist, const char16_t* temp, LineWriter* writer,
                  PlatformFile* tempFile, int result);
// Tests only: where the temporary-name counter stands (-1: no name handed out yet).
void SetLastTempCounter(int counter);

// The name under which the host lists an entry line (UTF-8 into `room` bytes); false when it
// does not fit. Listing, deleting and the duplicate test of adding all go through it, so a name
// the host shows always maps back to its lines.
bool EntryName(const char* line, char* name, size_t room);

// One entry as listing sees it, before any host's record.
struct ListedEntry {
    char16_t Name[PathUnits]; // as the host lists it
    size_t NameUnits;
    bool Found;        // the referenced file's status was read
    FileStatus Status; // its size, last write and mode when Found
};

// Lists the next entry of an open playlist into `entry`, storing its full path in `entryPath`
// (PathUnits): 0, or E_END_ARCHIVE when no entry is left.
int ReadNextEntry(LineReader* playlist, const char16_t* playlistDir, char16_t* entryPath,
                  ListedEntry* entry);

// Copies the file at entryPath to destPath (may be null) immediately followed by destName.
int ExtractEntry(const char16_t* entryPath, const char16_t* destPath, const char16_t* destName);

// The host's list of names, each ending in a zero, the list in an empty name. A narrow list is
// converted one name at a time, so the list may be of any length while each name fits PathUnits.
struct NameList {
    const char16_t* Wide;
    const char* Narrow;
    size_t Offset;
    char16_t Converted[PathUnits];
};
void StartNames(NameList* list, const char16_t* wide, const char* narrow);
// The next name, or null at the end of the list (or at a narrow name that does not convert).
const char16_t* NextName(NameList* list);
// True when every narrow name converts whole; the list is rewound either way.
bool NamesConvert(NameList* list);

int AddEntries(const char16_t* packedFile, const char16_t* srcPath, NameList* names);
int DeleteEntries(const char16_t* packedFile, NameList* names);
