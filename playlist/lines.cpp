// Line reading and writing over binary streams, so that every build treats line ends alike.
#include <cstring>

#include "playlist/playlist.h"

static bool Refill(LineReader* r) {
    if (r->Ended) {
        return false;
    }
    r->Pos = 0;
    r->Len = FileRead(r->File, r->Buffer, sizeof r->Buffer);
    if (r->Len == 0) {
        r->Ended = true;
        r->Failed = FileFailed(r->File);
        return false;
    }
    return true;
}

void StartReader(LineReader* reader, PlatformFile* file) {
    memset(reader, 0, sizeof *reader);
    reader->File = file;
}

static void SkipByteOrderMark(LineReader* r) {
    r->Started = true;
    if (!Refill(r)) {
        return;
    }
    // A stream hands out a regular file's first block whole, so the mark is all in view.
    if (r->Len >= 3 && r->Buffer[0] == 0xEF && r->Buffer[1] == 0xBB && r->Buffer[2] == 0xBF) {
        r->Pos = 3;
        r->ByteOrderMark = true;
    }
}

bool HasByteOrderMark(LineReader* reader) {
    if (!reader->Started) {
        SkipByteOrderMark(reader);
    }
    return reader->ByteOrderMark;
}

// Bytes before the first of a, b and c: eight at a time, since most bytes of a playlist are
// none of them and the runtime's own searches look for one byte only.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "words are read little-endian");

static size_t RunWithout(const unsigned char* p, size_t n, unsigned char a, unsigned char b,
                         unsigned char c) {
    const uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        memcpy(&w, p + i, 8);
        uint64_t x = w ^ (ones * a), y = w ^ (ones * b), z = w ^ (ones * c);
        // The lowest high bit set marks the first byte of w that is a, b or c (bits above it
        // may be set by a borrow, never bits below). Bytes are loaded in little-endian order.
        uint64_t found = (((x - ones) & ~x) | ((y - ones) & ~y) | ((z - ones) & ~z)) & highs;
        if (found) {
            return i + static_cast<size_t>(__builtin_ctzll(found)) / 8;
        }
    }
    while (i < n && p[i] != a && p[i] != b && p[i] != c) {
        ++i;
    }
    return i;
}

size_t LineLength(const char* piece, size_t n) {
    return RunWithout(reinterpret_cast<const unsigned char*>(piece), n, '\r', '\n', 0);
}

size_t ReadPiece(LineReader* r, char* line, bool* lineBreak) {
    if (!r->Started) {
        SkipByteOrderMark(r);
    }
    size_t n = 0;
    *lineBreak = false;
    while (n < PieceBytes) {
        if (r->Pos == r->Len && !Refill(r)) {
            break;
        }
        // Ordinary bytes in one go; the loop below decides on the next line end or end mark.
        size_t room = r->Len - r->Pos < PieceBytes - n ? r->Len - r->Pos : PieceBytes - n;
        size_t run = RunWithout(r->Buffer + r->Pos, room, '\n', '\r', 0x1A);
        memcpy(line + n, r->Buffer + r->Pos, run);
        n += run;
        r->Pos += run;
        if (run == room) {
            continue;
        }
        unsigned char c = r->Buffer[r->Pos];
        if (c == 0x1A) {
            // The text ends here; the byte stays in the buffer for WriteRemainder.
            r->AtEndMark = true;
            r->Ended = true;
            break;
        }
        ++r->Pos;
        if (c == '\r') {
            if (r->Pos == r->Len && !Refill(r)) {
                r->LoneReturn = true;
                line[n++] = '\r';
                break;
            }
            if (r->Buffer[r->Pos] == '\n') {
                ++r->Pos;
                c = '\n';
            }
        }
        r->LoneReturn = r->LoneReturn || c == '\r';
        line[n++] = static_cast<char>(c);
        if (c == '\n') {
            *lineBreak = true;
            break;
        }
    }
    line[n] = 0;
    return n;
}

size_t CutLine(char* line) {
    size_t n = strcspn(line, "\r\n");
    line[n] = 0;
    return n;
}

void StartWriter(LineWriter* writer, PlatformFile* file) {
    writer->File = file;
    writer->Len = 0;
    writer->Failed = false;
}

static void Drain(LineWriter* w) {
    if (w->Len > 0 && !w->Failed && !FileWrite(w->File, w->Buffer, w->Len)) {
        w->Failed = true;
    }
    w->Len = 0;
}

void WriteBytes(LineWriter* w, const void* data, size_t bytes) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (bytes > 0) {
        if (w->Len == sizeof w->Buffer) {
            Drain(w);
        }
        size_t room = sizeof w->Buffer - w->Len;
        size_t n = bytes < room ? bytes : room;
        memcpy(w->Buffer + w->Len, p, n);
        w->Len += n;
        p += n;
        bytes -= n;
    }
}

void WriteLineEnd(LineWriter* writer) {
    WriteBytes(writer, "\r\n", 2);
}

void WriteRemainder(LineWriter* writer, LineReader* reader) {
    if (!reader->AtEndMark) {
        return;
    }
    for (;;) {
        WriteBytes(writer, reader->Buffer + reader->Pos, reader->Len - reader->Pos);
        reader->Pos = 0;
        reader->Len = FileRead(reader->File, reader->Buffer, sizeof reader->Buffer);
        if (reader->Len == 0) {
            break;
        }
    }
    if (FileFailed(reader->File)) {
        reader->Failed = true;
    }
}

bool FinishWriter(LineWriter* writer) {
    Drain(writer);
    return !writer->Failed;
}
