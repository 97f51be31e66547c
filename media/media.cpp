#include "media/media.h"

#include <cstring>

#include "platform/platform.h"
#include "text/text.h"

namespace {

// ---- Reading the pieces -------------------------------------------------------------------

// The bytes at `offset` within one piece, and how many of them follow there; null when no piece
// holds that offset.
const uint8_t* Span(const MediaBytes& b, uint64_t offset, size_t* available) {
    const MediaPiece* pieces[3] = {&b.Head, &b.Middle, &b.Tail};
    for (const MediaPiece* p : pieces) {
        if (p->Bytes && offset >= p->Offset && offset - p->Offset < p->Count) {
            size_t at = static_cast<size_t>(offset - p->Offset);
            *available = p->Count - at;
            return p->Bytes + at;
        }
    }
    *available = 0;
    return nullptr;
}

// `count` whole bytes at `offset`, or null.
const uint8_t* At(const MediaBytes& b, uint64_t offset, size_t count) {
    size_t available;
    const uint8_t* p = Span(b, offset, &available);
    return p && available >= count ? p : nullptr;
}

uint32_t Be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}
uint64_t Be64(const uint8_t* p) {
    return static_cast<uint64_t>(Be32(p)) << 32 | Be32(p + 4);
}
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[3]) << 24 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[1]) << 8 | p[0];
}
uint64_t Le64(const uint8_t* p) {
    return static_cast<uint64_t>(Le32(p + 4)) << 32 | Le32(p);
}
uint32_t Syncsafe(const uint8_t* p) {
    return static_cast<uint32_t>(p[0] & 0x7F) << 21 | static_cast<uint32_t>(p[1] & 0x7F) << 14 |
           static_cast<uint32_t>(p[2] & 0x7F) << 7 | (p[3] & 0x7F);
}

// count * 1000 / rate without overflow; -1 for no rate or a length beyond any real file.
int64_t ToMilliseconds(uint64_t count, uint64_t rate) {
    if (rate == 0 || count / rate > (1ULL << 40)) {
        return -1;
    }
    return static_cast<int64_t>(count / rate * 1000 + count % rate * 1000 / rate);
}

// ---- Text ---------------------------------------------------------------------------------

// What was found so far; each field is taken from the first source that has it, so sources are
// read in the container's order of preference.
struct Found {
    char Title[MediaTextBytes];
    char Artist[MediaTextBytes];
    int64_t Milliseconds;
};

struct TextOut {
    char* Out;
    size_t Used;
    bool Full;
};

