// Deleting and adding over any playlist bytes (8-bit, or UTF-16 behind a mark the first input
// byte picks): never a crash; a delete with an empty list keeps every entry that lists and gives
// back every line (line ends aside) but the info lines that describe nothing; deleting a listed
// name removes exactly the entries of that name with their own lines and leaves every other line
// byte for byte, in order; packing a listed plain relative name changes nothing; a packed new
// name lists afterwards.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "playlist/playlist.h"
#include "plugin/exports.h"
#include "tests/fuzz/entry_model.h"
#include "tests/fuzz/fuzz_files.h"

#define Check(ok) CheckAt(ok, __LINE__)
static void CheckAt(bool ok, int line) {
    if (!ok) {
        fprintf(stderr, "failed at line %d\n", line);
    }
    if (!ok) {
        abort();
    }
}

static std::vector<std::u16string> Listing(const std::u16string& playlist) {
    std::vector<std::u16string> names;
    tOpenArchiveDataW open = {};
    std::u16string name = playlist;
    open.ArcName = &name[0];
    void* handle = OpenArchiveW(&open);
    Check(handle != nullptr);
    static tHeaderDataExW header;
    while (ReadHeaderExW(handle, &header) == 0) {
        names.push_back(header.FileName);
    }
    CloseArchive(handle);
    return names;
}

// Whether a file of the playlist's folder lists: under its name, or under its full path where
// most of the playlist's lines are full paths (and new lines follow them).
static bool Lists(const std::vector<std::u16string>& names, const std::u16string& name) {
    const std::u16string tail = u"\\" + name;
    for (const auto& n : names) {
        if (n == name ||
            (n.size() > tail.size() && n.compare(n.size() - tail.size(), tail.size(), tail) == 0)) {
            return true;
        }
    }
    return false;
}

static std::vector<std::u16string> Without(std::vector<std::u16string> names,
                                           const std::u16string& name) {
    std::vector<std::u16string> kept;
    for (const auto& n : names) {
        if (n != name) {
            kept.push_back(n);
        }
    }
    return kept;
}

// A name of ordinary segments joined by backslashes: the very line a pack of it writes.
static bool PlainRelative(const std::u16string& name) {
    size_t segment = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        char16_t c = i < name.size() ? name[i] : u'\\';
        if (c < 0x20 || c == u'/' || c == u':' || c == u'*' || c == u'?') {
            return false;
        }
        if (c != u'\\') {
            ++segment;
            continue;
        }
        std::u16string s = name.substr(i - segment, segment);
        if (s.empty() || s == u"." || s == u".." || s.back() == u' ' || s.back() == u'.') {
            return false;
        }
        segment = 0;
    }
    return true;
}

// The lines of a playlist, and their kinds; its encoding, and whether it has a mark.
static std::vector<ModelLine> Model(const std::u16string& playlist,
                                    TextEncoding* encoding = nullptr, bool* marked = nullptr) {
    PlatformFile* file = FileOpen(playlist.c_str(), FileForReading);
    Check(file != nullptr);
    static LineReader reader;
    StartReader(&reader, file);
    std::vector<ModelLine> lines = ModelLines(&reader);
    if (encoding) {
        *encoding = ReaderEncoding(&reader);
        *marked = ByteOrderMark(&reader)[0] != 0;
    }
    FileClose(file);
    return lines;
}

static std::vector<std::string> Bytes(const std::vector<ModelLine>& lines) {
    std::vector<std::string> bytes;
    for (const auto& line : lines) {
        bytes.push_back(line.Bytes);
    }
    return bytes;
}

// The lines the model keeps. A kept line that comes first and would read as a byte-order mark
// gets a blank line before it in 8-bit text.
static std::vector<std::string> Kept(const std::vector<ModelLine>& lines,
                                     const std::vector<bool>& kept, bool guard) {
    std::vector<std::string> bytes;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (kept[i]) {
            bytes.push_back(lines[i].Bytes);
        }
    }
    static const char* const marks[] = {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"};
    for (const char* mark : marks) {
        if (guard && !bytes.empty() && bytes[0].compare(0, strlen(mark), mark) == 0) {
            bytes.insert(bytes.begin(), "");
            break;
        }
    }
    return bytes;
}

