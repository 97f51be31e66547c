// Deleting and adding over any playlist bytes (8-bit, or UTF-16 behind a mark the first input
// byte picks): never a crash; a delete with an empty list keeps every entry that lists; deleting
// a listed name removes exactly the entries of that name; packing a listed plain relative name
// changes nothing; a packed new name lists afterwards.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "playlist/playlist.h"
#include "plugin/exports.h"
#include "tests/fuzz/fuzz_files.h"

static void Check(bool ok) {
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

static bool Lists(const std::vector<std::u16string>& names, const std::u16string& name) {
    for (const auto& n : names) {
        if (n == name) {
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
    if (size < 2 || size > 200000) {
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
    std::u16string none(1, u'\0');
    Check(DeleteFilesW(&playlist[0], &none[0]) == 0);
    Check(Listing(playlist) == before);

    if (!before.empty()) {
        std::u16string name = before[data[1] % before.size()];
        std::u16string list = name + u'\0' + u'\0';
        // A name that ends in "\*.*" stands for a folder of the listing.
        bool pattern = name.size() > 4 && name.compare(name.size() - 3, 3, u"*.*") == 0;
        Store(path, bytes.data(), bytes.size());
        Check(DeleteFilesW(&playlist[0], &list[0]) == 0);
        Check(pattern || Listing(playlist) == Without(before, name));
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