void Put(TextOut* t, uint32_t c) {
    char bytes[4];
    size_t n;
    if (c < 0x80) {
        bytes[0] = static_cast<char>(c);
        n = 1;
    } else if (c < 0x800) {
        bytes[0] = static_cast<char>(0xC0 | c >> 6);
        bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
        n = 2;
    } else if (c < 0x10000) {
        bytes[0] = static_cast<char>(0xE0 | c >> 12);
        bytes[1] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
        n = 3;
    } else {
        bytes[0] = static_cast<char>(0xF0 | c >> 18);
        bytes[1] = static_cast<char>(0x80 | (c >> 12 & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        bytes[3] = static_cast<char>(0x80 | (c & 0x3F));
        n = 4;
    }
    // Whole characters only, and room for the terminator.
    if (t->Full || t->Used + n >= MediaTextBytes) {
        t->Full = true;
        return;
    }
    memcpy(t->Out + t->Used, bytes, n);
    t->Used += n;
}

// Tag text in one of ID3v2's encodings (0 Latin-1, 1 UTF-16 with a byte-order mark, 2 UTF-16BE,
// 3 UTF-8) into `out`, zero-terminated. The text ends at its first terminator: later values of
// a list are not wanted. Text said to be UTF-8 that is not is read as Latin-1. Trailing spaces
// (ID3v1's padding) go.
void Decode(const uint8_t* p, size_t n, int encoding, char* out) {
    TextOut t = {out, 0, false};
    if (encoding == 1 || encoding == 2) {
        bool big = encoding == 2;
        if (n >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
            big = p[0] == 0xFE;
            p += 2;
            n -= 2;
        }
        for (size_t i = 0; i + 1 < n; i += 2) {
            uint32_t u = big ? (p[i] << 8 | p[i + 1]) : (p[i + 1] << 8 | p[i]);
            if (u == 0) {
                break;
            }
            if (u >= 0xD800 && u < 0xDC00 && i + 3 < n) {
                uint32_t low = big ? (p[i + 2] << 8 | p[i + 3]) : (p[i + 3] << 8 | p[i + 2]);
                if (low >= 0xDC00 && low < 0xE000) {
                    u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
                    i += 2;
                }
            }
            Put(&t, u >= 0xD800 && u < 0xE000 ? 0xFFFD : u);
        }
    } else if (n > 0) {
        const void* end = memchr(p, 0, n);
        if (end) {
            n = static_cast<size_t>(static_cast<const uint8_t*>(end) - p);
        }
        if (encoding == 3 && IsUtf8Text(p, n)) {
            size_t keep = n < MediaTextBytes - 1 ? n : MediaTextBytes - 1;
            while (keep < n && keep > 0 && (p[keep] & 0xC0) == 0x80) {
                --keep; // a character cut in two stays out whole
            }
            memcpy(out, p, keep);
            t.Used = keep;
        } else {
            for (size_t i = 0; i < n; ++i) {
                Put(&t, p[i]);
            }
        }
    }
    while (t.Used > 0 && out[t.Used - 1] == ' ') {
        --t.Used;
    }
    out[t.Used] = 0;
}

void Take(char* field, const uint8_t* p, size_t n, int encoding) {
    if (field[0] == 0) {
        Decode(p, n, encoding, field);
    }
}

// ---- ID3v2 --------------------------------------------------------------------------------

// The whole tag's size (header, frames, footer) when `p` begins one, else 0.
uint64_t Id3v2Size(const uint8_t* p, size_t n) {
    if (n < 10 || memcmp(p, "ID3", 3) != 0 || p[3] < 2 || p[3] > 4 || p[4] == 0xFF ||
        (p[6] | p[7] | p[8] | p[9]) & 0x80) {
        return 0;
    }
    return 10 + static_cast<uint64_t>(Syncsafe(p + 6)) + (p[3] == 4 && (p[5] & 0x10) ? 10 : 0);
}

// Bytes of a tag, with the unsynchronisation scheme undone when `unsync`: a zero after 0xFF was
// put there by the writer.
struct Bytes {
    const uint8_t* P;
    size_t N, I;
    bool Unsync;
};

bool Get(Bytes* c, uint8_t* out) {
    if (c->I >= c->N) {
        return false;
    }
    *out = c->P[c->I++];
    if (c->Unsync && *out == 0xFF && c->I < c->N && c->P[c->I] == 0) {
        ++c->I;
    }
    return true;
}

// Up to `room` of the next `count` bytes into `out`, the rest passed over; false when the tag
// ends first.
bool Read(Bytes* c, uint64_t count, uint8_t* out, size_t room, size_t* got) {
    *got = 0;
    for (uint64_t i = 0; i < count; ++i) {
        uint8_t b;
        if (!Get(c, &b)) {
            return false;
        }
        if (*got < room) {
            out[(*got)++] = b;
        }
    }
    return true;
}

bool Skip(Bytes* c, uint64_t count) {
    size_t got;
    return Read(c, count, nullptr, 0, &got);
}

const size_t FrameRoom = 1024; // enough of a frame for a title that fills MediaTextBytes

// Title and artist from an ID3v2 tag of which `n` bytes are at hand.
void ReadId3v2(const uint8_t* p, size_t n, Found* f) {
    uint64_t size = Id3v2Size(p, n);
    if (size == 0) {
        return;
    }
    int version = p[3];
    uint8_t flags = p[5];
    if (version == 2 && (flags & 0x40)) {
        return; // a compressed 2.2 tag: no scheme was ever defined
    }
    size_t body = static_cast<size_t>(size - 10 < n - 10 ? size - 10 : n - 10);
    if (version == 4 && (flags & 0x10)) {
        body = body >= 10 ? body - 10 : 0; // the footer
    }
    bool unsync = (flags & 0x80) != 0;
    // Before 2.4 the whole tag was unsynchronised, headers and sizes included; 2.4 does it frame
    // by frame, sizes counting the bytes stored.
    Bytes c = {p + 10, body, 0, unsync && version < 4};
    uint8_t h[10];
    size_t got;
    if (version >= 3 && (flags & 0x40)) {
        if (!Read(&c, 4, h, 4, &got)) {
            return;
        }
        uint32_t extended = version == 3 ? Be32(h) : Syncsafe(h);
        if (version == 4 && extended < 4) {
            return;
        }
        if (!Skip(&c, version == 3 ? extended : extended - 4)) {
            return;
        }
    }
    size_t headerSize = version == 2 ? 6 : 10;
    while (Read(&c, headerSize, h, sizeof h, &got)) {
        if (h[0] == 0) {
            break; // padding
        }
        for (size_t i = 0; i < headerSize - (version == 2 ? 3 : 6); ++i) {
            if (!((h[i] >= 'A' && h[i] <= 'Z') || (h[i] >= '0' && h[i] <= '9'))) {
                return; // not a frame: the tag is broken here
            }
        }
        // iTunes wrote 2.4 frame sizes as plain numbers: a byte with its top bit set says so.
        bool plain = version == 3 || (h[4] | h[5] | h[6] | h[7]) & 0x80;
        uint32_t frameSize = version == 2 ? (h[3] << 16 | h[4] << 8 | h[5])
                             : plain      ? Be32(h + 4)
                                          : Syncsafe(h + 4);
        char* field = nullptr;
        if (version == 2) {
            field = memcmp(h, "TT2", 3) == 0   ? f->Title
                    : memcmp(h, "TP1", 3) == 0 ? f->Artist
                                               : nullptr;
        } else {
            field = memcmp(h, "TIT2", 4) == 0   ? f->Title
                    : memcmp(h, "TPE1", 4) == 0 ? f->Artist
                                                : nullptr;
        }
        uint8_t format = version == 2 ? 0 : h[9];
        bool unreadable = version == 3 ? (format & 0xC0) != 0 : (format & 0x0C) != 0;
        if (!field || field[0] != 0 || unreadable) {
            if (!Skip(&c, frameSize)) {
                return;
            }
            continue;
        }
        uint8_t text[FrameRoom];
        size_t skipBefore = version == 3 ? ((format & 0x20) ? 1 : 0)
                                         : ((format & 0x40) ? 1 : 0) + ((format & 0x01) ? 4 : 0);
        if (version == 4) {
            // The frame's stored bytes, unsynchronised on their own when the tag or the frame
            // says so.
            if (frameSize > c.N - c.I) {
                return;
            }
            Bytes frame = {c.P + c.I, frameSize, 0, unsync || (format & 0x02) != 0};
            c.I += frameSize;
            if (!Skip(&frame, skipBefore)) {
                continue;
            }
            Read(&frame, frameSize, text, sizeof text, &got);
        } else if (frameSize < skipBefore || !Skip(&c, skipBefore) ||
                   !Read(&c, frameSize - skipBefore, text, sizeof text, &got)) {
            return;
        }
        if (got >= 1 && text[0] <= 3) {
            Take(field, text + 1, got - 1, text[0]);
        }
    }
}

// ---- MP3 ----------------------------------------------------------------------------------

struct Mp3Frame {
    int Version; // 1, 2, or 25 for 2.5
    int Layer;
    uint32_t Kbps, Rate, Samples, Length;
    bool Mono;
};

bool ParseMp3Header(const uint8_t* h, Mp3Frame* f) {
    static const uint16_t Kbps[5][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // 1, I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // 1, II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // 1, III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},    // 2, I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},         // 2, II and III
    };
    static const uint32_t Rates[3] = {44100, 48000, 32000};
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) {
        return false;
    }
    int versionBits = h[1] >> 3 & 3, layerBits = h[1] >> 1 & 3;
    int bitrate = h[2] >> 4, rate = h[2] >> 2 & 3;
    if (versionBits == 1 || layerBits == 0 || bitrate == 0 || bitrate == 15 || rate == 3) {
        return false; // reserved values, and the free format, whose frames cannot be measured
    }
    f->Version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
    f->Layer = 4 - layerBits;
    int table = f->Version == 1 ? f->Layer - 1 : (f->Layer == 1 ? 3 : 4);
    f->Kbps = Kbps[table][bitrate];
    f->Rate = Rates[rate] >> (f->Version == 1 ? 0 : f->Version == 2 ? 1 : 2);
    uint32_t padding = h[2] >> 1 & 1;
    f->Mono = (h[3] >> 6) == 3;
    if (f->Layer == 1) {
        f->Samples = 384;
        f->Length = (12000 * f->Kbps / f->Rate + padding) * 4;
    } else {
        f->Samples = f->Layer == 3 && f->Version != 1 ? 576 : 1152;
        f->Length = f->Samples / 8 * 1000 * f->Kbps / f->Rate + padding;
    }
    return true;
}

bool SameStream(const Mp3Frame& a, const Mp3Frame& b) {
    return a.Version == b.Version && a.Layer == b.Layer && a.Rate == b.Rate;
}

// The length from the first frame at or after `start`: its Xing, Info or VBRI header's frame
// count, else its bitrate over the audio's bytes. A frame counts when the next one follows it.
int64_t Mp3Length(const MediaBytes& b, uint64_t start, uint64_t audioEnd) {
    size_t available;
    const uint8_t* p = Span(b, start, &available);
    if (!p) {
        return -1;
    }
    const size_t searched = 64 << 10;
    for (size_t i = 0; i + 4 <= available && i < searched; ++i) {
        Mp3Frame f, next;
        if (p[i] != 0xFF || !ParseMp3Header(p + i, &f)) {
            continue;
        }
        uint64_t at = start + i;
        const uint8_t* n = At(b, at + f.Length, 4);
        bool last = at + f.Length >= audioEnd;
        if (!last && !(n && ParseMp3Header(n, &next) && SameStream(f, next))) {
            continue;
        }
        size_t side = f.Version == 1 ? (f.Mono ? 17 : 32) : (f.Mono ? 9 : 17);
        const uint8_t* x = At(b, at + 4 + side, 12);
        if (x && (memcmp(x, "Xing", 4) == 0 || memcmp(x, "Info", 4) == 0) && (x[7] & 1)) {
            uint32_t frames = Be32(x + 8);
            return frames ? ToMilliseconds(uint64_t(frames) * f.Samples, f.Rate) : -1;
        }
        const uint8_t* v = At(b, at + 4 + 32, 18);
        if (v && memcmp(v, "VBRI", 4) == 0) {
            uint32_t frames = Be32(v + 14);
            return frames ? ToMilliseconds(uint64_t(frames) * f.Samples, f.Rate) : -1;
        }
        return audioEnd > at ? ToMilliseconds((audioEnd - at) * 8, f.Kbps * 1000ULL) : -1;
    }
    return -1;
}

// The end of the audio: before an ID3v1 tag and an APEv2 tag at the end of the file.
uint64_t AudioEnd(const MediaBytes& b, bool* id3v1) {
    uint64_t end = b.Size;
    const uint8_t* t = b.Size >= 128 ? At(b, b.Size - 128, 128) : nullptr;
    *id3v1 = t && memcmp(t, "TAG", 3) == 0;
    if (*id3v1) {
        end -= 128;
    }
    const uint8_t* ape = end >= 32 ? At(b, end - 32, 32) : nullptr;
    if (ape && memcmp(ape, "APETAGEX", 8) == 0) {
        uint64_t size = Le32(ape + 12) + ((ape[23] & 0x80) ? 32ULL : 0);
        if (size <= end) {
            end -= size;
        }
    }
    return end;
}

void ReadId3v1(const MediaBytes& b, Found* f) {
    const uint8_t* t = b.Size >= 128 ? At(b, b.Size - 128, 128) : nullptr;
    if (t && memcmp(t, "TAG", 3) == 0) {
        Take(f->Title, t + 3, 30, 0);
        Take(f->Artist, t + 33, 30, 0);
    }
}

// ---- Vorbis comments (FLAC, Ogg) ----------------------------------------------------------

// `title` and `artist` from comments read byte by byte from any source: a FLAC block in memory,
// or an Ogg packet across its pages.
template <typename Source> bool Le32From(Source* s, uint32_t* value) {
    uint8_t b[4];
    for (uint8_t& x : b) {
        if (!s->Next(&x)) {
            return false;
        }
    }
    *value = Le32(b);
    return true;
}

template <typename Source> void ReadComments(Source* s, Found* f) {
    uint32_t vendor, count;
    if (!Le32From(s, &vendor)) {
        return;
    }
    for (uint32_t i = 0; i < vendor; ++i) {
        uint8_t x;
        if (!s->Next(&x)) {
            return;
        }
    }
    if (!Le32From(s, &count)) {
        return;
    }
    // Each comment takes at least its four length bytes: the count cannot outrun the source.
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t length;
        if (!Le32From(s, &length)) {
            return;
        }
        char key[8];
        size_t keyLength = 0;
        uint32_t at = 0;
        uint8_t x = 0;
        bool equals = false;
        while (at < length && s->Next(&x)) {
            ++at;
            if (x == '=') {
                equals = true;
                break;
            }
            if (keyLength < sizeof key) {
                key[keyLength++] = static_cast<char>(x >= 'a' && x <= 'z' ? x - 32 : x);
            } else {
                keyLength = sizeof key + 1; // too long for a key we want
            }
        }
        if (at < length && !equals) {
            return; // the source ended inside the comment
        }
        char* field = !equals                                           ? nullptr
                      : keyLength == 5 && memcmp(key, "TITLE", 5) == 0  ? f->Title
                      : keyLength == 6 && memcmp(key, "ARTIST", 6) == 0 ? f->Artist
                                                                        : nullptr;
        uint8_t text[FrameRoom];
        size_t got = 0;
        for (; at < length; ++at) {
            if (!s->Next(&x)) {
                return;
            }
            if (field && got < sizeof text) {
                text[got++] = x;
            }
        }
        if (field) {
            Take(field, text, got, 3);
        }
    }
}

