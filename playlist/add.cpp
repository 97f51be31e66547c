// Adding: one line per packed file, relative to the playlist's directory.
#include <cstring>

#include "path/path.h"
#include "playlist/nametable.h"
#include "playlist/playlist.h"
#include "text/text.h"

// Encodes a whole string with its terminator at out[*used]; false when it does not fit.
static bool AppendUtf8(char* out, size_t* used, const char16_t* text) {
    if (!ToUtf8(text, out + *used, LineBytes - *used)) {
        return false;
    }
    *used += strlen(out + *used);
    return true;
}

// SrcPath and the name joined, in UTF-8; false when it does not fit a line.
static bool SourcePath(const char16_t* srcPath, const char16_t* name, char* out) {
    memset(out, 0, LineBytes);
    size_t used = 0;
    return (!srcPath || AppendUtf8(out, &used, srcPath)) && AppendUtf8(out, &used, name);
}

// The line that names the source: relative to the playlist's directory, or the source's full
// path when it lies on another root (or the relative form would not fit a line).
static void EntryLine(const char* base, const char* source, char* line) {
    memset(line, 0, LineBytes);
    size_t length = RelativePath(base, source, line, LineBytes);
    if (length == 0 || length >= LineBytes) {
        strcpy(line, source); // both LineBytes; source is terminated inside its buffer
    }
}

// Marks every key of the table that stands in the playlist as an entry line, in one reading of
// it; false when the playlist could not be read as far as needed.
[[gnu::noinline]] static bool MarkHeld(const char16_t* playlist, NameTable* table) {
    PlatformFile* file = FileOpen(playlist, FileForReading);
    if (!file) {
        return false;
    }
    LineReader reader;
    StartReader(&reader, file);
    char line[LineBytes] = {};
    bool lineBreak = false;
    bool lineStart = true; // the piece after one that did not end its line is no line of its own
    size_t left = table->Count;
    while (size_t n = left > 0 ? ReadPiece(&reader, line, &lineBreak) : 0) {
        n = LineLength(line, n);
        int i = lineStart && line[0] != '#' ? TableFind(table, line, n) : -1;
        if (i >= 0 && !table->Found[i]) {
            table->Found[i] = true;
            --left;
        }
        lineStart = lineBreak;
    }
    FileClose(file);
    return left == 0 || !reader.Failed;
}

// Appends the line of every name that the playlist does not hold yet, in list order. The names
// go in batches of what the table holds, each tested in one reading of the playlist as it stood
// before the call; a name given twice is appended twice. Its own frame, so that the table and
// the buffers are gone before the copy back.
[[gnu::noinline]] static int AppendNames(const char16_t* packedFile, bool test, const char* base,
                                         const char16_t* srcPath, NameList* names,
                                         PlatformFile* out, bool needBreak, bool* written) {
    static_assert(sizeof(NameTable) + sizeof(LineWriter) + sizeof(LineReader) < 96 * 1024,
                  "fits a host's stack");
    NameTable table;
    LineWriter writer;
    StartWriter(&writer, out);
    char source[LineBytes];
    char entry[LineBytes];
    int result = E_SUCCESS;
    names->Offset = 0;
    for (bool more = true; more && result == E_SUCCESS;) {
        size_t first = names->Offset, count = 0;
        ClearTable(&table);
        more = false;
        for (;;) {
            size_t at = names->Offset;
            const char16_t* name = NextName(names);
            if (!name) {
                break;
            }
            SourcePath(srcPath, name, source);
            EntryLine(base, source, entry);
            if (TableAdd(&table, entry, strlen(entry)) < 0) {
                names->Offset = at; // the name starts the next batch
                more = true;
                break;
            }
            ++count;
        }
        if (test && count > 0 && !MarkHeld(packedFile, &table)) {
            result = E_EREAD; // a duplicate test that cannot read must not guess
            break;
        }
        names->Offset = first;
        for (size_t k = 0; k < count; ++k) {
            SourcePath(srcPath, NextName(names), source);
            EntryLine(base, source, entry);
            size_t length = strlen(entry);
            if (table.Found[TableFind(&table, entry, length)]) {
                continue;
            }
            // An old last line without a line break stays apart from the first new one.
            if (needBreak) {
                WriteLineEnd(&writer);
                needBreak = false;
            }
            WriteBytes(&writer, entry, length);
            WriteLineEnd(&writer);
        }
    }
    *written = FinishWriter(&writer);
    return result;
}

// Whether the file's text ends inside a line, so that a new line needs a break before it: it
// does not end in LF and holds more than a byte-order mark. False when it cannot be read.
static bool EndsInsideLine(const char16_t* path, bool* inside) {
    PlatformFile* file = FileOpen(path, FileForReading);
    if (!file) {
        return false;
    }
    unsigned char tail[4] = {};
    bool whole = !FileSeekFromEnd(file, sizeof tail); // shorter files are read from the start
    size_t n = FileRead(file, tail, sizeof tail);
    bool ok = !FileFailed(file);
    FileClose(file);
    bool onlyMark = whole && n == 3 && memcmp(tail, "\xEF\xBB\xBF", 3) == 0;
    *inside = n > 0 && tail[n - 1] != '\n' && !onlyMark;
    return ok;
}

int AddEntries(const char16_t* packedFile, const char16_t* srcPath, NameList* names) {
    if (!packedFile || !NamesConvert(names)) {
        return E_NOT_SUPPORTED;
    }
    if (srcPath && !srcPath[0]) {
        srcPath = nullptr;
    }
    char base[LineBytes] = {};
    char source[LineBytes] = {};
    size_t used = 0;
    if (!AppendUtf8(base, &used, packedFile)) {
        return E_NOT_SUPPORTED;
    }
    // The base keeps its last backslash: "C:\" stays the root it is, where "C:" would not.
    char* slash = strrchr(base, '\\');
    (slash ? slash + 1 : base)[0] = 0;
    // Every source must fit a line before anything is touched.
    while (const char16_t* name = NextName(names)) {
        if (!SourcePath(srcPath, name, source)) {
            return E_NOT_SUPPORTED;
        }
    }
    names->Offset = 0;

    char16_t temp[PathUnits] = {};
    if (!TempNameBeside(packedFile, temp)) {
        return E_NOT_SUPPORTED;
    }
    int copied = CopyFileData(temp, packedFile, false);
    if (copied == E_EOPEN && PathExists(packedFile)) {
        return E_EOPEN; // a playlist that cannot be read must not be replaced by a new one
    }
    if (copied != E_SUCCESS && copied != E_EOPEN) {
        RemoveFile(temp);
        return copied == E_ECREATE ? E_NOT_SUPPORTED : copied;
    }
    bool needBreak = false;
    if (copied == E_SUCCESS && !EndsInsideLine(temp, &needBreak)) {
        RemoveFile(temp);
        return E_EREAD;
    }
    PlatformFile* out = FileOpen(temp, FileForAppending);
    if (!out) {
        RemoveFile(temp);
        return E_NOT_SUPPORTED;
    }
    bool written = false;
    int result = AppendNames(packedFile, copied == E_SUCCESS, base, srcPath, names, out, needBreak,
                             &written);
    return FinishRewrite(packedFile, temp, out, written, result);
}
