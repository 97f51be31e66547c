// Deleting: the playlist rewritten without the named entry lines and their info lines.
#include <cstring>

#include "playlist/playlist.h"
#include "text/text.h"

// The names to delete in UTF-16. A wide list is the host's own; a narrow one is converted once
// per call when it fits, otherwise again for every line.
struct WantedNames {
    NameList* Names;
    bool Ready;
    char16_t Converted[4 * LineBytes];
};

static void PrepareNames(NameList* names, WantedNames* wanted) {
    wanted->Names = names;
    wanted->Ready = false;
    if (names->Wide) {
        return;
    }
    size_t used = 0;
    names->Offset = 0;
    while (const char16_t* name = NextName(names)) {
        size_t n = WideLength(name) + 1;
        if (used + n + 1 > sizeof wanted->Converted / sizeof(char16_t)) {
            return;
        }
        memcpy(wanted->Converted + used, name, n * sizeof(char16_t));
        used += n;
    }
    wanted->Converted[used] = 0;
    wanted->Ready = true;
}

// Whether the listed name of a line is one of the names to delete.
static bool Wanted(WantedNames* wanted, const char16_t* listed, size_t units) {
    if (wanted->Ready || wanted->Names->Wide) {
        const char16_t* name = wanted->Ready ? wanted->Converted : wanted->Names->Wide;
        for (; *name; name += WideLength(name) + 1) {
            if (NameMatches(listed, units, name, WideLength(name))) {
                return true;
            }
        }
        return false;
    }
    NameList* names = wanted->Names;
    names->Offset = 0;
    while (const char16_t* name = NextName(names)) {
        if (NameMatches(listed, units, name, WideLength(name))) {
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

int DeleteEntries(const char16_t* packedFile, NameList* names) {
    if (!packedFile || !NamesConvert(names)) {
        return E_NOT_SUPPORTED;
    }
    PlatformFile* in = FileOpen(packedFile, FileForReading);
    if (!in) {
        return E_NOT_SUPPORTED;
    }
    char16_t temp[PathUnits] = {};
    PlatformFile* out = TempNameBeside(packedFile, temp) ? FileOpen(temp, FileForWriting) : nullptr;
    if (!out) {
        FileClose(in);
        return E_NOT_SUPPORTED;
    }
    static_assert(sizeof(LineReader) + sizeof(LineWriter) + sizeof(WantedNames) + sizeof(Held) <
                      96 * 1024,
                  "fits a host's stack");
    LineReader reader;
    LineWriter writer;
    WantedNames wanted;
    Held held;
    held.Info = false;
    held.BlankLength = 0;
    PrepareNames(names, &wanted);
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
        if (units != NotListed && Wanted(&wanted, name, units)) {
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
    int result = FinishRewrite(packedFile, temp, &writer, out, reader.Failed ? E_EREAD : 0);
    FileClose(in);
    return result;
}