struct MemorySource {
    const uint8_t* P;
    size_t N, I;
    bool Next(uint8_t* x) {
        if (I >= N) {
            return false;
        }
        *x = P[I++];
        return true;
    }
};

// ---- FLAC ---------------------------------------------------------------------------------

bool ReadFlac(const MediaBytes& b, uint64_t start, Found* f) {
    const uint8_t* magic = At(b, start, 4);
    if (!magic || memcmp(magic, "fLaC", 4) != 0) {
        return false;
    }
    // Each block moves on by its header at least: the walk ends.
    for (uint64_t at = start + 4;;) {
        const uint8_t* h = At(b, at, 4);
        if (!h) {
            break;
        }
        uint32_t length = static_cast<uint32_t>(h[1]) << 16 | h[2] << 8 | h[3];
        int type = h[0] & 0x7F;
        size_t available;
        const uint8_t* d = Span(b, at + 4, &available);
        size_t have = d ? (length < available ? length : available) : 0;
        if (type == 0 && have >= 18) {
            uint32_t rate = static_cast<uint32_t>(d[10]) << 12 | d[11] << 4 | d[12] >> 4;
            uint64_t samples = static_cast<uint64_t>(d[13] & 0x0F) << 32 | Be32(d + 14);
            if (f->Milliseconds < 0 && samples) {
                f->Milliseconds = ToMilliseconds(samples, rate);
            }
        } else if (type == 4 && have) {
            MemorySource s = {d, have, 0};
            ReadComments(&s, f);
        }
        if (h[0] & 0x80) {
            break;
        }
        at += 4 + static_cast<uint64_t>(length);
    }
    return true;
}

