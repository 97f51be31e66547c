// PLS: an INI file whose `[playlist]` section holds FileN, TitleN and LengthN keys. Entries are
// the FileN keys ordered by N (gaps skipped, of two with one N the first counts); keys are
// compared without regard to case, trimmed, a value's double quotes dropped; lines beginning with
// '#' or ';' are comments; text before the header and other sections belong to no entry. The
// text is read per line as M3U's is: 8-bit, or UTF-16 after its byte-order mark.
//
// Nothing here holds more than fixed buffers: listing orders the entries window by window; a
// rewrite orders at most PlsEntryLimit of them, or PlsOrderedLimit where they are numbered 1..N
// in the order they stand (as every writer writes them). Beyond that it fails and changes
// nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/format.h"
#include "formats/m3u.h"

enum {
    PlsEntryLimit = 8192,        // entries a rewrite orders: 32 KiB of numbers, on a host's stack
    PlsOrderedLimit = 8192 * 32, // entries 1..N a rewrite takes, one bit each in the same room
    PlsWindow = 2048,            // entries a listing orders per reading of the file
    PlsLineBytes = 4096, // the most of a line that is parsed; longer lines pass through whole
    PlsBufferBytes = 8192
};

// Whether the text's `[playlist]` header comes before any key line (`head`: the file's start).
bool IsPlsText(const unsigned char* head, size_t size);

// What a line of the text says, its units counted from the line's start.
enum PlsLineKind { PlsPlain, PlsHeader, PlsOtherSection, PlsKey };
enum PlsKeyKind { PlsKeyFile, PlsKeyNumbered, PlsKeyEntries, PlsKeyOther };
struct PlsLine {
    PlsLineKind Kind;
    PlsKeyKind Key;
    uint32_t N;                   // a numbered key's number (1 and above)
    size_t KeyStart, DigitsStart; // the key's first unit, and where its number starts
    size_t DigitsEnd;             // the unit after the number
    size_t ValueStart, ValueEnd;  // the value, trimmed and without its double quotes
};
// `bytes` is the line (or its first PlsLineBytes) without its end, in `encoding`.
PlsLine ParsePlsLine(const unsigned char* bytes, size_t length, TextEncoding encoding);

// Reads the text a line at a time, each line in pieces of at most PlsLineBytes with its end.
struct PlsReader {
    const ByteSource* Source;
    uint64_t BufferAt; // the offset of Buffer[0] in the file
    size_t Pos, Len;
    bool Ended, Failed;
    TextEncoding Encoding;
    size_t MarkBytes; // the byte-order mark before the first line
    unsigned char Buffer[PlsBufferBytes];
};
struct PlsPiece {
    const unsigned char* Bytes; // valid until the next read
    size_t Length;              // without the line end
    size_t EndBytes;            // the line end after it (0 when the line goes on, or at the end)
    bool LineEnds;              // the line ends with this piece
    uint64_t At;                // where the piece starts in the file
};
// Starts at the file's first line, past its mark; false when it cannot be read.
bool StartPlsReader(PlsReader* reader, const ByteSource* source);
bool ReadPlsPiece(PlsReader* reader, PlsPiece* piece);
// The first piece of the line that starts at `at` (an At of a line's first piece).
bool ReadPlsLineAt(PlsReader* reader, uint64_t at, PlsPiece* piece);

// Listing: the entries in order, window by window.
struct PlsCursor {
    PlsReader Reader;
    uint32_t Floor; // every entry up to this number was listed
    uint64_t Start; // and every one above it stands at or after this offset, in the section
    size_t Count, Next;
    bool Full; // the window was full: entries may lie beyond it
    bool Done;
    uint32_t N[PlsWindow];
    uint64_t At[PlsWindow]; // where each entry's FileN line starts
};
void StartPlsCursor(PlsCursor* cursor, const ByteSource* source);
// The next entry's location, raw in the text's encoding, into `location` (PlsLineBytes): 1, or
// 0 when none is left, -1 when the file could not be read. `whole`: the line was read whole (a
// longer one names no file).
int NextPlsLocation(PlsCursor* cursor, char* location, size_t* length, TextEncoding* encoding,
                    bool* whole);

