// File copies and temporary names: exact bytes, error codes, the counter's form and its end.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "playlist/playlist.h"
#include "tests/support.h"

namespace {

namespace fs = std::filesystem;

int Copy(const std::string& dest, const std::string& src, bool keepWriteTime = false) {
    return CopyFileData(WidePath(dest).c_str(), WidePath(src).c_str(), keepWriteTime);
}

std::u16string Ascii(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

std::string Base32(uint32_t v) {
    std::string digits;
    do {
        digits.insert(digits.begin(), "0123456789abcdefghijklmnopqrstuv"[v % 32]);
        v /= 32;
    } while (v > 0);
    return digits;
}

TEST(FilesCopy, BytesArriveUnchangedAndCutLongerDestination) {
    std::string dir = TestFolder();
    // The buffer's block, and the kernel's.
    const size_t block = 65536, chunk = FileCopyBlock;
    for (size_t size :
         {size_t{0}, size_t{1}, size_t{8191}, size_t{8192}, size_t{8193}, 3 * size_t{8192},
          block - 1, block, block + 1, 3 * block, chunk - 1, chunk, chunk + 1, 2 * chunk + 5}) {
        std::string bytes;
        for (size_t i = 0; i < size; ++i) {
            bytes += static_cast<char>((i * 131 + 7) % 256); // CR, LF, 0x1A and zero among them
        }
        WriteFile(dir + "/src", bytes);
        WriteFile(dir + "/dst", std::string(size + 100, 'z'));
        EXPECT_EQ(Copy(dir + "/dst", dir + "/src"), E_SUCCESS) << size;
        EXPECT_EQ(ReadFile(dir + "/dst"), bytes) << size;
    }
}

TEST(FilesCopy, FailuresTouchNothing) {
    std::string dir = TestFolder();
    WriteFile(dir + "/src", "data");
    WriteFile(dir + "/old", "keep");
    fs::create_directory(fs::u8path(dir + "/folder"));
    const struct {
        const char* dest;
        const char* src;
        int result;
    } cases[] = {
        {"/old", "/missing", E_EOPEN},
        {"/new", "/missing", E_EOPEN},
        {"/nowhere/new", "/src", E_ECREATE},
        {"/folder", "/src", E_ECREATE},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Copy(dir + c.dest, dir + c.src), c.result) << c.dest;
        EXPECT_EQ(FolderListing(dir), "folder|old|src") << c.dest;
        EXPECT_EQ(ReadFile(dir + "/old"), "keep");
    }
#ifndef _WIN32
    EXPECT_EQ(Copy("/dev/full", dir + "/src"), E_EWRITE);
#endif
}

TEST(FilesCopy, WriteTimeKeptOnlyWhenAsked) {
    std::string dir = TestFolder();
    WriteFile(dir + "/src", std::string(20000, 's'));
    fs::path src = fs::u8path(dir + "/src");
    fs::last_write_time(src, fs::last_write_time(src) - std::chrono::hours(24 * 1000));
    ASSERT_EQ(Copy(dir + "/kept", dir + "/src", true), E_SUCCESS);
    ASSERT_EQ(Copy(dir + "/fresh", dir + "/src", false), E_SUCCESS);
    EXPECT_EQ(fs::last_write_time(fs::u8path(dir + "/kept")), fs::last_write_time(src));
    EXPECT_GT(fs::last_write_time(fs::u8path(dir + "/fresh")), fs::last_write_time(src));
}

TEST(FilesCopy, SameFileThroughAnotherSpellingStaysIntact) {
    std::string dir = TestFolder();
    WriteFile(dir + "/f", "contents");
    std::vector<std::u16string> spellings = {WidePath(dir) + Host(u"\\.\\f"),
                                             WidePath(dir) + Host(u"\\\\f")};
#ifdef _WIN32
    std::u16string upper = WidePath(dir) + u"\\F";
    for (char16_t& c : upper) {
        c = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
    }
    spellings.push_back(upper);
#endif
    for (const auto& other : spellings) {
        EXPECT_EQ(CopyFileData(other.c_str(), WidePath(dir + "/f").c_str(), true), E_SUCCESS);
        EXPECT_EQ(CopyFileData(WidePath(dir + "/f").c_str(), other.c_str(), false), E_SUCCESS);
        EXPECT_EQ(ReadFile(dir + "/f"), "contents");
    }
    EXPECT_EQ(FolderListing(dir), "f");
}

// The counter belongs to the process: each test starts it afresh and leaves it so.
class FilesTemp : public testing::Test {
  protected:
    void SetUp() override { SetLastTempCounter(-1); }
    void TearDown() override { SetLastTempCounter(-1); }
    std::u16string Next(const std::u16string& dir) {
        char16_t name[PathUnits] = {};
        return MakeTempName(dir.c_str(), name, PathUnits) ? name : u"(none)";
    }
};

TEST_F(FilesTemp, NamesCountInBase32AfterProcessId) {
    std::u16string dir = WidePath(TestFolder()) + HostSeparator();
    std::u16string stem = dir + u"s" + Ascii(Base32(CurrentProcessId())) + u".";
    std::vector<std::u16string> names;
    for (int i = 0; i <= 32; ++i) {
        names.push_back(Next(dir));
    }
    EXPECT_EQ(names[0], stem);
    EXPECT_EQ(names[1], stem + u"1");
    EXPECT_EQ(names[9], stem + u"9");
    EXPECT_EQ(names[10], stem + u"a");
    EXPECT_EQ(names[31], stem + u"v");
    EXPECT_EQ(names[32], stem + u"10");
    EXPECT_EQ(Next(u""), u"s" + Ascii(Base32(CurrentProcessId())) + u".11");
}

TEST_F(FilesTemp, ExistingNamesAreSkipped) {
    std::string dir = TestFolder();
    std::string stem = dir + "/s" + Base32(CurrentProcessId()) + ".";
    WriteFile(stem + "1", "");
    WriteFile(stem + "2", "");
    std::u16string wide = WidePath(dir) + HostSeparator();
    EXPECT_EQ(Next(wide), WidePath(stem));
    EXPECT_EQ(Next(wide), WidePath(stem + "3"));
}

TEST_F(FilesTemp, CounterEndsAt32766AndNeverRestarts) {
    std::u16string dir = WidePath(TestFolder()) + HostSeparator();
    SetLastTempCounter(32765);
    EXPECT_EQ(Next(dir), dir + u"s" + Ascii(Base32(CurrentProcessId())) + u".vvu");
    char16_t name[PathUnits] = {u'x'};
    EXPECT_FALSE(MakeTempName(dir.c_str(), name, PathUnits));
    EXPECT_EQ(name[0], 0);
    EXPECT_FALSE(MakeTempName(dir.c_str(), name, PathUnits));
}

TEST_F(FilesTemp, TooSmallBufferIsRefused) {
    char16_t name[32] = {};
    EXPECT_FALSE(MakeTempName(u"abc\\", name, 4 + 12));
    EXPECT_TRUE(MakeTempName(u"abc\\", name, 4 + 13));
}

TEST_F(FilesTemp, ConcurrentCallersGetDistinctNames) {
    std::u16string dir = WidePath(TestFolder()) + HostSeparator();
    std::vector<std::vector<std::u16string>> got(4);
    std::vector<std::thread> threads;
    for (auto& names : got) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                names.push_back(Next(dir));
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    std::set<std::u16string> distinct;
    for (const auto& names : got) {
        distinct.insert(names.begin(), names.end());
    }
    EXPECT_EQ(distinct.size(), 800u);
    EXPECT_EQ(distinct.count(u"(none)"), 0u);
}

TEST_F(FilesTemp, BesideThePlaylistAndRemoval) {
    std::string dir = TestFolder();
    char16_t name[PathUnits] = {};
    ASSERT_TRUE(TempNameBeside(WidePath(dir + "/list.m3u").c_str(), name));
    EXPECT_EQ(std::u16string(name),
              WidePath(dir) + Host(u"\\s") + Ascii(Base32(CurrentProcessId())) + u".");
    ASSERT_TRUE(TempNameBeside(u"list.m3u", name));
    EXPECT_EQ(std::u16string(name), u"s" + Ascii(Base32(CurrentProcessId())) + u".1");
    WriteFile(dir + "/other", "x");
    EXPECT_FALSE(RemoveFile(WidePath(dir + "/missing").c_str()));
    EXPECT_EQ(FolderListing(dir), "other");
}

} // namespace