// ---- Ogg ----------------------------------------------------------------------------------

// One logical stream's packets, read byte by byte across its pages.
struct OggPackets {
    const MediaBytes* B;
    uint32_t Serial;
    uint64_t Page;        // offset of the current page
    const uint8_t* Table; // its segment table
    int Segments, Segment;
    const uint8_t* Data; // the current segment's next byte
    size_t Left;         // bytes left in it
    bool Broken;

    // Opens the page at `at`, or the next one of this stream after it; false when none is whole
    // within the pieces.
    bool OpenPage(uint64_t at, bool first) {
        for (int hops = 0; hops < 64; ++hops) {
            const uint8_t* h = At(*B, at, 27);
            if (!h || memcmp(h, "OggS", 4) != 0 || h[4] != 0) {
                return false;
            }
            int segments = h[26];
            const uint8_t* table = At(*B, at + 27, static_cast<size_t>(segments));
            if (!table) {
                return false;
            }
            size_t body = 0;
            for (int i = 0; i < segments; ++i) {
                body += table[i];
            }
            const uint8_t* data = At(*B, at + 27 + segments, body);
            if (!data) {
                return false;
            }
            if (first || Le32(h + 14) == Serial) {
                Serial = Le32(h + 14);
                Page = at;
                Table = table;
                Segments = segments;
                Segment = 0;
                Data = data;
                Left = segments ? table[0] : 0;
                return segments > 0;
            }
            at += 27 + static_cast<uint64_t>(segments) + body;
        }
        return false;
    }

