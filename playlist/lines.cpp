// Line reading and writing over binary streams, so that every build treats line ends alike.
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "playlist/playlist.h"
#include "text/text.h"

// At least `n` bytes at Pos, reading on as needed; false when the file ends before. Bytes not
// yet taken move to the buffer's start, so a unit or a CR LF split by a read is whole again.
static bool ReadMore(LineReader* r, size_t n) {
    if (r->Ended) {
        return false;
    }
    size_t rest = r->Len - r->Pos;
    memmove(r->Buffer, r->Buffer + r->Pos, rest);
    r->Pos = 0;
    r->Len = rest;
    while (r->Len < n) {
        size_t got = FileRead(r->File, r->Buffer + r->Len, sizeof r->Buffer - r->Len);
        if (got == 0) {
            r->Ended = true;
            r->Failed = FileFailed(r->File);
            return false;
        }
        r->Len += got;
    }
    return true;
}

// Inline, since it is asked several times a line and nearly always holds.
static inline bool Have(LineReader* r, size_t n) {
    return r->Len - r->Pos >= n || ReadMore(r, n);
}

void StartReader(LineReader* reader, PlatformFile* file) {
    memset(reader, 0, sizeof *reader);
    reader->File = file;
    reader->Mark = "";
}

// The byte-order mark that `bytes` begin with, and the encoding it stands for; "" when none.
static const char* MarkAt(const unsigned char* b, size_t n, TextEncoding* encoding) {
    *encoding = Text8Bit;
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        return "\xEF\xBB\xBF";
    }
    if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        *encoding = TextUtf16Le;
        return "\xFF\xFE";
    }
    if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
        *encoding = TextUtf16Be;
        return "\xFE\xFF";
    }
    return "";
}

static void Start(LineReader* r) {
    r->Started = true;
    Have(r, 3);
    r->Mark = MarkAt(r->Buffer, r->Len, &r->Encoding);
    r->Pos = strlen(r->Mark);
}

TextEncoding ReaderEncoding(LineReader* reader) {
    if (!reader->Started) {
        Start(reader);
    }
    return reader->Encoding;
}

const char* ByteOrderMark(LineReader* reader) {
    if (!reader->Started) {
        Start(reader);
    }
    return reader->Mark;
}

static bool IsLineEnd(unsigned c) {
    return c == '\r' || c == '\n';
}

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "words are read little-endian");

// Bytes before the first CR, LF or 0x1A among the first `n`: eight at a time, since most bytes
// of a playlist are none of them and the runtime's own searches look for one byte only. Words
// may be loaded up to `loadable` bytes (at least n), past the n that count, so a line's last
// bytes need no byte-by-byte tail; what lies past n never counts.
[[gnu::always_inline]] static inline size_t OrdinaryRun(const unsigned char* p, size_t n,
                                                        size_t loadable) {
    const uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
    size_t i = 0;
#if defined(__SSE2__)
    // Sixteen at a time where every x86-64 machine can: a line then takes one or two steps.
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n'), end = _mm_set1_epi8(0x1A);
    while (i < n && i + 16 <= loadable) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)),
                                   _mm_cmpeq_epi8(v, end));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        if (mask != 0) {
            i += static_cast<size_t>(__builtin_ctz(mask));
            return i < n ? i : n;
        }
        i += 16;
    }
#endif
    while (i < n && i + 8 <= loadable) {
        uint64_t w;
        memcpy(&w, p + i, 8);
        // The lowest high bit set marks the first byte of w below 0x1B, which takes in all
        // three (bits above it may be set by a borrow, never bits below). Bytes are loaded in
        // little-endian order. A tab or another control byte found so is passed over.
        uint64_t low = (w - ones * 0x1B) & ~w & highs;
        if (!low) {
            i += 8;
            continue;
        }
        i += static_cast<size_t>(__builtin_ctzll(low)) / 8;
        if (i >= n || IsLineEnd(p[i]) || p[i] == 0x1A) {
            return i < n ? i : n;
        }
        ++i;
    }
    while (i < n && !IsLineEnd(p[i]) && p[i] != 0x1A) {
        ++i;
    }
    return i < n ? i : n;
}

static inline void NoteFirstEnd(LineReader* r, bool crLf) {
    if (r->FirstEnd == FirstEndUnread) {
        r->FirstEnd = crLf ? FirstEndCrLf : FirstEndOther;
    }
}

