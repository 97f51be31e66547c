// PLS over any bytes, through the module alone: listing ends and reads nothing out of bounds; a
// rewrite that deletes the entries whose location has an even length and adds two reads back
// with the kept entries' locations in their order and the new ones last, and writes the same when
// it marks while it indexes; a walk over the entries agrees with the cursor and IndexPls.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "formats/pls.h"

static void Check(bool ok) {
    if (!ok) {
        abort();
    }
}

struct Memory {
    std::string Bytes;
    size_t Pos = 0;
};

static size_t Read(void* context, void* buffer, size_t bytes) {
    Memory* m = static_cast<Memory*>(context);
    size_t n = m->Bytes.size() - m->Pos < bytes ? m->Bytes.size() - m->Pos : bytes;
    memcpy(buffer, m->Bytes.data() + m->Pos, n);
    m->Pos += n;
    return n;
}

static bool Seek(void* context, uint64_t offset) {
    Memory* m = static_cast<Memory*>(context);
    m->Pos = offset < m->Bytes.size() ? size_t(offset) : m->Bytes.size();
    return true;
}

static bool Failed(void*) {
    return false;
}

static bool Write(void* context, const void* data, size_t bytes) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), bytes);
    return true;
}

// The entries' locations in listing order.
static std::vector<std::string> Locations(Memory* m) {
    ByteSource source = {Read, Seek, Failed, m};
    static PlsCursor cursor;
    StartPlsCursor(&cursor, &source);
    std::vector<std::string> out;
    char location[PlsLineBytes + 1];
    size_t length = 0;
    TextEncoding encoding;
    bool whole = false;
    while (NextPlsLocation(&cursor, location, &length, &encoding, &whole) == 1) {
        Check(length <= PlsLineBytes);
        out.emplace_back(location, length);
    }
    return out;
}

static bool Even(size_t length) {
    return length % 2 == 0;
}

static bool EvenLength(void*, const char*, size_t length, TextEncoding, bool) {
    return Even(length);
}

static const char* const Added[] = {"new one.mp3", "x/y.mp3"};
static bool NextAdded(void* context, char* path, size_t size) {
    size_t* k = static_cast<size_t*>(context);
    Check(size >= 16);
    strcpy(path, Added[(*k)++ % 2]);
    return true;
}

static void Visit(void* context, const char* location, size_t length, TextEncoding, bool) {
    static_cast<std::vector<std::string>*>(context)->emplace_back(location, length);
}

// A walk visits what the cursor lists, in its order, counts as CountPlsKeys counts, and a shape
// it knows indexes as IndexPls does; without counts it visits the same.
static void CheckWalk(const ByteSource* source, const std::vector<std::string>& listed) {
    std::vector<std::string> walked, again;
    PlsKeyCounts counts;
    PlsShape shape;
    PlsWalked walk = WalkPls(source, Visit, &walked, &counts, &shape, "\n");
    Check(walk != PlsWalkUnreadable);
    Check(WalkPls(source, Visit, &again, nullptr) == walk && again == walked);
    if (walk == PlsWalkUnordered) {
        return;
    }
    Check(walked == listed);
    uint32_t files = 0, titles = 0, lengths = 0;
    Check(CountPlsKeys(source, &files, &titles, &lengths));
    Check(counts.Files == files && counts.Titles == titles && counts.Lengths == lengths);
    if (!shape.Known) {
        return;
    }
    static PlsIndex read, shaped;
    PlsIndexed indexed = IndexPls(source, &read, "\n");
    Check(IndexFromShape(&shape, &shaped) == indexed);
    if (indexed == PlsIndexRead) {
        Check(read.Count == shaped.Count && read.Listed == shaped.Listed &&
              read.LastEntryLine == shaped.LastEntryLine && read.HeaderLine == shaped.HeaderLine &&
              strcmp(read.FileKey, shaped.FileKey) == 0 &&
              strcmp(read.NewLineEnd, shaped.NewLineEnd) == 0 && read.Encoding == shaped.Encoding);
        Check(!read.Listed || memcmp(read.N, shaped.N, read.Count * sizeof read.N[0]) == 0);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Memory input;
    input.Bytes.assign(reinterpret_cast<const char*>(data), size);
    IsPlsText(data, size);
    std::vector<std::string> before = Locations(&input);
    static PlsIndex index;
    ByteSource source = {Read, Seek, Failed, &input};
    CheckWalk(&source, before);
    if (IndexPls(&source, &index, "\n") != PlsIndexRead) {
        return 0;
    }
    Check(index.Count == before.size());
    Check(MarkPls(&source, &index, EvenLength, nullptr));
    size_t k = 0;
    PlsNewEntries added = {NextAdded, &k, 2, nullptr};
    Memory output;
    ByteSink sink = {Write, &output.Bytes};
    Check(WritePls(&source, &index, &added, &sink));
    // Marking while indexing writes the same.
    static PlsIndex marked;
    Check(IndexAndMarkPls(&source, &marked, "\n", EvenLength, nullptr) == PlsIndexRead);
    k = 0;
    std::string same;
    ByteSink sameSink = {Write, &same};
    Check(WritePls(&source, &marked, &added, &sameSink) && same == output.Bytes);
    // Only text that reads as a playlist has entries to check; its rewrite lists as promised.
    if (!IsPlsText(data, size) || before.empty()) {
        return 0;
    }
    // A number of other digits moves where a line longer than a read is cut.
    for (const std::string& location : before) {
        if (location.size() + 32 > PlsLineBytes) {
            return 0;
        }
    }
    std::vector<std::string> after = Locations(&output);
    std::vector<std::string> want;
    for (const std::string& location : before) {
        if (!Even(location.size())) {
            want.push_back(location);
        }
    }
    // A new line's value reads back as written only in 8-bit text.
    if (index.Encoding == Text8Bit) {
        want.push_back(Added[0]);
        want.push_back(Added[1]);
        Check(after == want);
    }
    static PlsIndex again;
    Check(IndexPls(&source, &again, "\n") == PlsIndexRead);
    return 0;
}