    uint64_t PageEnd() const {
        size_t body = 0;
        for (int i = 0; i < Segments; ++i) {
            body += Table[i];
        }
        return Page + 27 + static_cast<uint64_t>(Segments) + body;
    }

    // Moves to the segment after the current one, across pages.
    bool NextSegment() {
        const uint8_t* end = Data + Left;
        if (++Segment < Segments) {
            Data = end;
            Left = Table[Segment];
            return true;
        }
        if (!OpenPage(PageEnd(), false)) {
            Broken = true;
            return false;
        }
        return true;
    }

    // The next byte of the current packet; false at its end.
    bool Next(uint8_t* x) {
        while (Left == 0) {
            if (Broken || Table[Segment] < 255) {
                return false; // a segment shorter than 255 ends its packet
            }
            if (!NextSegment()) {
                return false;
            }
        }
        *x = *Data++;
        --Left;
        return true;
    }

    // Passes over the rest of the current packet to the start of the next one.
    bool NextPacket() {
        uint8_t x;
        while (Next(&x)) {
        }
        return !Broken && NextSegment();
    }
};

bool ReadOgg(const MediaBytes& b, Found* f) {
    const uint8_t* magic = At(b, 0, 4);
    if (!magic || memcmp(magic, "OggS", 4) != 0) {
        return false;
    }
    OggPackets p = {};
    p.B = &b;
    if (!p.OpenPage(0, true)) {
        return true;
    }
    uint8_t head[19];
    size_t n = 0;
    while (n < sizeof head && p.Next(&head[n])) {
        ++n;
    }
    bool vorbis = n >= 16 && memcmp(head, "\x01vorbis", 7) == 0;
    bool opus = n >= 12 && memcmp(head, "OpusHead", 8) == 0;
    if (!vorbis && !opus) {
        return true; // an Ogg stream of another codec: no tags we read
    }
    uint32_t rate = vorbis ? Le32(head + 12) : 48000;
    uint32_t preSkip = opus ? static_cast<uint32_t>(head[10] | head[11] << 8) : 0;
    uint32_t serial = p.Serial;
    if (p.NextPacket()) {
        uint8_t magic[8];
        size_t m = 0;
        size_t want = vorbis ? 7 : 8;
        while (m < want && p.Next(&magic[m])) {
            ++m;
        }
        if (m == want && memcmp(magic, vorbis ? "\x03vorbis" : "OpusTags", want) == 0) {
            ReadComments(&p, f);
        }
    }
    // The length: the granule of the stream's last page, found from the end of the file.
    size_t available = b.Tail.Count;
    const uint8_t* t = b.Tail.Bytes;
    for (size_t i = available >= 27 ? available - 27 + 1 : 0; i-- > 0;) {
        if (t[i] != 'O' || memcmp(t + i, "OggS", 4) != 0 || t[i + 4] != 0 ||
            Le32(t + i + 14) != serial) {
            continue;
        }
        uint64_t granule = Le64(t + i + 6);
        if (granule == ~0ULL) {
            continue; // a page on which no packet ends
        }
        if (granule > preSkip) {
            f->Milliseconds = ToMilliseconds(granule - preSkip, rate);
        }
        break;
    }
    return true;
}