static bool Piece8(LineReader* r, char* line, size_t* length, bool* lineEnds) {
    if (r->AtEndMark || !Have(r, 1) || r->Buffer[r->Pos] == 0x1A) {
        // The end mark stays in the buffer for WriteRemainder.
        r->AtEndMark = r->AtEndMark || (r->Pos < r->Len && r->Buffer[r->Pos] == 0x1A);
        return false;
    }
    size_t n = 0;
    for (;;) {
        if (!Have(r, 1)) {
            *lineEnds = true;
            NoteFirstEnd(r, false);
            break;
        }
        // The run of ordinary bytes in view, at once, as far as a piece holds.
        const unsigned char* at = r->Buffer + r->Pos;
        size_t inView = r->Len - r->Pos, room = PieceBytes - n;
        size_t run = OrdinaryRun(at, inView < room ? inView : room, sizeof r->Buffer - r->Pos);
        memcpy(line + n, at, run);
        n += run;
        r->Pos += run;
        if (run == inView) {
            continue; // read on: the line may end in the next block
        }
        unsigned char next = at[run];
        if (next == 0x1A) {
            r->AtEndMark = true;
            *lineEnds = true;
            NoteFirstEnd(r, false);
        } else if (IsLineEnd(next)) {
            ++r->Pos;
            bool crLf = next == '\r' && Have(r, 1) && r->Buffer[r->Pos] == '\n';
            r->Pos += crLf;
            *lineEnds = true;
            NoteFirstEnd(r, crLf);
        }
        break; // at the line's end, or the piece is full and the line goes on in the next
    }
    line[n] = 0;
    *length = n;
    return true;
}

static bool Piece16(LineReader* r, char* line, size_t* length, bool* lineEnds) {
    if (!Have(r, 1)) {
        return false;
    }
    size_t n = 0;
    for (;;) {
        if (!Have(r, 2)) {
            // Half a unit at the very end: kept in the line, raw.
            if (Have(r, 1)) {
                line[n++] = static_cast<char>(r->Buffer[r->Pos++]);
            }
            *lineEnds = true;
            NoteFirstEnd(r, false);
            break;
        }
        unsigned unit = UnitAt(r->Buffer + r->Pos, r->Encoding);
        if (IsLineEnd(unit)) {
            r->Pos += 2;
            bool crLf =
                unit == '\r' && Have(r, 2) && UnitAt(r->Buffer + r->Pos, r->Encoding) == '\n';
            r->Pos += crLf ? 2 : 0;
            *lineEnds = true;
            NoteFirstEnd(r, crLf);
            break;
        }
        if (n + 2 > PieceBytes) {
            break;
        }
        memcpy(line + n, r->Buffer + r->Pos, 2);
        n += 2;
        r->Pos += 2;
    }
    line[n] = 0;
    *length = n;
    return true;
}

bool ReadPiece(LineReader* r, char* line, size_t* length, bool* lineEnds) {
    if (!r->Started) {
        Start(r);
    }
    *lineEnds = false;
    *length = 0;
    line[0] = 0;
    bool read = r->Encoding == Text8Bit ? Piece8(r, line, length, lineEnds)
                                        : Piece16(r, line, length, lineEnds);
    if (!read) {
        NoteFirstEnd(r, false); // no line at all
    }
    return read;
}

bool ReadPieceView(LineReader* r, char* line, const char** bytes, size_t* length, bool* lineEnds) {
    // Nearly every line of 8-bit text lies whole in the buffer, its end in view: it is taken
    // where it lies, as Piece8 would take it. Anything else goes the copying way.
    const unsigned char* at = r->Buffer + r->Pos;
    size_t inView = r->Len - r->Pos;
    if (r->Started && r->Encoding == Text8Bit && !r->AtEndMark && inView > 0 && at[0] != 0x1A) {
        size_t run = OrdinaryRun(at, inView < size_t{PieceBytes} ? inView : size_t{PieceBytes},
                                 sizeof r->Buffer - r->Pos);
        unsigned char next = run < inView ? at[run] : 0;
        // A CR last in view may have its LF in the next block.
        if (run < inView && !(next == '\r' && run + 1 == inView)) {
            size_t taken = run;
            bool ends = true, crLf = false;
            if (next == 0x1A) {
                r->AtEndMark = true; // the end mark stays in the buffer for WriteRemainder
            } else if (IsLineEnd(next)) {
                crLf = next == '\r' && at[run + 1] == '\n';
                taken += crLf ? 2 : 1;
            } else {
                ends = false; // the piece is full and the line goes on in the next
            }
            if (ends) {
                NoteFirstEnd(r, crLf);
            }
            r->Pos += taken;
            *bytes = reinterpret_cast<const char*>(at);
            *length = run;
            *lineEnds = ends;
            return true;
        }
    }
    *bytes = line;
    return ReadPiece(r, line, length, lineEnds);
}