// A rewrite's view of the entries: their numbers in order, each entry marked for delete or
// not, and how a new entry would look.
enum PlsIndexed { PlsIndexRead, PlsIndexUnreadable, PlsIndexTooMany };
struct PlsIndex {
    size_t Count;
    size_t Kept; // after WritePls: the entries that stayed
    bool Listed; // N holds every entry's number; else the entries are 1..Count in the order
                 // they stand, and N holds a bit per entry to delete
    uint64_t LastEntryLine; // the line after which new entries go (counted from 1; 0: none)
    uint64_t HeaderLine;
    char FileKey[16];   // the last FileN key's letters as written ("File", "file")
    char NewLineEnd[3]; // the line end new lines get
    TextEncoding Encoding;
    uint32_t N[PlsEntryLimit]; // where Listed, sorted, the high bit marking an entry to delete
};
// One reading of the text: the entries' numbers and where new ones go. `lineEnd`: the line end
// new lines get when the text has none of its own.
PlsIndexed IndexPls(const ByteSource* source, PlsIndex* index, const char* lineEnd);
// Each entry's location (first FileN of its number), raw in the text's encoding; an entry for
// which `named` answers true is marked for delete. False when the text could not be read.
using PlsNamed = bool (*)(void* context, const char* location, size_t length, TextEncoding encoding,
                          bool whole);
bool MarkPls(const ByteSource* source, PlsIndex* index, PlsNamed named, void* context);
// IndexPls and MarkPls in one reading: each entry is asked of `named` (when not null) as it is
// indexed. The same index, the same questions in the same order.
PlsIndexed IndexAndMarkPls(const ByteSource* source, PlsIndex* index, const char* lineEnd,
                           PlsNamed named, void* context);
// Whether any entry was marked.
bool AnyMarked(const PlsIndex* index);

// New entries, one UTF-8 path (relative with the host's separator, or absolute) at a time.
struct PlsNewEntries {
    bool (*Next)(void* context, char* path, size_t size); // false: no more
    void* Context;
    size_t Count;
    // Null, or the title and length (seconds) of the entry Next just gave: a TitleN line when
    // the title is not empty, a LengthN line when the length is not negative. False: failed.
    bool (*Fields)(void* context, char* title, size_t size, long long* seconds);
};
// How many TitleN and LengthN keys the `[playlist]` section holds, beside its FileN keys, so that
// new entries carry them where their neighbours do; false when the text could not be read.
bool CountPlsKeys(const ByteSource* source, uint32_t* files, uint32_t* titles, uint32_t* lengths);
// What IndexPls makes of a text whose entries are numbered 1..N as they stand (as writers leave
// them), but the numbers: a walk finds it on its way.
struct PlsShape {
    bool Known; // the walk read the text whole, and its entries were so numbered
    size_t Count;
    uint64_t LastEntryLine, HeaderLine;
    char FileKey[16];
    char NewLineEnd[3];
    TextEncoding Encoding;
};
struct PlsKeyCounts {
    uint32_t Files, Titles, Lengths;
};
enum PlsWalked { PlsWalkRead, PlsWalkUnordered, PlsWalkUnreadable };
using PlsVisit = void (*)(void* context, const char* location, size_t length, TextEncoding encoding,
                          bool whole);
// Every entry's location once, raw in the text's encoding (as NextPlsLocation gives it), the
// keys counted as CountPlsKeys counts them (`counts` may be null: then only what may be a FileN
// key or a header is parsed) and the text's shape (`shape` may be null; `lineEnd` is IndexPls's),
// in one reading, where the entries' numbers rise as they stand (gaps allowed; a repeated number
// only after 1..N without a gap). Else PlsWalkUnordered, some entries visited already: the cursor
// and CountPlsKeys decide.
PlsWalked WalkPls(const ByteSource* source, PlsVisit visit, void* context, PlsKeyCounts* counts,
                  PlsShape* shape = nullptr, const char* lineEnd = nullptr);
// The index IndexPls would make of the text of a known shape, without reading it again.
PlsIndexed IndexFromShape(const PlsShape* shape, PlsIndex* index);
// The text again without the marked entries' lines (every key with their numbers), the rest
// numbered 1..N in their order, the new entries after the last entry as FileN lines in the
// neighbours' key case and line ends, and a NumberOfEntries line present set to the new count.
// Every other byte as it was. False when the text could not be read or a write failed.
bool WritePls(const ByteSource* source, PlsIndex* index, const PlsNewEntries* added,
              const ByteSink* sink);
// A new playlist: `[playlist]`, the entries, NumberOfEntries and Version=2, with `lineEnd`.
bool WriteNewPls(const PlsNewEntries* added, const char* lineEnd, const ByteSink* sink);
