// Deleting: the playlist rewritten without the named entry lines and their info lines.
#include <cstring>

#include "playlist/nametable.h"
#include "playlist/playlist.h"
#include "text/text.h"

static bool IsSlash(char c) {
    return c == '\\' || c == '/';
}

// Keys of the name table: a name's bytes and one byte for its kind, so that an entry name and
// a folder of the same bytes stay apart (the kind is always the last byte).
enum : char { EntryKey = 1, FolderKey = 2 };

// Fills the table with the next names of the list, as many as fit: each name as an entry key;
// a folder of the listing followed by a separator and "*.*" (the host's way of naming a whole
// folder) also as a folder key. True when names are left for another batch.
static bool FillBatch(NameList* names, NameTable* table, bool* folders) {
    ClearTable(table);
    *folders = false;
    char key[LineBytes + 1];
    for (;;) {
        size_t at = names->Offset, before = table->Count;
        const char16_t* wide = NextName(names);
        if (!wide) {
            return false;
        }
        if (!ToUtf8(wide, key, LineBytes)) {
            continue; // longer than any line: it matches none
        }
        size_t n = strlen(key);
        key[n] = EntryKey;
        bool fits = TableAdd(table, key, n + 1) >= 0;
        if (fits && n > 4 && memcmp(key + n - 3, "*.*", 3) == 0 && IsSlash(key[n - 4])) {
            key[n - 4] = FolderKey;
            fits = TableAdd(table, key, n - 3) >= 0;
            *folders = *folders || fits;
        }
        if (!fits && before > 0) {
            names->Offset = at; // the name starts the next batch
            return true;
        }
    }
}

// Whether the batch names the line (`cut` bytes of the piece, `complete` when the line ends in
// this piece): the whole line, or any of its leading folders. A line that goes on beyond the
// piece can only be below a folder: its first piece is no name of its own.
static bool Named(const NameTable* table, bool folders, char* piece, size_t cut, bool complete) {
    char end = piece[cut];
    bool hit = false;
    if (complete) {
        piece[cut] = EntryKey;
        hit = TableFind(table, piece, cut + 1) >= 0;
    }
    for (size_t p = 1; folders && !hit && p < cut; ++p) {
        char slash = piece[p];
        if (IsSlash(slash)) {
            piece[p] = FolderKey;
            hit = TableFind(table, piece, p + 1) >= 0;
            piece[p] = slash;
        }
    }
    piece[cut] = end;
    return hit;
}

// The slow way, for the one case that batches cannot take (see DeleteEntries): a name equals the
// line, or it is a folder of the listing followed by a separator and "*.*".
static bool NameMatches(const char* line, size_t lineLength, bool complete, const char* name,
                        size_t nameLength) {
    if (complete && nameLength == lineLength && memcmp(line, name, nameLength) == 0) {
        return true;
    }
    if (nameLength > 4 && memcmp(name + nameLength - 3, "*.*", 3) == 0 &&
        IsSlash(name[nameLength - 4])) {
        size_t folder = nameLength - 4;
        return lineLength > folder && memcmp(line, name, folder) == 0 && IsSlash(line[folder]);
    }
    return false;
}

static bool InList(NameList* names, const char* line, size_t lineLength, bool complete) {
    char name[LineBytes];
    names->Offset = 0;
    while (const char16_t* wide = NextName(names)) {
        // A name too long for the buffer matches no line.
        if (ToUtf8(wide, name, sizeof name) &&
            NameMatches(line, lineLength, complete, name, strlen(name))) {
            return true;
        }
    }
    return false;
}

// Length of a piece without its line end; a lone CR that closes the line counts as line end.
static size_t Content(const char* piece, size_t n, bool lineBreak, bool lastPiece) {
    if (lineBreak) {
        --n;
    }
    if (lastPiece && n > 0 && piece[n - 1] == '\r') {
        --n;
    }
    return n;
}

// The pieces after a first one that did not end its line: written (writer) or passed over.
static void RestOfLine(LineReader* reader, LineWriter* writer, char* piece, bool lineBreak) {
    while (!lineBreak) {
        size_t n = ReadPiece(reader, piece, &lineBreak);
        if (n == 0) {
            break;
        }
        if (writer) {
            WriteBytes(writer, piece, Content(piece, n, lineBreak, lineBreak || reader->Ended));
        }
    }
}