bool EndsInCrLf(const LineReader* reader) {
    return !HostPaths.LfUnlessCrLf || reader->FirstEnd == FirstEndCrLf;
}

void FollowLineEnds(LineWriter* writer, const LineReader* reader) {
    writer->CrLf = EndsInCrLf(reader);
}

void StartWriter(LineWriter* writer, PlatformFile* file, TextEncoding encoding,
                 bool halfUnitBefore) {
    writer->File = file;
    writer->Len = 0;
    writer->Failed = false;
    writer->HalfUnit = halfUnitBefore && encoding != Text8Bit;
    writer->GuardMark = false;
    writer->Guarded = false;
    writer->CrLf = true;
    writer->Encoding = encoding;
}

void BreakLine(LineWriter* writer) {
    if (writer->HalfUnit) {
        WriteBytes(writer, "", 1);
    }
    WriteLineEnd(writer);
}

static void Drain(LineWriter* w) {
    if (w->Len > 0 && !w->Failed && !FileWrite(w->File, w->Buffer, w->Len)) {
        w->Failed = true;
    }
    w->Len = 0;
}

void WriteBytes(LineWriter* w, const void* data, size_t bytes) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    // Nearly always: a line that fits the buffer, with nothing to guard.
    if (!w->GuardMark && bytes <= sizeof w->Buffer - w->Len) {
        memcpy(w->Buffer + w->Len, p, bytes);
        w->Len += bytes;
        w->HalfUnit = w->HalfUnit != (bytes % 2 == 1);
        return;
    }
    if (w->GuardMark) {
        // A line that comes first only once the lines before it are gone must not turn into a
        // byte-order mark, which would change how the whole file reads.
        w->GuardMark = false;
        TextEncoding encoding;
        if (MarkAt(p, bytes, &encoding)[0]) {
            WriteLineEnd(w);
            w->Guarded = true;
        }
    }
    w->HalfUnit = w->HalfUnit != (bytes % 2 == 1);
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

void WriteText(LineWriter* writer, const char* utf8, size_t bytes) {
    if (writer->Encoding == Text8Bit) {
        WriteBytes(writer, utf8, bytes);
        return;
    }
    // Our own lines are whole UTF-8 of at most a line's bytes, so they convert in one go.
    unsigned char units[2 * LineBytes];
    size_t inCount = bytes, room = sizeof units;
    Utf8ToUtf16(utf8, inCount, units, room);
    size_t n = sizeof units - room;
    if (writer->Encoding == TextUtf16Be) {
        for (size_t i = 0; i + 1 < n; i += 2) {
            unsigned char low = units[i];
            units[i] = units[i + 1];
            units[i + 1] = low;
        }
    }
    WriteBytes(writer, units, n);
}

void WriteLineEnd(LineWriter* writer) {
    if (writer->Encoding == Text8Bit && !writer->GuardMark &&
        sizeof writer->Buffer - writer->Len >= 2) {
        if (writer->CrLf) {
            writer->Buffer[writer->Len++] = '\r';
        }
        writer->Buffer[writer->Len++] = '\n';
        return;
    }
    if (writer->Encoding != Text8Bit && writer->HalfUnit) {
        return;
    }
    // CR LF in each encoding (in the order of TextEncoding), or its LF alone.
    static const char* const ends[] = {"\r\n", "\r\0\n\0", "\0\r\0\n"};
    size_t unit = writer->Encoding == Text8Bit ? 1 : 2;
    size_t skip = writer->CrLf ? 0 : unit;
    WriteBytes(writer, ends[writer->Encoding] + skip, 2 * unit - skip);
}

void WriteWholeLine(LineWriter* w, const void* data, size_t bytes) {
    // Nearly always: 8-bit text, nothing to guard, room for the line and its end.
    if (w->Encoding == Text8Bit && !w->GuardMark && bytes + 2 <= sizeof w->Buffer - w->Len) {
        memcpy(w->Buffer + w->Len, data, bytes);
        w->Len += bytes;
        w->HalfUnit = w->HalfUnit != (bytes % 2 == 1);
        if (w->CrLf) {
            w->Buffer[w->Len++] = '\r';
        }
        w->Buffer[w->Len++] = '\n';
        return;
    }
    WriteBytes(w, data, bytes);
    WriteLineEnd(w);
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
