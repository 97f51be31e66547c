// Adding: one line per packed file, relative to the playlist's directory.
#include <cstring>

#include "path/path.h"
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

// Whether the joined source (UTF-8) names a folder.
static bool IsFolderSource(const char* source) {
    char16_t wide[PathUnits] = {};
    size_t inCount = strlen(source) + 1;
    size_t room = sizeof wide;
    return Utf8ToUtf16(source, inCount, wide, room) == 0 && IsFolder(wide);
}

enum Holding { HoldsNot, Holds, CannotRead };

// Whether the playlist already holds an entry line that lists under `name`.
static Holding HoldsEntry(const char16_t* playlist, const char16_t* name, size_t units) {
    PlatformFile* file = FileOpen(playlist, FileForReading);
    if (!file) {
        return CannotRead;
    }
    static_assert(sizeof(LineReader) < 32 * 1024, "fits a host's stack");
    LineReader reader;
    StartReader(&reader, file);
    TextEncoding encoding = ReaderEncoding(&reader);
    char line[LineBytes] = {};
    char16_t listed[PathUnits];
    size_t length = 0;
    bool lineEnds = false;
    bool found = false;
    bool lineStart = true; // the piece after one that did not end its line is no line of its own
    while (!found && ReadPiece(&reader, line, &length, &lineEnds)) {
        size_t n = lineStart ? ListedName(line, length, lineEnds, encoding, listed) : NotListed;
        found = n == units && memcmp(listed, name, units * sizeof(char16_t)) == 0;
        lineStart = lineEnds;
    }
    FileClose(file);
    return found ? Holds : reader.Failed ? CannotRead : HoldsNot;
}

// How new lines join the file's text: its encoding, whether it ends inside a line (so that a new
// line needs a break before it), and whether it ends in half a UTF-16 unit. False when it cannot
// be read.
struct TextEnd {
    TextEncoding Encoding;
    bool InsideLine, HalfUnit;
};

static bool InspectEnd(const char16_t* path, TextEnd* end) {
    PlatformFile* file = FileOpen(path, FileForReading);
    if (!file) {
        return false;
    }
    static_assert(sizeof(LineReader) < 32 * 1024, "fits a host's stack");
    LineReader reader;
    StartReader(&reader, file);
    end->Encoding = ReaderEncoding(&reader);
    size_t mark = strlen(ByteOrderMark(&reader));
    bool ok = !reader.Failed;
    FileStatus status = {};
    ok = ok && GetFileStatus(path, &status);
    unsigned char tail[4] = {};
    bool whole = !FileSeekFromEnd(file, sizeof tail); // shorter files are read from the start
    if (whole && !FileSeekFromEnd(file, static_cast<int64_t>(status.Size))) {
        ok = false;
    }
    size_t n = FileRead(file, tail, sizeof tail);
    ok = ok && !FileFailed(file);
    FileClose(file);
    bool onlyMark = status.Size == mark;
    if (end->Encoding == Text8Bit) {
        end->HalfUnit = false;
        end->InsideLine = n > 0 && tail[n - 1] != '\n' && tail[n - 1] != '\r' && !onlyMark;
    } else {
        end->HalfUnit = status.Size % 2 != 0;
        unsigned last = n < 2                          ? 0
                        : end->Encoding == TextUtf16Le ? tail[n - 2] | tail[n - 1] << 8
                                                       : tail[n - 2] << 8 | tail[n - 1];
        end->InsideLine = !onlyMark && (end->HalfUnit || (last != '\n' && last != '\r'));
    }
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
    // The base keeps its last separator: "C:\" stays the root it is, where "C:" would not.
    char* slash = strrchr(base, HostPaths.Separator);
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
    TextEnd end = {Text8Bit, false, false};
    if (copied == E_SUCCESS && !InspectEnd(temp, &end)) {
        RemoveFile(temp);
        return E_EREAD;
    }
    bool needBreak = end.InsideLine;
    PlatformFile* out = FileOpen(temp, FileForAppending);
    if (!out) {
        RemoveFile(temp);
        return E_NOT_SUPPORTED;
    }
    LineWriter writer;
    StartWriter(&writer, out, end.Encoding, end.HalfUnit);
    // An old last line without a line break stays apart from the first new one.
    char entry[LineBytes];
    char16_t listed[PathUnits];
    int result = E_SUCCESS;
    while (const char16_t* name = NextName(names)) {
        SourcePath(srcPath, name, source);
        if (HostPaths.PacksFilesOnly && IsFolderSource(source)) {
            continue;
        }
        EntryLine(base, source, entry);
        // The new line is a duplicate when an old one lists under the name it will list under.
        size_t units = ListedName(entry, strlen(entry), true, Text8Bit, listed);
        Holding holding = copied == E_SUCCESS && units != NotListed
                              ? HoldsEntry(packedFile, listed, units)
                              : HoldsNot;
        if (holding == CannotRead) {
            result = E_EREAD; // a duplicate test that cannot read must not guess
            break;
        }
        if (holding == Holds) {
            continue;
        }
        if (needBreak) {
            BreakLine(&writer);
            needBreak = false;
        }
        WriteText(&writer, entry, strlen(entry));
        WriteLineEnd(&writer);
    }
    return FinishRewrite(packedFile, temp, &writer, out, result);
}
