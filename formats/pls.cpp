// PLS: its lines, its entries in order of their numbers, and its rewrite.
#include "formats/pls.h"

#include <cstring>

#include "text/text.h"

// Numbers above this are no entry's: they would not fit the index's flags.
constexpr uint32_t PlsMaxNumber = 999999999u;
constexpr uint32_t DeletedFlag = 0x80000000u, SeenFlag = 0x40000000u, NumberMask = 0x3FFFFFFFu;

static constexpr size_t UnitBytes(TextEncoding encoding) {
    return encoding == Text8Bit ? 1 : 2;
}

static unsigned Unit(const unsigned char* bytes, size_t i, TextEncoding encoding) {
    return encoding == Text8Bit ? bytes[i] : UnitAt(bytes + 2 * i, encoding);
}

static unsigned LowerUnit(unsigned c) {
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

static bool IsBlankUnit(unsigned c) {
    return c == ' ' || c == '\t';
}

// A unit of text of a known encoding: the parse below is made once per encoding, so that 8-bit
// text, which nearly every playlist is, reads its bytes directly.
template <TextEncoding E> static unsigned UnitOf(const unsigned char* bytes, size_t i) {
    return E == Text8Bit ? bytes[i] : UnitAt(bytes + 2 * i, E);
}

// Whether the units [from, to) are the ASCII `lower` without regard to case.
template <TextEncoding E>
static bool SameWordAs(const unsigned char* bytes, size_t from, size_t to, const char* lower) {
    size_t n = strlen(lower);
    if (to - from != n) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        if (LowerUnit(UnitOf<E>(bytes, from + i)) != static_cast<unsigned char>(lower[i])) {
            return false;
        }
    }
    return true;
}

static bool SameWord(const unsigned char* bytes, size_t from, size_t to, TextEncoding encoding,
                     const char* lower) {
    return encoding == Text8Bit      ? SameWordAs<Text8Bit>(bytes, from, to, lower)
           : encoding == TextUtf16Le ? SameWordAs<TextUtf16Le>(bytes, from, to, lower)
                                     : SameWordAs<TextUtf16Be>(bytes, from, to, lower);
}

template <TextEncoding E> static PlsLine ParseLineAs(const unsigned char* bytes, size_t length) {
    PlsLine line = {};
    line.Kind = PlsPlain;
    line.Key = PlsKeyOther;
    size_t units = length / UnitBytes(E);
    size_t i = 0;
    while (i < units && IsBlankUnit(UnitOf<E>(bytes, i))) {
        ++i;
    }
    size_t end = units;
    while (end > i && IsBlankUnit(UnitOf<E>(bytes, end - 1))) {
        --end;
    }
    if (i == end || UnitOf<E>(bytes, i) == '#' || UnitOf<E>(bytes, i) == ';') {
        return line;
    }
    if (UnitOf<E>(bytes, i) == '[') {
        if (UnitOf<E>(bytes, end - 1) == ']') {
            line.Kind = SameWordAs<E>(bytes, i, end, "[playlist]") ? PlsHeader : PlsOtherSection;
        }
        return line;
    }
    size_t equals = i;
    while (equals < units && UnitOf<E>(bytes, equals) != '=') {
        ++equals;
    }
    size_t keyEnd = equals;
    while (keyEnd > i && IsBlankUnit(UnitOf<E>(bytes, keyEnd - 1))) {
        --keyEnd;
    }
    if (equals == units || keyEnd == i) {
        return line;
    }
    line.Kind = PlsKey;
    line.KeyStart = i;
    size_t digits = keyEnd;
    while (digits > i && UnitOf<E>(bytes, digits - 1) >= '0' &&
           UnitOf<E>(bytes, digits - 1) <= '9') {
        --digits;
    }
    uint64_t n = 0;
    for (size_t k = digits; k < keyEnd && n <= PlsMaxNumber; ++k) {
        n = n * 10 + (UnitOf<E>(bytes, k) - '0');
    }
    if (digits > i && digits < keyEnd && n >= 1 && n <= PlsMaxNumber) {
        line.N = static_cast<uint32_t>(n);
        line.DigitsStart = digits;
        line.DigitsEnd = keyEnd;
        line.Key = SameWordAs<E>(bytes, i, digits, "file") ? PlsKeyFile : PlsKeyNumbered;
    } else if (SameWordAs<E>(bytes, i, keyEnd, "numberofentries")) {
        line.Key = PlsKeyEntries;
    }
    size_t value = equals + 1;
    while (value < end && IsBlankUnit(UnitOf<E>(bytes, value))) {
        ++value;
    }
    size_t valueEnd = end > value ? end : value;
    if (valueEnd - value >= 2 && UnitOf<E>(bytes, value) == '"' &&
        UnitOf<E>(bytes, valueEnd - 1) == '"') {
        ++value;
        --valueEnd;
    }
    line.ValueStart = value;
    line.ValueEnd = valueEnd;
    return line;
}

PlsLine ParsePlsLine(const unsigned char* bytes, size_t length, TextEncoding encoding) {
    return encoding == Text8Bit      ? ParseLineAs<Text8Bit>(bytes, length)
           : encoding == TextUtf16Le ? ParseLineAs<TextUtf16Le>(bytes, length)
                                     : ParseLineAs<TextUtf16Be>(bytes, length);
}

