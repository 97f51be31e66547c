// Deleting and adding over any playlist bytes: never a crash; a delete with an empty list keeps
// every entry that lists; for plain ASCII playlists a deleted name no longer lists and a packed
// name lists afterwards.
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

// Plain ASCII text whose lines all fit one read: every listed name is its line's own bytes.
static bool Plain(const uint8_t* data, size_t size) {
    size_t line = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] >= 0x80 || data[i] == 0x1A || (i < 3 && data[i] == 0xEF)) {
            return false;
        }
        line = data[i] == '\n' ? 0 : line + 1;
        if (line >= 4000) {
            return false;
        }
    }
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 200000) {
        return 0;
    }
    // A process may hand out only so many temporary names; the fuzzer runs far more calls.
    SetLastTempCounter(-1);
    std::string folder = ScratchFolder();
    std::string path = folder + "/list.m3u";
    std::u16string playlist = HostPath(path);
    Store(path, data + 1, size - 1);

    std::vector<std::u16string> before = Listing(playlist);
    std::u16string none(1, u'\0');
    Check(DeleteFilesW(&playlist[0], &none[0]) == 0);
    Check(Listing(playlist) == before);

    if (!Plain(data + 1, size - 1)) {
        return 0;
    }
    std::u16string name = before.empty() ? u"" : before[data[0] % before.size()];
    // An empty name cannot be passed: it would end the list.
    if (!name.empty()) {
        std::u16string list = name + u'\0' + u'\0';
        Check(DeleteFilesW(&playlist[0], &list[0]) == 0);
        Check(!Lists(Listing(playlist), name));
    }
    std::u16string added = u"fuzz" + std::u16string(1, u'a' + data[0] % 26) + u".mp3";
    std::u16string list = added + u'\0' + u'\0';
    std::u16string source = HostPath(folder) + u"\\";
    Check(PackFilesW(&playlist[0], nullptr, &source[0], &list[0], 0) == 0);
    Check(Lists(Listing(playlist), added));
    return 0;
}