static std::string Load(const std::string& path) {
    std::string bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (f) {
        char block[8192];
        while (size_t n = fread(block, 1, sizeof block, f)) {
            bytes.append(block, n);
        }
        fclose(f);
    }
    return bytes;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 200000 || MayReadAsOtherFormat(data, size)) {
        return 0;
    }
    // A process may hand out only so many temporary names; the fuzzer runs far more calls.
    SetLastTempCounter(-1);
    std::string folder = ScratchFolder();
    std::string path = folder + "/list.m3u";
    std::u16string playlist = HostPath(path);
    static const char* const marks[] = {"", "", "\xFF\xFE", "\xFE\xFF"};
    std::string bytes = marks[data[0] % 4];
    bytes.append(reinterpret_cast<const char*>(data) + 2, size - 2);
    Store(path, bytes.data(), bytes.size());

    std::vector<std::u16string> before = Listing(playlist);
    TextEncoding encoding = Text8Bit;
    bool marked = false;
    std::vector<ModelLine> lines = Model(playlist, &encoding, &marked);
    bool guard = encoding == Text8Bit && !marked;
    bool fits = false;
    std::vector<bool> keptAll = KeptLines(
        lines, [](size_t) { return false; }, &fits);
    std::u16string none(1, u'\0');
    Check(DeleteFilesW(&playlist[0], &none[0]) == 0);
    Check(Listing(playlist) == before);
    std::vector<std::string> all = Bytes(Model(playlist)), want = Kept(lines, keptAll, guard);
    if (!fits) {
        // An outsized entry may change its lines' order, never the lines.
        std::sort(all.begin(), all.end());
        std::sort(want.begin(), want.end());
    }
    Check(all == want);

    if (!before.empty()) {
        std::u16string name = before[data[1] % before.size()];
        std::u16string list = name + u'\0' + u'\0';
        // A name that ends in "\*.*" stands for a folder of the listing.
        bool pattern = name.size() > 4 && name.compare(name.size() - 3, 3, u"*.*") == 0;
        Store(path, bytes.data(), bytes.size());
        Check(DeleteFilesW(&playlist[0], &list[0]) == 0);
        Check(pattern || Listing(playlist) == Without(before, name));
        char16_t listed[PathUnits];
        std::vector<bool> kept = KeptLines(
            lines,
            [&](size_t i) {
                const ModelLine& line = lines[i];
                size_t units =
                    ListedName(line.Bytes.data(), line.Bytes.size(), line.Whole, encoding, listed);
                return units == name.size() && name.compare(0, units, listed, units) == 0;
            },
            &fits);
        Check(pattern || !fits || Bytes(Model(playlist)) == Kept(lines, kept, guard));
        if (PlainRelative(name)) {
            std::u16string source = HostPath(folder) + u"\\";
            Store(path, bytes.data(), bytes.size());
            Check(PackFilesW(&playlist[0], nullptr, &source[0], &list[0], 0) == 0);
            Check(Load(path) == bytes);
        }
    }

    // Lines after a 0x1A that ends 8-bit text are no part of it, new lines included.
    if (data[0] % 4 < 2 && memchr(bytes.data(), 0x1A, bytes.size())) {
        return 0;
    }
    Store(path, bytes.data(), bytes.size());
    std::u16string added = u"fuzz" + std::u16string(1, u'a' + data[1] % 26) + u".mp3";
    std::u16string list = added + u'\0' + u'\0';
    std::u16string source = HostPath(folder) + u"\\";
    Check(PackFilesW(&playlist[0], nullptr, &source[0], &list[0], 0) == 0);
    Check(Lists(Listing(playlist), added));
    return 0;
}
