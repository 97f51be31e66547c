// Four threads, each with a playlist of its own, packing, listing, extracting and deleting at
// once through the exports, as a 64-bit host may.
#include <atomic>
#include <filesystem>
#include <mutex>
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
        EXPECT_EQ(ReadFile(dirs[t] + "/list.m3u"),
                  AsWritten("", "#EXTM3U\r\nb.mp3\r\n"));                   // packed new
        EXPECT_EQ(ReadFile(dirs[t] + "/out.mp3"), "a" + std::to_string(t)); // listed last
        EXPECT_EQ(FolderListing(dirs[t]), "a.mp3|b.mp3|list.m3u|out.mp3");
    }
}

// What each thread's own callback heard: the names, guarded, should another thread's call reach it.
struct Heard {
    std::mutex Guard;
    std::vector<std::u16string> Names;
};
Heard HeardBy[2];

template <int Thread> int WCX_CALL Record(char16_t* name, int) {
    std::lock_guard<std::mutex> hold(HeardBy[Thread].Guard);
    HeardBy[Thread].Names.push_back(name);
    return 1;
}

void* const ThreadHandle = reinterpret_cast<void*>(intptr_t{-1});

// Packs a.mp3 and b.mp3 into a new playlist in `dir`, `rounds` times, with the callback given
// (none set when null).
void PackRounds(const std::string& dir, void* callback, int rounds) {
    if (callback) {
        SetProcessDataProcW(ThreadHandle, callback);
    }
    std::u16string playlist = WidePath(dir + "/list.m3u"), source = WidePath(dir) + HostSeparator();
    std::u16string names = WideList({u"a.mp3", u"b.mp3"});
    for (int i = 0; i < rounds; ++i) {
        std::filesystem::remove(std::filesystem::u8path(dir + "/list.m3u"));
        EXPECT_EQ(PackFilesW(&playlist[0], nullptr, &source[0], &names[0], 0), 0);
    }
    if (callback) {
        SetProcessDataProcW(ThreadHandle, nullptr);
    }
}

TEST(Threads, EachThreadHearsOnlyItsOwnPacking) {
    std::string root = TestFolder();
    std::string dirs[2] = {root + "/t0", root + "/t1"};
    for (const std::string& dir : dirs) {
        std::filesystem::create_directories(std::filesystem::u8path(dir));
        WriteFile(dir + "/a.mp3", "a");
        WriteFile(dir + "/b.mp3", "b");
    }
    const int rounds = 30;
    std::thread first(PackRounds, dirs[0], reinterpret_cast<void*>(&Record<0>), rounds);
    std::thread second(PackRounds, dirs[1], reinterpret_cast<void*>(&Record<1>), rounds);
    first.join();
    second.join();
    // A thread that set nothing hears nothing of the others' callbacks.
    PackRounds(dirs[0], nullptr, 1);
    for (int t = 0; t < 2; ++t) {
        SCOPED_TRACE(t);
        EXPECT_EQ(HeardBy[t].Names.size(), size_t{2 * rounds});
        for (const std::u16string& name : HeardBy[t].Names) {
            EXPECT_TRUE(name == WidePath(dirs[t] + "/a.mp3") ||
                        name == WidePath(dirs[t] + "/b.mp3"));
        }
    }
}

} // namespace