// ---- MP4 ----------------------------------------------------------------------------------

struct Box {
    uint64_t At, Content, End;
    uint8_t Type[4];
};

// The box at `at` within [at, end); false when its header is not at hand or is impossible.
bool OpenBox(const MediaBytes& b, uint64_t at, uint64_t end, Box* box) {
    const uint8_t* h = at < end && end - at >= 8 ? At(b, at, 8) : nullptr;
    if (!h) {
        return false;
    }
    uint64_t size = Be32(h), header = 8;
    if (size == 1) {
        const uint8_t* large = end - at >= 16 ? At(b, at + 8, 8) : nullptr;
        if (!large) {
            return false;
        }
        size = Be64(large);
        header = 16;
    } else if (size == 0) {
        size = end - at; // to the end of what holds it
    }
    if (size < header || size > end - at) {
        return false;
    }
    box->At = at;
    box->Content = at + header;
    box->End = at + size;
    memcpy(box->Type, h + 4, 4);
    return true;
}

bool IsType(const Box& box, const char* type) {
    return memcmp(box.Type, type, 4) == 0;
}

// The first child of `type` in [from, end); every step moves on by a header at least.
bool FindBox(const MediaBytes& b, uint64_t from, uint64_t end, const char* type, Box* out) {
    Box box;
    for (uint64_t at = from; OpenBox(b, at, end, &box); at = box.End) {
        if (IsType(box, type)) {
            *out = box;
            return true;
        }
    }
    return false;
}

void ReadIlstText(const MediaBytes& b, const Box& item, char* field) {
    Box data;
    if (!FindBox(b, item.Content, item.End, "data", &data) || data.End - data.Content < 8) {
        return;
    }
    size_t available;
    const uint8_t* d = Span(b, data.Content, &available);
    if (!d || available < 8) {
        return;
    }
    uint64_t length = data.End - data.Content - 8;
    size_t have = static_cast<size_t>(length < available - 8 ? length : available - 8);
    uint32_t kind = Be32(d) & 0xFFFFFF;
    if (kind == 1) {
        Take(field, d + 8, have, 3);
    } else if (kind == 2) {
        Take(field, d + 8, have, 2);
    }
}

bool ReadMp4(const MediaBytes& b, Found* f) {
    const uint8_t* h = At(b, 4, 4);
    if (!h || memcmp(h, "ftyp", 4) != 0) {
        return false;
    }
    Box moov;
    if (!FindBox(b, 0, b.Size, "moov", &moov)) {
        return true;
    }
    Box box;
    if (FindBox(b, moov.Content, moov.End, "mvhd", &box)) {
        const uint8_t* m = At(b, box.Content, 32);
        if (m && m[0] == 0) {
            uint32_t duration = Be32(m + 16);
            if (duration != 0xFFFFFFFF) {
                f->Milliseconds = ToMilliseconds(duration, Be32(m + 12));
            }
        } else if (m && m[0] == 1) {
            uint64_t duration = Be64(m + 24);
            if (duration != ~0ULL) {
                f->Milliseconds = ToMilliseconds(duration, Be32(m + 20));
            }
        }
    }
    Box udta, meta, ilst;
    if (!FindBox(b, moov.Content, moov.End, "udta", &udta) ||
        !FindBox(b, udta.Content, udta.End, "meta", &meta)) {
        return true;
    }
    // A full box, except in QuickTime's own files, where its children follow at once.
    const uint8_t* m = At(b, meta.Content, 8);
    uint64_t children = m && memcmp(m + 4, "hdlr", 4) == 0 ? meta.Content : meta.Content + 4;
    if (children > meta.End || !FindBox(b, children, meta.End, "ilst", &ilst)) {
        return true;
    }
    for (uint64_t at = ilst.Content; OpenBox(b, at, ilst.End, &box); at = box.End) {
        if (IsType(box, "\xA9nam")) {
            ReadIlstText(b, box, f->Title);
        } else if (IsType(box, "\xA9"
                               "ART")) {
            ReadIlstText(b, box, f->Artist);
        }
    }
    return true;
}