// One rewrite of `in` into `out` without the lines that the next batch of names names, and
// without their info lines. `more`: names are left for another batch; `written`: every byte went
// out. Its own frame, so that the table and the buffers are gone before the copy back.
// With `everyName` each line is compared with every name of the list instead, in one pass
// however long the list. `lone`: the text holds a CR that a rewrite does not keep as it was.
[[gnu::noinline]] static int DeleteBatch(NameList* names, PlatformFile* in, PlatformFile* out,
                                         bool everyName, bool* more, bool* written, bool* lone) {
    static_assert(sizeof(NameTable) + sizeof(LineReader) + sizeof(LineWriter) < 96 * 1024,
                  "fits a host's stack");
    NameTable table;
    bool folders = false;
    *more = !everyName && FillBatch(names, &table, &folders);
    LineReader reader;
    LineWriter writer;
    StartReader(&reader, in);
    StartWriter(&writer, out);
    if (HasByteOrderMark(&reader)) {
        WriteBytes(&writer, "\xEF\xBB\xBF", 3);
    }
    char piece[LineBytes] = {};
    char held[LineBytes] = {};
    size_t heldLength = 0;
    bool holding = false;
    bool lineBreak = false;
    while (size_t n = ReadPiece(&reader, piece, &lineBreak)) {
        bool whole = lineBreak || reader.Ended;
        size_t content = Content(piece, n, lineBreak, whole);
        size_t cut = LineLength(piece, n);
        if (piece[0] == '#') {
            if (whole && cut >= 8 && memcmp(piece, "#EXTINF:", 8) == 0) {
                // Held back until its entry shows whether it stays.
                memcpy(held, piece, content);
                heldLength = content;
                holding = true;
                continue;
            }
            // Other directives, and an info line too long to hold, go out at once.
            WriteBytes(&writer, piece, content);
            RestOfLine(&reader, &writer, piece, lineBreak);
            WriteLineEnd(&writer);
            continue;
        }
        bool complete = whole || cut < n;
        if (everyName ? InList(names, piece, cut, complete)
                      : Named(&table, folders, piece, cut, complete)) {
            RestOfLine(&reader, nullptr, piece, lineBreak);
        } else {
            if (holding) {
                WriteBytes(&writer, held, heldLength);
                WriteLineEnd(&writer);
            }
            WriteBytes(&writer, piece, content);
            RestOfLine(&reader, &writer, piece, lineBreak);
            WriteLineEnd(&writer);
        }
        holding = false;
    }
    WriteRemainder(&writer, &reader);
    *written = FinishWriter(&writer);
    *lone = reader.LoneReturn;
    return reader.Failed ? E_EREAD : E_SUCCESS;
}

int DeleteEntries(const char16_t* packedFile, NameList* names) {
    if (!packedFile || !NamesConvert(names)) {
        return E_NOT_SUPPORTED;
    }
    PlatformFile* playlist = FileOpen(packedFile, FileForReading);
    if (!playlist) {
        return E_NOT_SUPPORTED;
    }
    // A list larger than one batch takes one more rewrite per batch, each of the text that the
    // one before wrote; two temporary files take turns.
    char16_t temp[2][PathUnits] = {};
    PlatformFile* out =
        TempNameBeside(packedFile, temp[0]) ? FileOpen(temp[0], FileForWriting) : nullptr;
    if (!out) {
        FileClose(playlist);
        return E_NOT_SUPPORTED;
    }
    PlatformFile* in = playlist;
    int now = 0; // temp[now] is being written
    bool more = false, written = false, lone = false;
    int result = DeleteBatch(names, in, out, false, &more, &written, &lone);
    if (more && lone && result == E_SUCCESS && written) {
        // A lone CR at a line's end is dropped by a rewrite, so a second batch could not work on
        // the first one's text and give the same result: compare with the whole list instead.
        PlatformFile* again = FileOpen(packedFile, FileForReading);
        bool closed = FileClose(out);
        out = closed && again ? FileOpen(temp[0], FileForWriting) : nullptr;
        if (!out) {
            if (again) {
                FileClose(again);
            }
            RemoveFile(temp[0]);
            FileClose(playlist);
            return !closed ? E_EWRITE : !again ? E_EOPEN : E_ECREATE;
        }
        result = DeleteBatch(names, again, out, true, &more, &written, &lone);
        FileClose(again);
    }
    while (more && result == E_SUCCESS && written) {
        if (in != playlist) {
            FileClose(in);
            RemoveFile(temp[1 - now]);
        }
        bool closed = FileClose(out);
        in = closed ? FileOpen(temp[now], FileForReading) : nullptr;
        out = nullptr;
        now = 1 - now;
        if (in && (temp[now][0] || TempNameBeside(packedFile, temp[now]))) {
            out = FileOpen(temp[now], FileForWriting);
        }
        if (!in || !out) {
            // Nothing of the playlist changed yet: every temporary file goes.
            if (in) {
                FileClose(in);
            }
            RemoveFile(temp[0]);
            RemoveFile(temp[1]);
            FileClose(playlist);
            return !closed ? E_EWRITE : !in ? E_EOPEN : E_ECREATE;
        }
        result = DeleteBatch(names, in, out, false, &more, &written, &lone);
    }
    if (in != playlist) {
        FileClose(in);
        RemoveFile(temp[1 - now]);
    }
    result = FinishRewrite(packedFile, temp[now], out, written, result);
    FileClose(playlist);
    return result;
}
