// Deleting: the playlist rewritten without the named entry lines and their info lines.
#include <cstring>

#include "playlist/nametable.h"
#include "playlist/playlist.h"
#include "text/text.h"

// Keys of the name table: each name of the list as an entry key, and a folder of the listing
// followed by a separator and "*.*" (the host's way of naming a whole folder) also as a folder
// key, which is the name without those four units. The two kinds hash apart and never match
// each other. A key's reference is where its name starts in the host's list, counted from the
// batch's first name; a folder key carries FolderRef besides.
enum : unsigned { EntryKey, FolderKey };
constexpr uint32_t FolderRef = TableRefLimit;

// The names of one batch, and the kind of key being looked for.
struct BatchNames {
    const NameList* Names;
    size_t Start;
    unsigned Kind;
};

static bool SameName(const void* context, uint32_t ref, const KeyText& key) {
    const BatchNames* batch = static_cast<const BatchNames*>(context);
    bool folder = (ref & FolderRef) != 0;
    if (folder != (batch->Kind == FolderKey)) {
        return false;
    }
    char16_t scratch[PathUnits];
    size_t units = 0;
    const char16_t* name =
        NameAt(batch->Names, batch->Start + (ref & (TableRefLimit - 1)), scratch, &units);
    if (folder) {
        units -= 4;
    }
    return name && units == key.Length && memcmp(name, key.Units, units * sizeof(char16_t)) == 0;
}

// Fills the table with the next names of the list, as many as fit; `batch` learns where they
// start. True when names are left for another batch.
static bool FillBatch(NameList* names, NameTable* table, BatchNames* batch, bool* folders) {
    ClearTable(table);
    *folders = false;
    batch->Names = names;
    for (;;) {
        size_t at = names->Offset, before = table->Count;
        const char16_t* name = NextName(names);
        if (!name) {
            return false;
        }
        size_t units = WideLength(name);
        if (units >= PathUnits + 4) {
            continue; // longer than any listed name, and its folder too: it matches none
        }
        if (before == 0) {
            batch->Start = at;
        }
        uint32_t ref = static_cast<uint32_t>(at - batch->Start);
        bool fits = at - batch->Start < TableRefLimit;
        if (fits) {
            batch->Kind = EntryKey;
            fits = TableAdd(table, MakeKey(name, units, EntryKey), ref, SameName, batch) >= 0;
        }
        if (fits && IsFolderName(name, units)) {
            batch->Kind = FolderKey;
            fits = TableAdd(table, MakeKey(name, units - 4, FolderKey), ref | FolderRef, SameName,
                            batch) >= 0;
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
static bool Named(const NameTable* table, BatchNames* batch, bool folders, const char16_t* name,
                  size_t units) {
    batch->Kind = EntryKey;
    if (TableFind(table, MakeKey(name, units, EntryKey), SameName, batch) >= 0) {
        return true;
    }
    batch->Kind = FolderKey;
    for (size_t p = 1; folders && p < units; ++p) {
        if (IsNameSeparator(name[p]) &&
            TableFind(table, MakeKey(name, p, FolderKey), SameName, batch) >= 0) {
            return true;
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
    BatchNames batch = {};
    bool folders = false;
    pass->More = FillBatch(names, &table, &batch, &folders);
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
        if (units != NotListed && Named(&table, &batch, folders, name, units)) {
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
