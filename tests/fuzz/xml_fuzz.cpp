// XSPF, WPL and ASX over any bytes (one target per format, each grown from its own seeds): never
// a crash; the entries' spans lie in the file, in order, apart; a file read whole and written
// again without every other entry, or with a new one, reads whole again with exactly the
// entries it should have, and the new one lists as packed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "formats/xml.h"

#define Check(ok) CheckAt(ok, __LINE__)
static void CheckAt(bool ok, int line) {
    if (!ok) {
        fprintf(stderr, "failed at line %d\n", line);
        abort();
    }
}

static bool Append(void* context, const void* data, size_t bytes) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), bytes);
    return true;
}

static const unsigned char* Bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    XmlPlaylist p;
    if (!ReadXmlPlaylist(data, size, &p)) {
        return 0;
    }
    for (size_t i = 0; i < p.Count; ++i) {
        Check(p.Entries[i].Start <= p.Entries[i].End && p.Entries[i].End <= size);
        Check(i == 0 || p.Entries[i - 1].End <= p.Entries[i].Start);
    }
    if (p.Whole) {
        std::vector<char> remove(p.Count + 1, 0);
        size_t kept = 0;
        for (size_t i = 0; i < p.Count; ++i) {
            remove[i] = i % 2 == 0;
            kept += remove[i] ? 0 : 1;
        }
        std::string out;
        XmlSink sink = {Append, &out};
        Check(WriteXmlWithout(&p, data, size, reinterpret_cast<const bool*>(remove.data()), &sink));
        XmlPlaylist q;
        if (ReadXmlPlaylist(Bytes(out), out.size(), &q)) {
            Check(q.Whole && q.Count == kept);
            FreeXmlPlaylist(&q);
        }
        out.clear();
        const XmlNewEntry added = {"n e/w&<.mp3", "t&", "c", 5};
        if (WriteXmlWith(&p, p.Format, data, size, &added, 1, &sink)) {
            if (ReadXmlPlaylist(Bytes(out), out.size(), &q)) {
                Check(q.Whole && q.Count == p.Count + 1);
                const char* listed = q.Entries[q.Count - 1].Location;
                Check(listed &&
                      strcmp(listed, p.Format == FormatWpl ? "n e\\w&<.mp3" : "n e/w&<.mp3") == 0);
                FreeXmlPlaylist(&q);
            }
        }
    }
    FreeXmlPlaylist(&p);
    return 0;
}
