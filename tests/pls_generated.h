// Generated PLS texts of every awkward kind, and a digest of what the module makes of each through
// the calls that every build has had: its listing, its key counts, a delete's and a pack's
// output. tests/pls_digests.h holds the digests as they were before the rewrites took fewer
// readings; the tests hold each path of today to them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "formats/pls.h"

namespace plsgen {

struct Rng {
    uint64_t State;
    uint32_t Next() {
        State = State * 6364136223846793005u + 1442695040888963407u;
        return static_cast<uint32_t>(State >> 33);
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
};

inline std::string Widen(const std::string& text, bool big) {
    std::string out;
    for (unsigned char c : text) {
        out += big ? '\0' : static_cast<char>(c);
        out += big ? static_cast<char>(c) : '\0';
    }
    return out;
}

// Case `seed`: entries in order, in order past PlsEntryLimit, with gaps, backwards, shuffled or
// repeated; keys in any case, blanks, quotes, comments, other sections, long lines, every line
// end, 8-bit, UTF-8 with its mark or UTF-16 either way, a last line with or without its end.
inline std::string Text(uint32_t seed) {
    Rng r{seed * 2654435761u + 7};
    const char* ends[] = {"\n", "\r\n", "\r"};
    const char* eol = ends[r.Below(3)];
    bool mixedEnds = r.Below(6) == 0;
    auto end = [&]() { return mixedEnds ? ends[r.Below(3)] : eol; };
    uint32_t shape = r.Below(7);
    shape = shape == 1 && r.Below(3) != 0 ? 0 : shape; // the long texts: fewer of them
    bool backwards = r.Below(3) == 0;
    size_t count = shape == 1 ? PlsEntryLimit - 20 + r.Below(60) : r.Below(30);
    const char* fileKeys[] = {"File", "file", "FILE", " File", "FiLe"};
    const char* fileKey = fileKeys[r.Below(5)];
    std::string t;
    if (r.Below(5) == 0) {
        t += std::string("audio/x-scpls") + end();
    }
    const char* headers[] = {"[playlist]", "[Playlist]", " [PLAYLIST] ", "[playlist", "[other]"};
    // Each draw in a statement of its own: the order in which a compiler evaluates the operands
    // of one expression differs between targets, and the texts must not. The order is the one
    // the recorded digests were made with (the last operand first).
    if (r.Below(12) != 0) {
        const char* ending = end();
        const char* header = r.Below(8) == 0 ? headers[r.Below(5)] : headers[0];
        t += std::string(header) + ending;
    }
    if (r.Below(3) == 0) {
        const char* keys[] = {"NumberOfEntries=", "numberofentries = ", "NUMBEROFENTRIES=\""};
        const char* ending = end();
        std::string entries = std::to_string(r.Below(2) ? count : r.Below(99));
        t += keys[r.Below(3)] + entries + ending;
    }
    for (size_t i = 0; i < count; ++i) {
        uint64_t n = i + 1;
        if (shape == 1 && backwards) {
            n = count - i; // past PlsEntryLimit out of order: no rewrite
        } else if (shape == 2) {
            n = 1 + i * 2 + r.Below(2);
        } else if (shape == 3) {
            n = count - i;
        } else if (shape == 4) {
            n = 1 + r.Below(static_cast<uint32_t>(count) + 3);
        } else if (shape == 5 && r.Below(4) == 0) {
            n = 1 + r.Below(static_cast<uint32_t>(i) + 1);
        } else if (shape == 6 && r.Below(9) == 0) {
            const uint64_t odd[] = {0, 999999999, 1000000000, 99999999999ull};
            n = odd[r.Below(4)];
        }
        std::string number = std::to_string(n);
        std::string value = "e" + std::to_string(r.Below(12)) + ".mp3";
        uint32_t kind = r.Below(16);
        if (kind == 0) {
            value = "\"" + value + "\"";
        } else if (kind == 1 && count < 100) {
            value = std::string(PlsLineBytes + r.Below(40), 'x');
        } else if (kind == 2) {
            value = "Rock\\" + value;
        } else if (kind == 3) {
            value = "http://host/" + value;
        } else if (kind == 4) {
            value = "  " + value + " \t";
        }
        const char* key = r.Below(20) == 0 ? fileKeys[r.Below(5)] : fileKey;
        if (r.Below(8) == 0) {
            const char* ending = end();
            size_t letters = r.Below(4) || count > 100 ? 3 : 5000;
            t += std::string("Title") + number + "=" + std::string(letters, 'T') + ending;
        }
        t += key + number + "=" + value + end();
        if (r.Below(3) != 0) {
            const char* ending = end();
            t += (r.Below(2) ? "Title" : "title") + number + "=Title " + number + ending;
        }
        if (r.Below(3) != 0) {
            const char* ending = end();
            t += std::string(r.Below(9) ? "Length" : "length") + number + "=" + number + ending;
        }
        uint32_t extra = r.Below(40);
        if (extra == 0) {
            t += std::string("# comment") + end();
        } else if (extra == 1) {
            t += end();
        } else if (extra == 2) {
            const char* third = end();
            const char* second = end();
            const char* first = end();
            t += std::string("[other]") + first + "File1=q.mp3" + second + "[playlist]" + third;
        } else if (extra == 3) {
            t += std::string("genre") + number + "=Pop" + end();
        } else if (extra == 4) {
            t += std::string("File=") + value + end();
        }
    }
    if (r.Below(2) == 0) {
        t += "Version=2";
        if (r.Below(3) != 0) {
            t += end();
        }
    }
    uint32_t encoding = r.Below(10);
    if (encoding == 0) {
        t = "\xFF\xFE" + Widen(t, false);
    } else if (encoding == 1) {
        t = "\xFE\xFF" + Widen(t, true);
    } else if (encoding == 2) {
        t = "\xEF\xBB\xBF" + t;
    }
    if (r.Below(15) == 0) {
        t += 'z'; // half a UTF-16 unit, or a last byte without a line end
    }
    return t;
}

struct Memory {
    std::string Bytes;
    size_t Pos = 0;
    size_t Most = ~size_t{0}; // the most bytes one read gives
};

inline size_t Read(void* context, void* buffer, size_t bytes) {
    Memory* m = static_cast<Memory*>(context);
    size_t n = m->Bytes.size() - m->Pos;
    n = n < bytes ? n : bytes;
    n = n < m->Most ? n : m->Most;
    memcpy(buffer, m->Bytes.data() + m->Pos, n);
    m->Pos += n;
    return n;
}

inline bool Seek(void* context, uint64_t offset) {
    Memory* m = static_cast<Memory*>(context);
    m->Pos = offset < m->Bytes.size() ? static_cast<size_t>(offset) : m->Bytes.size();
    return true;
}

inline bool Failed(void*) {
    return false;
}

inline bool Append(void* context, const void* data, size_t bytes) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), bytes);
    return true;
}