// The byte-order mark at the text's start: its length, and the encoding it stands for.
static size_t MarkOf(const unsigned char* b, size_t n, TextEncoding* encoding) {
    *encoding = Text8Bit;
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        return 3;
    }
    if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        *encoding = TextUtf16Le;
        return 2;
    }
    if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
        *encoding = TextUtf16Be;
        return 2;
    }
    return 0;
}

bool IsPlsText(const unsigned char* head, size_t size) {
    TextEncoding encoding;
    size_t at = MarkOf(head, size, &encoding);
    size_t unit = UnitBytes(encoding);
    while (at + unit <= size) {
        size_t end = at;
        while (end + unit <= size && end - at < PlsLineBytes &&
               Unit(head + end, 0, encoding) != '\r' && Unit(head + end, 0, encoding) != '\n') {
            end += unit;
        }
        PlsLine line = ParsePlsLine(head + at, end - at, encoding);
        if (line.Kind == PlsHeader) {
            return true;
        }
        if (line.Kind == PlsKey) {
            return false;
        }
        at = end + unit;
    }
    return false;
}

// At least `n` bytes at Pos, reading on as needed; fewer only at the end of the file.
static void Fill(PlsReader* r, size_t n) {
    if (r->Len - r->Pos >= n || r->Ended) {
        return;
    }
    memmove(r->Buffer, r->Buffer + r->Pos, r->Len - r->Pos);
    r->BufferAt += r->Pos;
    r->Len -= r->Pos;
    r->Pos = 0;
    while (r->Len < n) {
        size_t got =
            r->Source->Read(r->Source->Context, r->Buffer + r->Len, sizeof r->Buffer - r->Len);
        if (got == 0) {
            r->Ended = true;
            r->Failed = r->Source->Failed(r->Source->Context);
            return;
        }
        r->Len += got;
    }
}

static bool SeekReader(PlsReader* r, uint64_t at) {
    if (at >= r->BufferAt && at <= r->BufferAt + r->Len) {
        r->Pos = static_cast<size_t>(at - r->BufferAt);
        return true;
    }
    r->BufferAt = at;
    r->Pos = r->Len = 0;
    r->Ended = false;
    return r->Source->Seek(r->Source->Context, at);
}

bool StartPlsReader(PlsReader* reader, const ByteSource* source) {
    reader->Source = source;
    reader->BufferAt = ~uint64_t{0};
    reader->Pos = reader->Len = 0;
    reader->Failed = false;
    if (!SeekReader(reader, 0)) {
        reader->Failed = true;
        return false;
    }
    Fill(reader, 3);
    reader->MarkBytes = MarkOf(reader->Buffer, reader->Len, &reader->Encoding);
    reader->Pos = reader->MarkBytes;
    return !reader->Failed;
}

// The first CR or LF among `most` bytes, or `most`: eight bytes at a time until a word holds one.
static size_t LineEndIn(const unsigned char* at, size_t most) {
    const uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
    size_t n = 0;
    for (; n + 8 <= most; n += 8) {
        uint64_t word;
        memcpy(&word, at + n, 8);
        uint64_t cr = word ^ (ones * '\r'), lf = word ^ (ones * '\n');
        if ((((cr - ones) & ~cr) | ((lf - ones) & ~lf)) & highs) {
            break; // a zero byte among them: a CR or LF in these eight
        }
    }
    while (n < most && at[n] != '\r' && at[n] != '\n') {
        ++n;
    }
    return n;
}

bool ReadPlsPiece(PlsReader* r, PlsPiece* piece) {
    size_t unit = UnitBytes(r->Encoding);
    Fill(r, PlsLineBytes + 2 * unit);
    size_t avail = r->Len - r->Pos;
    if (avail == 0) {
        return false;
    }
    const unsigned char* at = r->Buffer + r->Pos;
    size_t n = 0;
    unsigned c = 0;
    if (r->Encoding == Text8Bit) {
        // Bytes are units here: a plain scan up to the first line end or the piece's limit.
        size_t most = avail < size_t{PlsLineBytes} ? avail : size_t{PlsLineBytes};
        n = LineEndIn(at, most);
        c = n < most ? at[n] : 0;
    } else {
        while (n + unit <= avail && n < PlsLineBytes &&
               (c = Unit(at + n, 0, r->Encoding)) != '\r' && c != '\n') {
            n += unit;
        }
    }
    piece->Bytes = at;
    piece->At = r->BufferAt + r->Pos;
    piece->EndBytes = 0;
    piece->LineEnds = true;
    if (n + unit > avail) {
        n = avail; // the text's end; half a UTF-16 unit stays with the line
    } else if (n == PlsLineBytes) {
        piece->LineEnds = false;
    } else {
        piece->EndBytes = unit;
        if (c == '\r' && n + 2 * unit <= avail && Unit(at + n + unit, 0, r->Encoding) == '\n') {
            piece->EndBytes = 2 * unit;
        }
    }
    piece->Length = n;
    r->Pos += n + piece->EndBytes;
    return true;
}

bool ReadPlsLineAt(PlsReader* reader, uint64_t at, PlsPiece* piece) {
    return SeekReader(reader, at) && ReadPlsPiece(reader, piece);
}

// The next line's first piece, passing over the rest of the line before.
static bool NextLine(PlsReader* r, PlsPiece* piece, bool* lineStart) {
    while (ReadPlsPiece(r, piece)) {
        bool first = *lineStart;
        *lineStart = piece->LineEnds;
        if (first) {
            return true;
        }
    }
    return false;
}

