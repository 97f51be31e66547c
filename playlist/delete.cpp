// Deleting: the playlist rewritten without the named entry lines and their info lines.
#include <cstring>

#include "playlist/nametable.h"
#include "playlist/playlist.h"
#include "text/text.h"

static bool IsSlash(char c) {
    return c == '\\' || c == '/';
}

// Keys of the name table: a name in UTF-8, which tells names apart exactly as their units do,
// and one byte for its kind, so that an entry name and a folder of the same bytes stay apart
// (the kind is always the last byte).
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
            continue; // longer than any listed name: it matches none
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

// Whether the batch names a line that lists under `name` (`units` long): the name itself, or
// any of its leading folders.
static bool Named(const NameTable* table, bool folders, const char16_t* name, size_t units) {
    char key[LineBytes];
    size_t n = NameKey(name, units, key); // at most 3069 bytes: room for the kind
    key[n] = EntryKey;
    if (TableFind(table, key, n + 1) >= 0) {
        return true;
    }
    // A separator is one byte in UTF-8, never part of a longer character.
    for (size_t p = 1; folders && p < n; ++p) {
        char slash = key[p];
        if (IsSlash(slash)) {
            key[p] = FolderKey;
            bool hit = TableFind(table, key, p + 1) >= 0;
            key[p] = slash;
            if (hit) {
                return true;
            }
        }
    }
    return false;
}

// An info line waits for its entry, and the blank lines after it wait with it: they stay where
// they are whether the info line goes or not.
struct Held {
    bool Info;
    size_t InfoLength, BlankLength;
    char InfoLine[LineBytes];
    char Blanks[LineBytes]; // blank lines, each followed by '\n', which no blank line holds
};

// Writes the held blank lines; a held info line stays held.
static void WriteBlanks(LineWriter* writer, Held* held) {
    size_t start = 0;
    for (size_t i = 0; i < held->BlankLength; ++i) {
        if (held->Blanks[i] == '\n') {
            WriteBytes(writer, held->Blanks + start, i - start);
            WriteLineEnd(writer);
            start = i + 1;
        }
    }
    held->BlankLength = 0;
}

// Writes what is held, the info line only when `withInfo`, and holds nothing more.
static void Release(LineWriter* writer, Held* held, bool withInfo) {
    if (held->Info && withInfo) {
        WriteBytes(writer, held->InfoLine, held->InfoLength);
        WriteLineEnd(writer);
    }
    WriteBlanks(writer, held);
    held->Info = false;
}

// The pieces after a first one that did not end its line: written (writer) or passed over.
static void RestOfLine(LineReader* reader, LineWriter* writer, char* piece, bool lineEnds) {
    size_t n = 0;
    while (!lineEnds && ReadPiece(reader, piece, &n, &lineEnds)) {
        if (writer) {
            WriteBytes(writer, piece, n);
        }
    }
}

// How one rewrite went: names are left for another batch; every byte went out; a blank line went
// first to keep the first line from reading as a byte-order mark.
struct Pass {
    bool More, Written, Guarded;
};

// One rewrite of `in` into `out` without the lines that the next batch of names names, and
// without their info lines. `unguard`: `in` is a rewrite that began with a blank line of that
// kind, which is no line of the playlist: it is passed over, so that this rewrite guards what
// comes first now. Its own frame, so that the table and the buffers are gone before the copy
// back.
[[gnu::noinline]] static int DeleteBatch(NameList* names, PlatformFile* in, PlatformFile* out,
                                         bool unguard, Pass* pass) {
    static_assert(sizeof(NameTable) + sizeof(LineReader) + sizeof(LineWriter) + sizeof(Held) <
                      96 * 1024,
                  "fits a host's stack");
    NameTable table;
    bool folders = false;
    pass->More = FillBatch(names, &table, &folders);
    LineReader reader;
    LineWriter writer;
    Held held;
    held.Info = false;
    held.BlankLength = 0;
    StartReader(&reader, in);
    TextEncoding encoding = ReaderEncoding(&reader);
    StartWriter(&writer, out, encoding);
    const char* mark = ByteOrderMark(&reader);
    WriteBytes(&writer, mark, strlen(mark));
    writer.GuardMark = !mark[0];
    char piece[LineBytes] = {};
    char16_t name[PathUnits];
    size_t n = 0;
    bool lineEnds = false;
    if (unguard) {
        ReadPiece(&reader, piece, &n, &lineEnds);
    }
    while (ReadPiece(&reader, piece, &n, &lineEnds)) {
        LineKind kind = KindOfLine(piece, n, encoding);
        if (kind == LineInfo && lineEnds) {
            // Of two info lines in a row only the later describes the entry.
            Release(&writer, &held, false);
            memcpy(held.InfoLine, piece, n);
            held.InfoLength = n;
            held.Info = true;
            continue;
        }
        if (kind == LineBlank && held.Info && lineEnds &&
            held.BlankLength + n + 1 <= sizeof held.Blanks) {
            memcpy(held.Blanks + held.BlankLength, piece, n);
            held.BlankLength += n;
            held.Blanks[held.BlankLength++] = '\n';
            continue;
        }
        if (kind != LinePath) {
            // Directives go out at once, ahead of a held info line, as do blank lines that
            // cannot wait and an info line too long to hold.
            WriteBlanks(&writer, &held);
            WriteBytes(&writer, piece, n);
            RestOfLine(&reader, &writer, piece, lineEnds);
            WriteLineEnd(&writer);
            continue;
        }
        size_t units = ListedName(piece, n, lineEnds, encoding, name);
        if (units != NotListed && Named(&table, folders, name, units)) {
            Release(&writer, &held, false);
            RestOfLine(&reader, nullptr, piece, lineEnds);
        } else {
            // A path line keeps its info line, whether it lists or not.
            Release(&writer, &held, true);
            WriteBytes(&writer, piece, n);
            RestOfLine(&reader, &writer, piece, lineEnds);
            WriteLineEnd(&writer);
        }
    }
    // An info line with no entry after it describes nothing.
    Release(&writer, &held, false);
    WriteRemainder(&writer, &reader);
    pass->Written = FinishWriter(&writer);
    pass->Guarded = writer.Guarded;
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
    // one before wrote: a rewrite reads back as the lines it kept, so deleting in steps deletes
    // what the whole list would. Two temporary files take turns.
    char16_t temp[2][PathUnits] = {};
    PlatformFile* out =
        TempNameBeside(packedFile, temp[0]) ? FileOpen(temp[0], FileForWriting) : nullptr;
    if (!out) {
        FileClose(playlist);
        return E_NOT_SUPPORTED;
    }
    PlatformFile* in = playlist;
    int now = 0; // temp[now] is being written
    Pass pass = {};
    int result = DeleteBatch(names, in, out, false, &pass);
    while (pass.More && result == E_SUCCESS && pass.Written) {
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
        result = DeleteBatch(names, in, out, pass.Guarded, &pass);
    }
    if (in != playlist) {
        FileClose(in);
        RemoveFile(temp[1 - now]);
    }
    result = FinishRewrite(packedFile, temp[now], out, pass.Written, result);
    FileClose(playlist);
    return result;
}
