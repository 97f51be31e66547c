// Deleting: the playlist rewritten without the named entry lines and their info lines.
#include <cstring>

#include "playlist/playlist.h"
#include "text/text.h"

static bool IsSlash(char c) {
    return c == '\\' || c == '/';
}

// A name equals the line's listed name; or it is a folder of the listing followed by a separator
// and "*.*", which the host passes when the user deletes a whole folder. A line that goes on beyond
// the piece (`complete` false) can only be below a folder: its first piece is no name of its own.
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

// The names in UTF-8, encoded once per call when they fit: each followed by a zero byte, the
// whole by an empty name. Otherwise every line converts the list again, as it goes.
struct EncodedNames {
    bool Ready;
    size_t Used;
    char Text[8 * LineBytes];
};

static void EncodeNames(NameList* names, EncodedNames* encoded) {
    encoded->Ready = false;
    encoded->Used = 0;
    names->Offset = 0;
    char name[LineBytes];
    while (const char16_t* wide = NextName(names)) {
        if (!ToUtf8(wide, name, sizeof name)) {
            continue; // too long for a line: it matches none
        }
        size_t n = strlen(name) + 1;
        if (encoded->Used + n + 1 > sizeof encoded->Text) {
            return;
        }
        memcpy(encoded->Text + encoded->Used, name, n);
        encoded->Used += n;
    }
    encoded->Text[encoded->Used] = 0;
    encoded->Ready = true;
}

static bool InList(NameList* names, const EncodedNames* encoded, const char* line,
                   size_t lineLength, bool complete) {
    if (encoded->Ready) {
        for (const char* name = encoded->Text; *name; name += strlen(name) + 1) {
            if (NameMatches(line, lineLength, complete, name, strlen(name))) {
                return true;
            }
        }
        return false;
    }
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
    static_assert(sizeof(LineReader) + sizeof(LineWriter) < 64 * 1024, "fits a host's stack");
    LineReader reader;
    LineWriter writer;
    EncodedNames encoded;
    EncodeNames(names, &encoded);
    StartReader(&reader, in);
    StartWriter(&writer, out);
    if (HasByteOrderMark(&reader)) {
        WriteBytes(&writer, "\xEF\xBB\xBF", 3);
    }
    char piece[LineBytes] = {};
    char held[LineBytes] = {};
    char listed[LineBytes];
    size_t heldLength = 0;
    bool holding = false;
    bool lineBreak = false;
    while (size_t n = ReadPiece(&reader, piece, &lineBreak)) {
        bool whole = lineBreak || reader.Ended;
        size_t content = Content(piece, n, lineBreak, whole);
        size_t cut = strcspn(piece, "\r\n");
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
        // Names are matched as the host lists them; a line that goes on past its piece was never
        // listed, and only its first bytes can meet a folder.
        bool complete = whole || cut < n;
        const char* line = piece;
        size_t lineLength = cut;
        char saved = piece[cut];
        piece[cut] = 0;
        if (complete && EntryName(piece, listed, sizeof listed)) {
            line = listed;
            lineLength = strlen(listed);
        }
        piece[cut] = saved;
        if (InList(names, &encoded, line, lineLength, complete)) {
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
    int result = FinishRewrite(packedFile, temp, &writer, out, reader.Failed ? E_EREAD : 0);
    FileClose(in);
    return result;
}
