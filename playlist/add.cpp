// Adding: one line per packed file, relative to the playlist's directory.
#include <cstring>

#include "path/path.h"
#include "playlist/playlist.h"
#include "text/text.h"

static size_t WideLength(const char16_t* s) {
    size_t n = 0;
    while (s[n]) {
        ++n;
    }
    return n;
}

// Encodes a whole string with its terminator at out[*used]; false when it does not fit.
static bool AppendUtf8(char* out, size_t* used, const char16_t* text) {
    size_t inCount = (WideLength(text) + 1) * 2;
    size_t room = LineBytes - *used;
    if (Utf16ToUtf8(text, inCount, out + *used, room) != 0) {
        return false;
    }
    *used = LineBytes - room - 1;
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

// Whether the playlist already holds `entry` as an entry line; false when it cannot be read.
static bool HoldsEntry(const char16_t* playlist, const char* entry) {
    PlatformFile* file = FileOpen(playlist, FileForReading);
    if (!file) {
        return false;
    }
    static_assert(sizeof(LineReader) < 32 * 1024, "fits a host's stack");
    LineReader reader;
    StartReader(&reader, file);
    char line[LineBytes] = {};
    bool lineBreak = false;
    bool found = false;
    while (!found && ReadPiece(&reader, line, &lineBreak) > 0) {
        CutLine(line);
        found = line[0] != '#' && strcmp(line, entry) == 0;
    }
    FileClose(file);
    return found;
}

// The last byte of a file, or -1 when it is empty or cannot be read.
static int LastByte(const char16_t* path) {
    PlatformFile* file = FileOpen(path, FileForReading);
    if (!file) {
        return -1;
    }
    unsigned char last = 0;
    bool ok = FileSeekFromEnd(file, 1) && FileRead(file, &last, 1) == 1;
    FileClose(file);
    return ok ? last : -1;
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
    int last = copied == E_SUCCESS ? LastByte(temp) : -1;
    PlatformFile* out = FileOpen(temp, FileForAppending);
    if (!out) {
        RemoveFile(temp);
        return E_NOT_SUPPORTED;
    }
    LineWriter writer;
    StartWriter(&writer, out);
    // Keeps an old last line without a line break apart from the first new one.
    bool needBreak = last >= 0 && last != '\n';
    char entry[LineBytes];
    while (const char16_t* name = NextName(names)) {
        SourcePath(srcPath, name, source);
        EntryLine(base, source, entry);
        if (HoldsEntry(packedFile, entry)) {
            continue;
        }
        if (needBreak) {
            WriteLineEnd(&writer);
            needBreak = false;
        }
        WriteBytes(&writer, entry, strlen(entry));
        WriteLineEnd(&writer);
    }
    return FinishRewrite(packedFile, temp, &writer, out, E_SUCCESS);
}