inline uint64_t Fnv(uint64_t h, const void* data, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        h = (h ^ static_cast<const unsigned char*>(data)[i]) * 1099511628211u;
    }
    return h;
}

inline uint64_t Fnv(uint64_t h, uint64_t value) {
    return Fnv(h, &value, sizeof value);
}

// The entries a delete takes: about one in three, by their bytes, and every one not read whole.
inline bool Named(void* context, const char* location, size_t length, TextEncoding encoding,
                  bool whole) {
    if (context) {
        uint64_t* asked = static_cast<uint64_t*>(context);
        *asked = Fnv(Fnv(Fnv(*asked, location, length), encoding), whole);
    }
    return !whole || Fnv(14695981039346656037u, location, length) % 3 == 0;
}

// Up to three new entries, with a title and a length on some.
struct Added {
    size_t Given = 0;
    bool Fields = false;
};

inline bool NextAdded(void* context, char* path, size_t size) {
    Added* a = static_cast<Added*>(context);
    snprintf(path, size, a->Given % 2 ? "Rock\\n%zu.mp3" : "n%zu.mp3", a->Given);
    ++a->Given;
    return true;
}

inline bool AddedFields(void* context, char* title, size_t size, long long* seconds) {
    Added* a = static_cast<Added*>(context);
    snprintf(title, size, a->Given % 3 ? "T\xC3\xA9 %zu" : "", a->Given);
    *seconds = a->Given % 2 ? static_cast<long long>(a->Given) * 61 : -1;
    return true;
}

// How each step of a rewrite indexes and marks: the calls of old, or IndexAndMarkPls.
enum Marking { MarkApart, MarkWhileIndexing };

// What the module makes of case `seed`, as one number: the listing, the key counts, then a
// delete (with `marking`) and a pack into the case's text, each read in pieces of varied size.
inline uint64_t Digest(uint32_t seed, Marking marking) {
    std::string text = Text(seed);
    const size_t pieces[] = {~size_t{0}, 1, 7, 4093, 8192};
    Memory m;
    m.Bytes = text;
    m.Most = pieces[seed % 5];
    m.Most = text.size() > 65536 && m.Most < 4093 ? 4093 + seed % 7 : m.Most; // fewer calls
    ByteSource source = {Read, Seek, Failed, &m};
    uint64_t h = 14695981039346656037u;
    std::unique_ptr<PlsCursor> cursor(new PlsCursor);
    StartPlsCursor(cursor.get(), &source);
    char location[PlsLineBytes + 1];
    size_t length = 0;
    TextEncoding encoding = Text8Bit;
    bool whole = false;
    int got = 0;
    while ((got = NextPlsLocation(cursor.get(), location, &length, &encoding, &whole)) == 1) {
        h = Fnv(Fnv(Fnv(h, location, length), encoding), whole);
    }
    uint32_t files = 0, titles = 0, lengths = 0;
    h = Fnv(Fnv(h, got), CountPlsKeys(&source, &files, &titles, &lengths));
    h = Fnv(Fnv(Fnv(h, files), titles), lengths);
    std::unique_ptr<PlsIndex> index(new PlsIndex);
    for (int pack = 0; pack < 2; ++pack) {
        memset(index.get(), 0, sizeof *index);
        uint64_t asked = 0;
#ifdef PLSGEN_RECORD // the build of before, which had no IndexAndMarkPls
        PlsIndexed indexed = IndexPls(&source, index.get(), "\r\n");
#else
        PlsIndexed indexed = pack || marking == MarkApart
                                 ? IndexPls(&source, index.get(), "\r\n")
                                 : IndexAndMarkPls(&source, index.get(), "\r\n", Named, &asked);
#endif
        h = Fnv(h, indexed);
        if (indexed != PlsIndexRead) {
            continue;
        }
        if (!pack) {
            // Marked apart, or while indexing: the same entries asked, the same marks.
            h = Fnv(h, marking == MarkApart ? MarkPls(&source, index.get(), Named, &asked) : true);
        }
        h = Fnv(Fnv(Fnv(h, asked), AnyMarked(index.get())), index->Count);
        Added added;
        added.Fields = seed % 3 != 0;
        PlsNewEntries entries = {NextAdded, &added, pack ? 1 + seed % 3u : 0,
                                 added.Fields ? AddedFields : nullptr};
        std::string out;
        ByteSink sink = {Append, &out};
        h = Fnv(h, WritePls(&source, index.get(), &entries, &sink));
        h = Fnv(Fnv(h, out.data(), out.size()), index->Kept);
    }
    return h;
}

} // namespace plsgen