// The line parsed, and whether the lines from here on lie in the `[playlist]` section.
static PlsLine TakeLine(const PlsReader* r, const PlsPiece& piece, bool* inSection) {
    PlsLine line = ParsePlsLine(piece.Bytes, piece.Length, r->Encoding);
    if (line.Kind == PlsHeader) {
        *inSection = true;
    } else if (line.Kind == PlsOtherSection) {
        *inSection = false;
    }
    return line;
}

static bool IsNumbered(const PlsLine& line, bool inSection) {
    return inSection && line.Kind == PlsKey &&
           (line.Key == PlsKeyFile || line.Key == PlsKeyNumbered);
}

// Where `n` stands or would stand among the sorted numbers, flags aside.
static size_t Place(const uint32_t* numbers, size_t count, uint32_t n, bool* found) {
    size_t low = 0, high = count;
    while (low < high) {
        size_t mid = low + (high - low) / 2;
        if ((numbers[mid] & NumberMask) < n) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    *found = low < count && (numbers[low] & NumberMask) == n;
    return low;
}

static bool BuildWindow(PlsCursor* c) {
    c->Count = 0;
    c->Next = 0;
    c->Full = false;
    if (!StartPlsReader(&c->Reader, c->Reader.Source) ||
        (c->Start > 0 && !SeekReader(&c->Reader, c->Start))) {
        return false;
    }
    PlsPiece piece;
    bool lineStart = true, inSection = c->Start > 0;
    // Entries numbered one above the other where they stand, as writers leave them, end the
    // window as soon as it is full; the next one starts where this one ended.
    uint32_t highest = c->Floor;
    bool ordered = true;
    while (NextLine(&c->Reader, &piece, &lineStart)) {
        PlsLine line = TakeLine(&c->Reader, piece, &inSection);
        if (!IsNumbered(line, inSection) || line.Key != PlsKeyFile || line.N <= c->Floor) {
            continue;
        }
        bool found = false;
        size_t at = Place(c->N, c->Count, line.N, &found);
        if (found) {
            continue; // of two with one number the first counts
        }
        ordered = ordered && line.N == highest + 1;
        highest = line.N > highest ? line.N : highest;
        if (c->Count == PlsWindow) {
            c->Full = true; // a later window takes what lies beyond
            if (ordered) {
                c->Start = piece.At; // every number up to here was seen: the window is whole
                break;
            }
            if (at == c->Count) {
                continue;
            }
            --c->Count;
        }
        memmove(c->N + at + 1, c->N + at, (c->Count - at) * sizeof c->N[0]);
        memmove(c->At + at + 1, c->At + at, (c->Count - at) * sizeof c->At[0]);
        c->N[at] = line.N;
        c->At[at] = piece.At;
        ++c->Count;
    }
    return !c->Reader.Failed;
}

void StartPlsCursor(PlsCursor* cursor, const ByteSource* source) {
    cursor->Reader.Source = source;
    cursor->Floor = 0;
    cursor->Start = 0;
    cursor->Count = cursor->Next = 0;
    cursor->Full = true;
    cursor->Done = false;
}

int NextPlsLocation(PlsCursor* c, char* location, size_t* length, TextEncoding* encoding,
                    bool* whole) {
    while (c->Next == c->Count) {
        if (c->Done || !c->Full) {
            c->Done = true;
            return 0;
        }
        c->Floor = c->Count > 0 ? c->N[c->Count - 1] : c->Floor;
        if (!BuildWindow(c)) {
            c->Done = true;
            return -1;
        }
        if (c->Count == 0) {
            c->Done = true;
            return 0;
        }
    }
    PlsPiece piece;
    if (!ReadPlsLineAt(&c->Reader, c->At[c->Next++], &piece)) {
        return -1;
    }
    PlsLine line = ParsePlsLine(piece.Bytes, piece.Length, c->Reader.Encoding);
    size_t unit = UnitBytes(c->Reader.Encoding);
    *length = (line.ValueEnd - line.ValueStart) * unit;
    memcpy(location, piece.Bytes + line.ValueStart * unit, *length);
    location[*length] = 0;
    *encoding = c->Reader.Encoding;
    *whole = piece.LineEnds;
    return 1;
}

// The line end at the end of a piece, as ASCII.
static void NoteLineEnd(const PlsReader* r, const PlsPiece& piece, char* out) {
    size_t unit = UnitBytes(r->Encoding);
    out[0] = static_cast<char>(Unit(piece.Bytes + piece.Length, 0, r->Encoding));
    out[1] = piece.EndBytes == 2 * unit ? '\n' : 0;
    out[2] = 0;
}

// A FileN key's letters as written, over those of the key before (as many as fit `size`).
static void NoteFileKey(const PlsReader* r, const PlsPiece& piece, const PlsLine& line, char* key,
                        size_t size) {
    size_t letters = line.DigitsStart - line.KeyStart;
    for (size_t i = 0; i < letters && i + 1 < size; ++i) {
        key[i] = static_cast<char>(Unit(piece.Bytes, line.KeyStart + i, r->Encoding));
        key[i + 1] = 0;
    }
}

PlsIndexed IndexPls(const ByteSource* source, PlsIndex* index, const char* lineEnd) {
    return IndexAndMarkPls(source, index, lineEnd, nullptr, nullptr);
}

// Entries 1..PlsEntryLimit listed in order, their flags turned into the bits of an index that
// lists no numbers.
static void ListToBits(PlsIndex* index) {
    for (size_t w = 0; w < PlsEntryLimit / 32; ++w) {
        uint32_t bits = 0;
        for (size_t i = 0; i < 32; ++i) {
            bits |= (index->N[32 * w + i] & DeletedFlag) ? 1u << i : 0;
        }
        index->N[w] = bits; // only numbers already read lie below 32 * w
    }
    memset(index->N + PlsEntryLimit / 32, 0, sizeof index->N - PlsEntryLimit / 32 * 4);
}

PlsIndexed IndexAndMarkPls(const ByteSource* source, PlsIndex* index, const char* lineEnd,
                           PlsNamed named, void* context) {
    static_assert(sizeof(PlsReader) < 12 * 1024, "fits a host's stack");
    PlsReader reader;
    index->Count = index->Kept = 0;
    index->Listed = true;
    index->LastEntryLine = index->HeaderLine = 0;
    uint32_t highest = 0; // the highest entry number so far
    bool ordered = true;  // every entry so far numbered one above the one before
    strcpy(index->FileKey, "File");
    strncpy(index->NewLineEnd, lineEnd, sizeof index->NewLineEnd - 1);
    index->NewLineEnd[sizeof index->NewLineEnd - 1] = 0;
    if (!StartPlsReader(&reader, source)) {
        return PlsIndexUnreadable;
    }
    index->Encoding = reader.Encoding;
    size_t unit = UnitBytes(reader.Encoding);
    PlsPiece piece;
    bool lineStart = true, inSection = false, anyEnd = false;
    uint64_t lineNumber = 0;
    while (NextLine(&reader, &piece, &lineStart)) {
        ++lineNumber;
        if (!anyEnd && piece.EndBytes > 0) {
            NoteLineEnd(&reader, piece, index->NewLineEnd);
            anyEnd = true;
        }
        PlsLine line = TakeLine(&reader, piece, &inSection);
        if (line.Kind == PlsHeader && index->HeaderLine == 0) {
            index->HeaderLine = lineNumber;
        }
        if (!IsNumbered(line, inSection)) {
            continue;
        }
        index->LastEntryLine = lineNumber;
        if (piece.EndBytes > 0) {
            NoteLineEnd(&reader, piece, index->NewLineEnd);
        }
        if (line.Key != PlsKeyFile) {
            continue;
        }
        NoteFileKey(&reader, piece, line, index->FileKey, sizeof index->FileKey);
        // Entries numbered 1, 2, 3... in the order they stand need no list of their numbers.
        if (ordered && line.N <= highest) {
            continue; // the first of its number came before
        }
        ordered = ordered && line.N == highest + 1;
        highest = line.N > highest ? line.N : highest;
        // The first line of each number is its entry's, as MarkPls would find it.
        const char* value = reinterpret_cast<const char*>(piece.Bytes) + line.ValueStart * unit;
        size_t valueBytes = (line.ValueEnd - line.ValueStart) * unit;
        if (!index->Listed) {
            if (!ordered || index->Count == PlsOrderedLimit) {
                return PlsIndexTooMany;
            }
            if (named && named(context, value, valueBytes, reader.Encoding, piece.LineEnds)) {
                index->N[index->Count / 32] |= 1u << (index->Count % 32);
            }
            ++index->Count;
            continue;
        }
        bool found = false;
        size_t at = Place(index->N, index->Count, line.N, &found);
        if (found) {
            continue;
        }
        if (index->Count == PlsEntryLimit) {
            if (!ordered) {
                return PlsIndexTooMany;
            }
            index->Listed = false; // a bit per entry to delete from here on
            ListToBits(index);
            if (named && named(context, value, valueBytes, reader.Encoding, piece.LineEnds)) {
                index->N[index->Count / 32] |= 1u << (index->Count % 32);
            }
            ++index->Count;
            continue;
        }
        memmove(index->N + at + 1, index->N + at, (index->Count - at) * sizeof index->N[0]);
        bool marked = named && named(context, value, valueBytes, reader.Encoding, piece.LineEnds);
        index->N[at] = line.N | (marked ? DeletedFlag : 0);
        ++index->Count;
    }
    index->Kept = index->Count;
    return reader.Failed ? PlsIndexUnreadable : PlsIndexRead;
}

bool MarkPls(const ByteSource* source, PlsIndex* index, PlsNamed named, void* context) {
    PlsReader reader;
    if (!StartPlsReader(&reader, source)) {
        return false;
    }
    size_t unit = UnitBytes(reader.Encoding);
    PlsPiece piece;
    bool lineStart = true, inSection = false;
    uint32_t highest = 0;
    while (NextLine(&reader, &piece, &lineStart)) {
        PlsLine line = TakeLine(&reader, piece, &inSection);
        if (!IsNumbered(line, inSection) || line.Key != PlsKeyFile) {
            continue;
        }
        bool found = false;
        size_t at = 0;
        if (index->Listed) {
            at = Place(index->N, index->Count, line.N, &found);
            if (!found || (index->N[at] & SeenFlag)) {
                continue;
            }
            index->N[at] |= SeenFlag;
        } else if (line.N != highest + 1) {
            continue; // the first of its number came before
        } else {
            highest = line.N;
        }
        const char* value = reinterpret_cast<const char*>(piece.Bytes) + line.ValueStart * unit;
        if (!named(context, value, (line.ValueEnd - line.ValueStart) * unit, reader.Encoding,
                   piece.LineEnds)) {
            continue;
        }
        if (index->Listed) {
            index->N[at] |= DeletedFlag;
        } else {
            index->N[(line.N - 1) / 32] |= 1u << ((line.N - 1) % 32);
        }
    }
    for (size_t i = 0; index->Listed && i < index->Count; ++i) {
        index->N[i] &= ~SeenFlag;
    }
    return !reader.Failed;
}

// Entries marked for delete: where Listed, those flagged among the first `count` numbers; else
// the bits of entries 1..count.
static size_t MarkedIn(const PlsIndex* index, size_t count) {
    size_t marked = 0;
    if (index->Listed) {
        for (size_t i = 0; i < count; ++i) {
            marked += (index->N[i] & DeletedFlag) ? 1 : 0;
        }
        return marked;
    }
    for (size_t i = 0; i < count / 32; ++i) {
        marked += static_cast<size_t>(__builtin_popcount(index->N[i]));
    }
    uint32_t part = count % 32 ? index->N[count / 32] & ((1u << (count % 32)) - 1) : 0;
    return marked + static_cast<size_t>(__builtin_popcount(part));
}

bool AnyMarked(const PlsIndex* index) {
    return MarkedIn(index, index->Count) > 0;
}

// Writes ASCII text in the text's encoding.
static bool WriteAscii(const ByteSink* sink, const char* text, TextEncoding encoding) {
    size_t n = strlen(text);
    if (encoding == Text8Bit) {
        return sink->Write(sink->Context, text, n);
    }
    unsigned char units[64];
    for (size_t i = 0; i < n; i += 32) {
        size_t k = 0;
        for (; k < 32 && i + k < n; ++k) {
            unsigned char c = static_cast<unsigned char>(text[i + k]);
            units[2 * k] = encoding == TextUtf16Le ? c : 0;
            units[2 * k + 1] = encoding == TextUtf16Le ? 0 : c;
        }
        if (!sink->Write(sink->Context, units, 2 * k)) {
            return false;
        }
    }
    return true;
}

// UTF-8 text in the text's encoding.
static bool WriteUtf8(const ByteSink* sink, const char* text, TextEncoding encoding) {
    size_t n = strlen(text);
    if (encoding == Text8Bit) {
        return sink->Write(sink->Context, text, n);
    }
    unsigned char units[2 * PlsLineBytes];
    size_t inCount = n, room = sizeof units;
    if (Utf8ToUtf16(text, inCount, units, room) != 0) {
        return false;
    }
    size_t bytes = sizeof units - room;
    for (size_t i = 0; encoding == TextUtf16Be && i + 1 < bytes; i += 2) {
        unsigned char low = units[i];
        units[i] = units[i + 1];
        units[i + 1] = low;
    }
    return sink->Write(sink->Context, units, bytes);
}

static void Decimal(uint64_t n, char* out) {
    char digits[24];
    size_t k = 0;
    do {
        digits[k++] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n > 0);
    for (size_t i = 0; i < k; ++i) {
        out[i] = digits[k - 1 - i];
    }
    out[k] = 0;
}

// The value of a run of decimal digits, or ~0 when it holds anything else.
static uint64_t DigitsValue(const unsigned char* bytes, size_t from, size_t to,
                            TextEncoding encoding) {
    uint64_t n = 0;
    for (size_t i = from; i < to; ++i) {
        unsigned c = Unit(bytes, i, encoding);
        if (c < '0' || c > '9' || n > PlsMaxNumber) {
            return ~uint64_t{0};
        }
        n = n * 10 + (c - '0');
    }
    return from < to ? n : ~uint64_t{0};
}

// A key named as the FileN key is: "title" beside "file", "TITLE" beside "FILE", else "Title".
static void KeyLike(const char* fileKey, const char* name, char* out) {
    bool lower = fileKey[0] >= 'a' && fileKey[0] <= 'z';
    bool upper = !lower && fileKey[0] && fileKey[1] >= 'A' && fileKey[1] <= 'Z';
    size_t i = 0;
    for (; name[i]; ++i) {
        char c = name[i];
        out[i] =
            (lower || (i > 0 && !upper)) ? static_cast<char>(c | 32) : static_cast<char>(c & ~32);
    }
    out[i] = 0;
}

// One "<key><N>=<value>" line.
static bool WriteKeyLine(const ByteSink* sink, const char* key, uint64_t n, const char* value,
                         const char* lineEnd, TextEncoding encoding) {
    char head[64];
    size_t k = strlen(key);
    memcpy(head, key, k);
    Decimal(n, head + k);
    strcat(head, "=");
    return WriteAscii(sink, head, encoding) && WriteUtf8(sink, value, encoding) &&
           WriteAscii(sink, lineEnd, encoding);
}

// The new entries' FileN lines (with TitleN and LengthN where they have them), numbered from
// `first`.
static bool WriteAdded(const PlsNewEntries* added, const char* key, uint64_t first,
                       const char* lineEnd, TextEncoding encoding, const ByteSink* sink) {
    char path[PlsLineBytes];
    char title[PlsLineBytes];
    char titleKey[16], lengthKey[16];
    KeyLike(key, "Title", titleKey);
    KeyLike(key, "Length", lengthKey);
    for (size_t k = 0; k < added->Count; ++k) {
        long long seconds = -1;
        title[0] = 0;
        if (!added->Next(added->Context, path, sizeof path) ||
            (added->Fields && !added->Fields(added->Context, title, sizeof title, &seconds))) {
            return false;
        }
        char number[24];
        Decimal(seconds < 0 ? 0 : static_cast<uint64_t>(seconds), number);
        if (!WriteKeyLine(sink, key, first + k, path, lineEnd, encoding) ||
            (title[0] && !WriteKeyLine(sink, titleKey, first + k, title, lineEnd, encoding)) ||
            (seconds >= 0 &&
             !WriteKeyLine(sink, lengthKey, first + k, number, lineEnd, encoding))) {
            return false;
        }
    }
    return true;
}

bool CountPlsKeys(const ByteSource* source, uint32_t* files, uint32_t* titles, uint32_t* lengths) {
    *files = *titles = *lengths = 0;
    PlsReader reader;
    if (!StartPlsReader(&reader, source)) {
        return false;
    }
    PlsPiece piece;
    bool lineStart = true, inSection = false;
    while (NextLine(&reader, &piece, &lineStart)) {
        PlsLine line = TakeLine(&reader, piece, &inSection);
        if (!IsNumbered(line, inSection)) {
            continue;
        }
        if (line.Key == PlsKeyFile) {
            ++*files;
        } else if (SameWord(piece.Bytes, line.KeyStart, line.DigitsStart, reader.Encoding,
                            "title")) {
            ++*titles;
        } else if (SameWord(piece.Bytes, line.KeyStart, line.DigitsStart, reader.Encoding,
                            "length")) {
            ++*lengths;
        }
    }
    return !reader.Failed;
}

// Whether an 8-bit line could be a FileN key or a section's header: its first unit past blanks
// is one of theirs. Other lines are passed over unparsed where no other key is counted.
static bool MayBeFileOrSection(const PlsPiece& piece) {
    size_t i = 0;
    while (i < piece.Length && IsBlankUnit(piece.Bytes[i])) {
        ++i;
    }
    return i < piece.Length && (LowerUnit(piece.Bytes[i]) == 'f' || piece.Bytes[i] == '[');
}

// The shape's start, as IndexPls starts its index.
static void StartShape(PlsShape* shape, const char* lineEnd) {
    shape->Known = false;
    shape->Count = 0;
    shape->LastEntryLine = shape->HeaderLine = 0;
    strcpy(shape->FileKey, "File");
    strncpy(shape->NewLineEnd, lineEnd, sizeof shape->NewLineEnd - 1);
    shape->NewLineEnd[sizeof shape->NewLineEnd - 1] = 0;
    shape->Encoding = Text8Bit;
}

PlsWalked WalkPls(const ByteSource* source, PlsVisit visit, void* context, PlsKeyCounts* counts,
                  PlsShape* shape, const char* lineEnd) {
    PlsKeyCounts none;
    counts = counts ? counts : &none;
    bool anyKey = counts != &none || shape;
    *counts = {0, 0, 0};
    PlsShape ignored;
    shape = shape ? shape : &ignored;
    StartShape(shape, lineEnd ? lineEnd : "\n");
    PlsReader reader;
    if (!StartPlsReader(&reader, source)) {
        return PlsWalkUnreadable;
    }
    shape->Encoding = reader.Encoding;
    size_t unit = UnitBytes(reader.Encoding);
    PlsPiece piece;
    bool lineStart = true, inSection = false, anyEnd = false;
    uint32_t highest = 0;
    bool dense = true; // every number 1..highest seen
    uint64_t lineNumber = 0;
    while (NextLine(&reader, &piece, &lineStart)) {
        // The line ends, lines and key IndexPls notes, as it notes them.
        ++lineNumber;
        if (!anyEnd && piece.EndBytes > 0) {
            NoteLineEnd(&reader, piece, shape->NewLineEnd);
            anyEnd = true;
        }
        if (!anyKey && reader.Encoding == Text8Bit && !MayBeFileOrSection(piece)) {
            continue;
        }
        PlsLine line = TakeLine(&reader, piece, &inSection);
        if (line.Kind == PlsHeader && shape->HeaderLine == 0) {
            shape->HeaderLine = lineNumber;
        }
        if (!IsNumbered(line, inSection)) {
            continue;
        }
        shape->LastEntryLine = lineNumber;
        if (piece.EndBytes > 0) {
            NoteLineEnd(&reader, piece, shape->NewLineEnd);
        }
        if (line.Key == PlsKeyFile) {
            NoteFileKey(&reader, piece, line, shape->FileKey, sizeof shape->FileKey);
        }
        if (line.Key != PlsKeyFile) {
            if (SameWord(piece.Bytes, line.KeyStart, line.DigitsStart, reader.Encoding, "title")) {
                ++counts->Titles;
            } else if (SameWord(piece.Bytes, line.KeyStart, line.DigitsStart, reader.Encoding,
                                "length")) {
                ++counts->Lengths;
            }
            continue;
        }
        ++counts->Files;
        if (line.N <= highest) {
            if (dense) {
                continue; // of two with one number the first counts
            }
            return PlsWalkUnordered; // a gap filled late, or a repeat: only the cursor knows
        }
        dense = dense && line.N == highest + 1;
        highest = line.N;
        visit(context, reinterpret_cast<const char*>(piece.Bytes) + line.ValueStart * unit,
              (line.ValueEnd - line.ValueStart) * unit, reader.Encoding, piece.LineEnds);
    }
    if (reader.Failed) {
        return PlsWalkUnreadable;
    }
    shape->Known = dense;
    shape->Count = highest;
    return PlsWalkRead;
}

PlsIndexed IndexFromShape(const PlsShape* shape, PlsIndex* index) {
    // Entries 1..N in order: listed up to PlsEntryLimit, a bit each beyond, too many past that.
    if (shape->Count > PlsOrderedLimit) {
        return PlsIndexTooMany;
    }
    index->Count = index->Kept = shape->Count;
    index->Listed = shape->Count <= PlsEntryLimit;
    index->LastEntryLine = shape->LastEntryLine;
    index->HeaderLine = shape->HeaderLine;
    memcpy(index->FileKey, shape->FileKey, sizeof index->FileKey);
    memcpy(index->NewLineEnd, shape->NewLineEnd, sizeof index->NewLineEnd);
    index->Encoding = shape->Encoding;
    memset(index->N, 0, sizeof index->N);
    for (size_t i = 0; index->Listed && i < shape->Count; ++i) {
        index->N[i] = static_cast<uint32_t>(i + 1);
    }
    return PlsIndexRead;
}

// Deleted entries before each block of 512 numbers in the index (or 512 bits), so that an
// entry's new number is found without counting them all; and the last count asked for, since
// the lines ask in the order of their entries, one after the other.
enum { BlockShift = 9 };
struct Renumbering {
    const PlsIndex* Index;
    size_t LastCount, LastMarked; // marked among the first LastCount
    uint32_t DeletedBefore[(PlsOrderedLimit >> BlockShift) + 1];
};

// Entries marked among [from, to) of the index's numbers or bits.
static size_t MarkedBetween(const PlsIndex* index, size_t from, size_t to) {
    size_t marked = 0;
    if (index->Listed) {
        for (size_t i = from; i < to; ++i) {
            marked += (index->N[i] & DeletedFlag) ? 1 : 0;
        }
        return marked;
    }
    size_t i = from;
    if (i % 32 != 0 && i < to) {
        // The rest of a word begun, or the part of it below `to`.
        size_t stop = to - i < 32 - i % 32 ? to : i + (32 - i % 32);
        uint32_t bits = (index->N[i / 32] >> (i % 32)) & ((1u << (stop - i)) - 1);
        marked += static_cast<size_t>(__builtin_popcount(bits));
        i = stop;
    }
    for (; to - i >= 32; i += 32) {
        marked += static_cast<size_t>(__builtin_popcount(index->N[i / 32]));
    }
    if (i < to) {
        marked +=
            static_cast<size_t>(__builtin_popcount(index->N[i / 32] & ((1u << (to - i)) - 1)));
    }
    return marked;
}

static void StartRenumbering(Renumbering* r, const PlsIndex* index) {
    r->Index = index;
    r->LastCount = r->LastMarked = 0;
    size_t blocks = (index->Count >> BlockShift) + 1;
    for (size_t b = 0; b < blocks; ++b) {
        r->DeletedBefore[b] = static_cast<uint32_t>(MarkedIn(index, b << BlockShift));
    }
}

// Entries marked among the first `count`, counted on from the block's count or the last count,
// whichever is nearer.
static size_t MarkedBelow(Renumbering* r, size_t count) {
    size_t from = (count >> BlockShift) << BlockShift;
    size_t marked = r->DeletedBefore[count >> BlockShift];
    if (r->LastCount <= count && r->LastCount > from) {
        from = r->LastCount;
        marked = r->LastMarked;
    }
    marked += MarkedBetween(r->Index, from, count);
    r->LastCount = count;
    r->LastMarked = marked;
    return marked;
}

// An entry's number after the rewrite: 0 when it goes, ~0 when `n` is no entry's number.
static uint64_t NewNumber(Renumbering* r, uint32_t n) {
    bool found = false;
    if (!r->Index->Listed) {
        // Entries 1..Count, a bit for each one to delete.
        if (n > r->Index->Count) {
            return ~uint64_t{0};
        }
        bool marked = (r->Index->N[(n - 1) / 32] >> ((n - 1) % 32)) & 1;
        return marked ? 0 : n - MarkedBelow(r, n - 1);
    }
    size_t at = Place(r->Index->N, r->Index->Count, n, &found);
    if (!found) {
        return ~uint64_t{0};
    }
    if (r->Index->N[at] & DeletedFlag) {
        return 0;
    }
    return at + 1 - MarkedBelow(r, at);
}

// Output gathered into blocks: a line's pieces are small, and each write to a file costs a call
// into the stream whatever its size.
struct Gathered {
    const ByteSink* Sink;
    size_t Length;
    unsigned char Bytes[PlsBufferBytes];
};

static bool Flush(Gathered* out) {
    size_t n = out->Length;
    out->Length = 0;
    return n == 0 || out->Sink->Write(out->Sink->Context, out->Bytes, n);
}

static bool Gather(void* context, const void* data, size_t bytes) {
    Gathered* out = static_cast<Gathered*>(context);
    if (bytes > sizeof out->Bytes - out->Length && !Flush(out)) {
        return false;
    }
    if (bytes >= sizeof out->Bytes) {
        return out->Sink->Write(out->Sink->Context, data, bytes);
    }
    memcpy(out->Bytes + out->Length, data, bytes);
    out->Length += bytes;
    return true;
}

static inline bool Put(Gathered* out, const void* data, size_t bytes) {
    if (bytes > sizeof out->Bytes - out->Length) {
        return Gather(out, data, bytes);
    }
    memcpy(out->Bytes + out->Length, data, bytes);
    out->Length += bytes;
    return true;
}

// A line with the units [from, to) of its first piece replaced by `text`.
static bool WriteEdited(Gathered* out, const ByteSink* sink, const PlsPiece& piece, size_t unit,
                        size_t from, size_t to, const char* text, TextEncoding encoding) {
    return Put(out, piece.Bytes, from * unit) &&
           (encoding == Text8Bit ? Put(out, text, strlen(text))
                                 : WriteAscii(sink, text, encoding)) &&
           Put(out, piece.Bytes + to * unit, piece.Length + piece.EndBytes - to * unit);
}

static bool WriteLines(const ByteSource* source, PlsIndex* index, const PlsNewEntries* added,
                       Gathered* out, const ByteSink* sink);

bool WritePls(const ByteSource* source, PlsIndex* index, const PlsNewEntries* added,
              const ByteSink* sink) {
    Gathered out;
    out.Sink = sink;
    out.Length = 0;
    ByteSink gathering = {Gather, &out};
    bool written = WriteLines(source, index, added, &out, &gathering);
    return written && Flush(&out);
}

// `sink` gathers into `out`, as Put does.
static bool WriteLines(const ByteSource* source, PlsIndex* index, const PlsNewEntries* added,
                       Gathered* out, const ByteSink* sink) {
    static_assert(sizeof(PlsReader) + sizeof(Renumbering) + sizeof(Gathered) + PlsLineBytes <
                      24 * 1024,
                  "fits a host's stack");
    Renumbering renumbering;
    StartRenumbering(&renumbering, index);
    index->Kept = index->Count - MarkedIn(index, index->Count);
    uint64_t total = index->Kept + added->Count;
    uint64_t insertAfter = index->LastEntryLine ? index->LastEntryLine : index->HeaderLine;
    PlsReader reader;
    if (!StartPlsReader(&reader, source) ||
        !sink->Write(sink->Context, reader.Buffer, reader.MarkBytes)) {
        return false;
    }
    TextEncoding encoding = reader.Encoding;
    size_t unit = UnitBytes(encoding);
    PlsPiece piece;
    bool lineStart = true, inSection = false, dropping = false, openLine = false;
    bool inserted = added->Count == 0;
    uint64_t lineNumber = 0;
    uint32_t lastOld = 0; // no key's number
    uint64_t lastNew = 0;
    char lastDigits[24] = {};
    while (ReadPlsPiece(&reader, &piece)) {
        bool first = lineStart;
        lineStart = piece.LineEnds;
        bool written = true;
        if (!first) {
            if (!dropping) {
                written = Put(out, piece.Bytes, piece.Length + piece.EndBytes);
                openLine = piece.EndBytes == 0;
            }
        } else {
            ++lineNumber;
            PlsLine line = TakeLine(&reader, piece, &inSection);
            char text[24] = {};
            size_t from = 0, to = 0;
            dropping = false;
            if (IsNumbered(line, inSection)) {
                // An entry's keys mostly stand together: its new number, in digits, once.
                if (line.N != lastOld) {
                    lastOld = line.N;
                    lastNew = NewNumber(&renumbering, line.N);
                    Decimal(lastNew, lastDigits);
                }
                uint64_t n = lastNew;
                // A key of no entry's number that an entry would take over now goes too.
                dropping = n == 0 || (n == ~uint64_t{0} && line.N <= total);
                if (!dropping && n != ~uint64_t{0} && n != line.N) {
                    memcpy(text, lastDigits, sizeof text);
                    from = line.DigitsStart;
                    to = line.DigitsEnd;
                }
            } else if (inSection && line.Kind == PlsKey && line.Key == PlsKeyEntries &&
                       DigitsValue(piece.Bytes, line.ValueStart, line.ValueEnd, encoding) !=
                           total) {
                Decimal(total, text);
                from = line.ValueStart;
                to = line.ValueEnd;
            }
            if (!dropping) {
                written = text[0] ? WriteEdited(out, sink, piece, unit, from, to, text, encoding)
                                  : Put(out, piece.Bytes, piece.Length + piece.EndBytes);
                openLine = piece.EndBytes == 0;
            }
        }
        if (!written) {
            return false;
        }
        if (piece.LineEnds && !inserted && lineNumber == insertAfter) {
            inserted = true;
            if ((openLine && !WriteAscii(sink, index->NewLineEnd, encoding)) ||
                !WriteAdded(added, index->FileKey, index->Kept + 1, index->NewLineEnd, encoding,
                            sink)) {
                return false;
            }
            openLine = false;
        }
    }
    if (!inserted) {
        if ((openLine && !WriteAscii(sink, index->NewLineEnd, encoding)) ||
            !WriteAdded(added, index->FileKey, index->Kept + 1, index->NewLineEnd, encoding,
                        sink)) {
            return false;
        }
    }
    return !reader.Failed;
}

bool WriteNewPls(const PlsNewEntries* added, const char* lineEnd, const ByteSink* sink) {
    char tail[64] = "NumberOfEntries=";
    Decimal(added->Count, tail + strlen(tail));
    return WriteAscii(sink, "[playlist]", Text8Bit) && WriteAscii(sink, lineEnd, Text8Bit) &&
           WriteAdded(added, "File", 1, lineEnd, Text8Bit, sink) &&
           WriteAscii(sink, tail, Text8Bit) && WriteAscii(sink, lineEnd, Text8Bit) &&
           WriteAscii(sink, "Version=2", Text8Bit) && WriteAscii(sink, lineEnd, Text8Bit);
}
