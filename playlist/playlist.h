// Playlist operations: reading lines, listing, copying, extracting, adding and deleting.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/format.h"
#include "formats/pls.h"
#include "platform/platform.h"
#include "playlist/entries.h"
#include "plugin/wcx.h"

enum {
    PathUnits = 1024,  // every host path and converted narrow string, terminator included
    LineBytes = 4096,  // every playlist line and UTF-8 path, terminator included
    PieceBytes = 4095, // the most one read of a line yields (4094 in UTF-16: whole units)
    StreamBufferBytes = 16384
};

// Reads a playlist the way every part of the plug-in sees it. A file that begins with FF FE or
// FE FF is UTF-16 in that byte order throughout; any other is 8-bit text, where a UTF-8
// byte-order mark is no part of the first line and a byte 0x1A ends the text. CR LF, LF and a
// lone CR each end a line (as units in UTF-16). A line longer than PieceBytes arrives in pieces.
enum FirstLineEnd : unsigned char { FirstEndUnread, FirstEndCrLf, FirstEndOther };
struct LineReader {
    PlatformFile* File;
    size_t Pos, Len;
    bool Started, Ended, AtEndMark, Failed;
    FirstLineEnd FirstEnd; // how the first line ended, once it was read through
    TextEncoding Encoding;
    const char* Mark; // the byte-order mark, "" when none
    unsigned char Buffer[StreamBufferBytes];
};
void StartReader(LineReader* reader, PlatformFile* file);
// The text's encoding and its byte-order mark; they read the first block when not done yet.
TextEncoding ReaderEncoding(LineReader* reader);
const char* ByteOrderMark(LineReader* reader);
// Next piece of a line, raw in the file's encoding and without its line end, zero-terminated in
// `line` (LineBytes); false when the text is exhausted. `lineEnds` tells whether the line ends
// with this piece (at a line end or the end of the text) or goes on in the next.
bool ReadPiece(LineReader* reader, char* line, size_t* length, bool* lineEnds);
// The same piece without a copy where it can be: `*bytes` is where it lies in the reader's
// buffer (good until the reader is used again, not zero-terminated), or else `line`, read into
// as by ReadPiece.
bool ReadPieceView(LineReader* reader, char* line, const char** bytes, size_t* length,
                   bool* lineEnds);
// Whether lines written into the reader's text end in CR LF: always, unless the build follows the
// text's own ends (LfUnlessCrLf), and then when its first line, read through, ends so.
bool EndsInCrLf(const LineReader* reader);

// Buffered writer of lines in a playlist's encoding; remembers any failed write.
struct LineWriter {
    PlatformFile* File;
    size_t Len;
    bool Failed;
    bool HalfUnit;  // UTF-16: an odd number of bytes written, which only the text's end may hold
    bool GuardMark; // 8-bit text without a mark: a first line that would read as one is kept
                    // apart from the start by a blank line
    bool Guarded;   // that blank line was written
    bool CrLf;      // lines end in CR LF, or else in LF (as units in UTF-16)
    TextEncoding Encoding;
    unsigned char Buffer[StreamBufferBytes];
};
// The writer ends lines in CR LF until told otherwise.
// `halfUnitBefore`: the file appended to ends in half a UTF-16 unit.
void StartWriter(LineWriter* writer, PlatformFile* file, TextEncoding encoding = Text8Bit,
                 bool halfUnitBefore = false);
// Ends the open last line of the text appended to, so that a new line starts on its own: half a
// unit is completed with a zero byte, so that the new units stay in step, then a line end.
void BreakLine(LineWriter* writer);
// Raw bytes, such as a line read before, unchanged.
void WriteBytes(LineWriter* writer, const void* data, size_t bytes);
// UTF-8 text of a new line, in the writer's encoding.
void WriteText(LineWriter* writer, const char* utf8, size_t bytes);
// CR LF or LF, as units in UTF-16; nothing after half a unit, which ends the text.
void WriteLineEnd(LineWriter* writer);
// WriteBytes and WriteLineEnd in one call, as a rewrite writes most lines.
void WriteWholeLine(LineWriter* writer, const void* data, size_t bytes);
// Lines end as EndsInCrLf says for the text being rewritten.
void FollowLineEnds(LineWriter* writer, const LineReader* reader);
// The 0x1A byte that ended a reader's text and everything after it, unchanged.
void WriteRemainder(LineWriter* writer, LineReader* reader);
// Writes out what is buffered; false when any write failed.
bool FinishWriter(LineWriter* writer);

// What the host is told of a long operation, and how it says stop. `size` is what the host's
// progress callback carries: bytes done since the last call, or -1 to -100 for a percent of the
// whole. Tell answers false when the host asks to stop.
struct HostProgress {
    bool (*Tell)(void* context, const char16_t* name, int size);
    void* Context;
};
// The bytes of one host call while a file is copied or read: the host hears of every
// ReportBytes, and of whatever is left at the end.
enum { ReportBytes = 1 << 20 };
// Tells the host `bytes` for `name`, in calls of at most 1 GiB; false when it asks to stop.
bool TellBytes(const HostProgress* progress, const char16_t* name, uint64_t bytes);

// Copies source over destination by the platform's own means (FileCopyAll): 0, E_EOPEN (source
// missing or no regular file), E_ECREATE (destination), E_EREAD or E_EWRITE. The source is opened
// first, so a missing source never creates or empties a destination; a destination that is the
// source itself stays intact. With `progress`, the host hears of the bytes under the source's
// name; when it asks to stop, the copy ends with E_EABORTED.
int CopyFileData(const char16_t* destination, const char16_t* source, bool keepWriteTime,
                 const HostProgress* progress = nullptr);