// ---- WAV ----------------------------------------------------------------------------------

bool ReadWav(const MediaBytes& b, Found* f) {
    const uint8_t* h = At(b, 0, 12);
    if (!h || memcmp(h, "RIFF", 4) != 0 || memcmp(h + 8, "WAVE", 4) != 0) {
        return false;
    }
    uint32_t byteRate = 0;
    uint64_t dataSize = 0;
    bool data = false;
    // Chunks are walked through the pieces at hand; each moves on by its header at least.
    for (uint64_t at = 12; at + 8 <= b.Size;) {
        const uint8_t* c = At(b, at, 8);
        if (!c) {
            break;
        }
        uint64_t size = Le32(c + 4), content = at + 8;
        size_t available;
        const uint8_t* d = Span(b, content, &available);
        size_t have = d ? static_cast<size_t>(size < available ? size : available) : 0;
        if (memcmp(c, "fmt ", 4) == 0 && have >= 12) {
            byteRate = Le32(d + 8);
        } else if (memcmp(c, "data", 4) == 0 && !data) {
            data = true;
            // A writer that never came back to fill the size in, or a file cut short.
            dataSize = size == 0xFFFFFFFF || size > b.Size - content ? b.Size - content : size;
        } else if (memcmp(c, "LIST", 4) == 0 && have >= 4 && memcmp(d, "INFO", 4) == 0) {
            for (size_t i = 4; i + 8 <= have;) {
                uint32_t length = Le32(d + i + 4);
                size_t text = have - (i + 8);
                size_t n = length < text ? length : text;
                if (memcmp(d + i, "INAM", 4) == 0) {
                    Take(f->Title, d + i + 8, n, 3);
                } else if (memcmp(d + i, "IART", 4) == 0) {
                    Take(f->Artist, d + i + 8, n, 3);
                }
                if (length > text) {
                    break;
                }
                i += 8 + length + (length & 1);
            }
        } else if ((memcmp(c, "id3 ", 4) == 0 || memcmp(c, "ID3 ", 4) == 0) && have) {
            // The tag comes before the INFO list in preference, whatever the order of chunks:
            // read it into its own fields and merge below.
            Found tag = {};
            ReadId3v2(d, have, &tag);
            if (tag.Title[0]) {
                memcpy(f->Title, tag.Title, sizeof tag.Title);
            }
            if (tag.Artist[0]) {
                memcpy(f->Artist, tag.Artist, sizeof tag.Artist);
            }
        }
        at = content + size + (size & 1);
    }
    if (data && byteRate) {
        f->Milliseconds = ToMilliseconds(dataSize, byteRate);
    }
    return true;
}

} // namespace

uint64_t MediaMiddleOffset(const uint8_t* head, size_t count, uint64_t size) {
    if (count >= size) {
        return size; // the whole file is at hand
    }
    uint64_t tag = Id3v2Size(head, count);
    if (tag + (4 << 10) > count && tag) {
        // What follows a tag longer than the head; a few KiB of it are enough.
        return tag < size ? tag : size;
    }
    MediaBytes b = {{head, count, 0}, {}, {}, size};
    bool mp4 = count >= 8 && memcmp(head + 4, "ftyp", 4) == 0;
    bool wav = count >= 12 && memcmp(head, "RIFF", 4) == 0 && memcmp(head + 8, "WAVE", 4) == 0;
    if (mp4) {
        Box box;
        uint64_t at = 0;
        while (OpenBox(b, at, size, &box)) {
            if (IsType(box, "moov")) {
                return size; // found within the head
            }
            at = box.End;
        }
        return at < size ? at : size;
    }
    if (count >= tag + 4 && memcmp(head + tag, "fLaC", 4) == 0) {
        // A picture block before the comments may be longer than the head.
        uint64_t at = tag + 4;
        const uint8_t* h;
        while ((h = At(b, at, 4)) != nullptr && !(h[0] & 0x80)) {
            at += 4 + (static_cast<uint64_t>(h[1]) << 16 | h[2] << 8 | h[3]);
        }
        return h || at >= size ? size : at;
    }
    if (wav) {
        uint64_t at = 12;
        while (at + 8 <= size && At(b, at, 8)) {
            uint64_t chunk = Le32(head + at + 4);
            at += 8 + chunk + (chunk & 1);
        }
        return at + 8 <= size ? at : size;
    }
    return size;
}

