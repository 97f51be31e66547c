// Four threads, each with a playlist of its own, packing, listing, extracting and deleting at
// once through the exports, as a 64-bit host may.
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/exports.h"
#include "tests/support.h"

namespace {

int Work(const std::string& dir, int rounds) {
    int faults = 0;
    std::u16string playlist = WidePath(dir + "/list.m3u");
    std::u16string source = WidePath(dir) + u"\\";
    std::u16string out = WidePath(dir + "/out.mp3");
    std::u16string names = WideList({u"a.mp3", u"b.mp3"});
    std::u16string gone = WideList({u"a.mp3"});
    for (int i = 0; i < rounds; ++i) {
        faults += PackFilesW(&playlist[0], nullptr, &source[0], &names[0], 0) != 0;
        tOpenArchiveDataW open = {};
        open.ArcName = &playlist[0];
        void* handle = OpenArchiveW(&open);
        faults += handle == nullptr;
        tHeaderDataExW header;
        int entries = 0;
        while (handle && ReadHeaderExW(handle, &header) == 0) {
            ++entries;
            faults += ProcessFileW(handle, PK_EXTRACT, nullptr, &out[0]) != 0;
        }
        CloseArchive(handle);
        faults += entries != 2;
        faults += DeleteFilesW(&playlist[0], &gone[0]) != 0;
    }
    return faults;
}

TEST(Threads, FourPlaylistsAtOnce) {
    std::string root = TestFolder();
    std::vector<std::string> dirs;
    for (int t = 0; t < 4; ++t) {
        dirs.push_back(root + "/t" + std::to_string(t));
        std::filesystem::create_directories(std::filesystem::u8path(dirs.back()));
        WriteFile(dirs.back() + "/a.mp3", "a" + std::to_string(t));
        WriteFile(dirs.back() + "/b.mp3", "b" + std::to_string(t));
    }
    std::atomic<int> faults{0};
    std::vector<std::thread> threads;
    for (const std::string& dir : dirs) {
        threads.emplace_back([&faults, dir] { faults += Work(dir, 25); });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(faults, 0);
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(ReadFile(dirs[t] + "/list.m3u"), AsWritten("", "b.mp3\r\n")); // packed new
        EXPECT_EQ(ReadFile(dirs[t] + "/out.mp3"), "a" + std::to_string(t));     // listed last
        EXPECT_EQ(FolderListing(dirs[t]), "a.mp3|b.mp3|list.m3u|out.mp3");
    }
}

} // namespace