// Reads the source to its end as CopyFileData opens it, writing nothing: 0, E_EOPEN, E_EREAD or,
// when the host hears of the bytes and asks to stop, E_EABORTED.
int VerifyFileData(const char16_t* source, const HostProgress* progress = nullptr);
// A fresh temporary name in `directory` (empty, or ending in a separator): "s", the process id in
// base 32, ".", a counter. False once the counter is exhausted or the name does not fit `units`.
bool MakeTempName(const char16_t* directory, char16_t* name, size_t units);
bool RemoveFile(const char16_t* path);
// A temporary name in the playlist's own directory, which is writable whenever the playlist may
// change and lies on the same volume.
bool TempNameBeside(const char16_t* playlist, char16_t* name);
// The rewrite of a playlist (pack, delete), one cycle for both: the playlist's lock is taken, the
// playlist read and its new version written into a temporary file beside it, which is flushed to
// the disk and put in the playlist's place in one step; then the lock goes. Two rewrites of one
// playlist thus never overlap, a reader sees the old or the new version whole, and so does the
// disk after a crash. A failure at any step leaves the old playlist and no temporary file.
struct TempFile {
    char16_t Name[PathUnits]; // empty while the file has no name
    PlatformFile* File;
};
struct Rewrite {
    char16_t Playlist[PathUnits]; // the file replaced: the playlist, or the one its link names
    PlatformFile* Locked;         // that file, open and locked from the first read to the end
    bool Created;                 // the lock made the playlist: a failure removes it again
    TempFile Next;                // the new version
};
// Locks the playlist and opens the temporary file for its new version: 0, or an error (nothing
// changed then). `create`: packing, which makes a missing playlist.
int StartRewrite(const char16_t* playlist, bool create, Rewrite* rewrite);
// One more temporary file beside the playlist, empty and open for updating; false on failure.
bool OpenTemp(const Rewrite* rewrite, TempFile* temp);
// Closes a temporary file and removes it; nothing when none is open.
void DiscardTemp(TempFile* temp);
// Ends the rewrite: when the new version was written whole (`written`) and `result` is still 0,
// it is flushed and replaces the playlist. A playlist that cannot be replaced by another file (it
// has more than one name, another program holds it open without letting it go, its file system
// refuses) gets the new version copied over it instead, and the temporary file stays until that
// copy is complete: it is kept when the copy failed part way, as the one complete new version.
// The lock goes last. The result, or the step's error.
int FinishRewrite(Rewrite* rewrite, bool written, int result);
// The new version as a copy of the playlist, for a rewrite that changes nothing in it: 0,
// E_EREAD or E_EWRITE.
int KeepUnchanged(Rewrite* rewrite);
// Tests only: how long a rewrite waits for another one's lock (30 s as built).
void SetRewriteWait(int ms);
// Tests only: where the temporary-name counter stands (-1: no name handed out yet).
void SetLastTempCounter(int counter);

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

// A file as the format modules read and write it.
ByteSource FileSource(PlatformFile* file);
ByteSink FileSink(PlatformFile* file);
// The format of an open file by its start, which is read and the file rewound (`name` tells a
// binary file apart, see FormatOfContent); false when it cannot be read. `blank`: the file holds
// nothing but whitespace.
bool SniffFile(PlatformFile* file, const char16_t* name, PlaylistFormat* format,
               bool* blank = nullptr);

// An open playlist as listing reads it, whatever its format: the entries in their order, each
// under the name its location text lists under.
struct XmlFile;
struct PlaylistEntries {
    PlaylistFormat Format;
    LineReader Lines;  // the open file; M3U reads its lines forwards only
    ByteSource Source; // PLS: the same file
    PlsCursor Pls;
    XmlFile* Xml; // XML: the whole file and its entries, on the heap until CloseEntries
    size_t XmlNext;
};
// Takes an open playlist for listing; false (the file left open) when it is no playlist that can
// be listed: another XML document, a binary file, or one that cannot be read.
bool OpenEntries(PlaylistEntries* entries, PlatformFile* file, const char16_t* name);
// Closes the file and frees what listing held.
void CloseEntries(PlaylistEntries* entries);
int ReadNextEntry(PlaylistEntries* playlist, const char16_t* playlistDir, char16_t* entryPath,
                  ListedEntry* entry);

// Copies the file at entryPath to destPath (may be null) immediately followed by destName. A copy
// that fails once the destination was opened, or that the host stops, leaves no destination
// behind. `progress` (may be null) hears of the bytes under the entry's full path.
int ExtractEntry(const char16_t* entryPath, const char16_t* destPath, const char16_t* destName,
                 const HostProgress* progress = nullptr);
// Reads the file at entryPath whole, as extracting would: 0, E_EOPEN, E_EREAD or E_EABORTED.
int TestEntry(const char16_t* entryPath, const HostProgress* progress = nullptr);

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
// The name that starts at `offset` of the list (an Offset that NextName left), in place when
// the list is wide or converted into `scratch` (PathUnits) when narrow; its length in *units.
// Null when a narrow name does not convert.
const char16_t* NameAt(const NameList* list, size_t offset, char16_t* scratch, size_t* units);

// Both tell `progress` (may be null) how far they are, and end with E_EABORTED, the playlist as it
// was, when the host asks to stop: adding tells each source's size as its line is decided (0
// for one already listed), deleting its way through the playlist as a percent.
int AddEntries(const char16_t* packedFile, const char16_t* srcPath, NameList* names,
               const HostProgress* progress = nullptr);
int DeleteEntries(const char16_t* packedFile, NameList* names,
                  const HostProgress* progress = nullptr);