void ParseMedia(const MediaBytes& b, MediaInfo* info) {
    Found f = {};
    f.Milliseconds = -1;
    uint64_t tag = Id3v2Size(b.Head.Bytes, b.Head.Count);
    if (!ReadOgg(b, &f) && !ReadMp4(b, &f) && !ReadWav(b, &f) && !ReadFlac(b, tag, &f)) {
        // MP3, or a file that merely begins with a tag: the ID3v2 tag before ID3v1.
        ReadId3v2(b.Head.Bytes, b.Head.Count, &f);
        bool id3v1;
        uint64_t end = AudioEnd(b, &id3v1);
        ReadId3v1(b, &f);
        if (tag < end) {
            f.Milliseconds = Mp3Length(b, tag, end);
        }
    } else if (tag) {
        // A FLAC file with a tag before it: its own comments first.
        ReadId3v2(b.Head.Bytes, b.Head.Count, &f);
    }
    memcpy(info->Title, f.Title, sizeof f.Title);
    memcpy(info->Artist, f.Artist, sizeof f.Artist);
    info->TitleFromTags = f.Title[0] != 0;
    info->Milliseconds = f.Milliseconds;
    info->Seconds = f.Milliseconds < 0 ? -1 : f.Milliseconds / 1000;
}

// The file's name without folder and extension, as the title of a file without one.
static void NameAsTitle(const char16_t* path, char* out) {
    const char16_t* name = path;
    for (const char16_t* p = path; *p; ++p) {
        if (*p == u'\\' || *p == u'/') {
            name = p + 1;
        }
    }
    size_t units = WideLength(name);
    for (size_t i = units; i > 1; --i) {
        if (name[i - 1] == u'.') {
            units = i - 1; // ".hidden" keeps its dot: there the dot begins the name
            break;
        }
    }
    size_t in = units * 2, room = MediaTextBytes - 1;
    const void* from = name;
    void* to = out;
    Utf16ToUtf8(from, in, to, room);
    // The converter stops before a character that does not fit: what it wrote is whole.
    out[MediaTextBytes - 1 - room] = 0;
}

bool ReadMediaInfo(const char16_t* path, MediaInfo* info, uint8_t* given) {
    memset(info, 0, sizeof *info);
    info->Milliseconds = info->Seconds = -1;
    NameAsTitle(path, info->Title);
    PlatformFile* file = FileOpenRegular(path);
    if (!file) {
        return false;
    }
    // Only what was read of this file is parsed, so a room used before serves as it is.
    uint8_t* own = given ? nullptr : static_cast<uint8_t*>(ZeroAlloc(MediaRoomBytes));
    uint8_t* room = given ? given : own;
    uint64_t size = 0;
    if (room && FileGetSize(file, &size)) {
        MediaBytes b = {};
        b.Size = size;
        // A first look at the start; a longer one when a tag there is longer than that.
        size_t first = static_cast<size_t>(size < (64 << 10) ? size : (64 << 10));
        b.Head = {room, FileRead(file, room, first), 0};
        uint64_t tag = Id3v2Size(room, b.Head.Count);
        if (b.Head.Count == first && tag + (4 << 10) > first && first < size) {
            uint64_t want = tag + (4 << 10) < MediaHeadBytes ? tag + (4 << 10) : MediaHeadBytes;
            want = want < size ? want : size;
            b.Head.Count += FileRead(file, room + first, static_cast<size_t>(want - first));
        }
        uint64_t middle = MediaMiddleOffset(room, b.Head.Count, size);
        if (middle < size && FileSeekTo(file, middle)) {
            uint64_t left = size - middle;
            size_t want = left < MediaMiddleBytes ? static_cast<size_t>(left) : MediaMiddleBytes;
            b.Middle = {room + MediaHeadBytes, FileRead(file, room + MediaHeadBytes, want), middle};
        }
        // The end, where the head does not reach it already.
        if (size > b.Head.Count) {
            uint64_t left = size - b.Head.Count;
            size_t want = left < MediaTailBytes ? static_cast<size_t>(left) : MediaTailBytes;
            uint8_t* tail = room + MediaHeadBytes + MediaMiddleBytes;
            if (FileSeekFromEnd(file, static_cast<int64_t>(want))) {
                size_t got = FileRead(file, tail, want);
                b.Tail = {tail, got, size - want};
            }
        } else {
            b.Tail = b.Head;
        }
        MediaInfo parsed;
        ParseMedia(b, &parsed);
        if (parsed.TitleFromTags) {
            memcpy(info->Title, parsed.Title, sizeof parsed.Title);
        }
        memcpy(info->Artist, parsed.Artist, sizeof parsed.Artist);
        info->TitleFromTags = parsed.TitleFromTags;
        info->Milliseconds = parsed.Milliseconds;
        info->Seconds = parsed.Seconds;
    }
    ZeroFree(own);
    FileClose(file);
    return true;
}
