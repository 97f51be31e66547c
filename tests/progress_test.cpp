// The host's progress callbacks as a host sets them: what extracting, testing, packing and
// deleting tell it, and what an answer of 0 (Cancel) leaves behind.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "playlist/playlist.h"
#include "plugin/exports.h"
#include "tests/media_files.h"
#include "tests/support.h"

namespace {

using Clock = std::chrono::steady_clock;

// What the callbacks heard, and when to answer 0: at the call numbered StopAt (from 0), or never.
struct Call {
    std::u16string Wide; // the name, when the wide callback was called
    std::string Narrow;  // the name, when the narrow one was
    int Size;
};
struct Recording {
    std::vector<Call> Calls;
    int StopAt = -1;
    Clock::time_point Stopped; // when the 0 was answered
};
Recording* Heard = nullptr;

int Answer(Call call) {
    Heard->Calls.push_back(call);
    if (static_cast<int>(Heard->Calls.size()) - 1 != Heard->StopAt) {
        return 1;
    }
    Heard->Stopped = Clock::now();
    return 0;
}
int WCX_CALL RecordWide(char16_t* name, int size) {
    return Answer({name, "", size});
}
int WCX_CALL RecordNarrow(char* name, int size) {
    return Answer({u"", name, size});
}

enum Setting { WideOnly, NarrowOnly, Both, NoCallback };
const char* const SettingNames[] = {"wide", "narrow", "both", "none"};

void Set(void* handle, Setting setting) {
    SetProcessDataProc(handle, setting == NarrowOnly || setting == Both
                                   ? reinterpret_cast<void*>(&RecordNarrow)
                                   : nullptr);
    SetProcessDataProcW(handle, setting == WideOnly || setting == Both
                                    ? reinterpret_cast<void*>(&RecordWide)
                                    : nullptr);
}

// The calls one file's bytes gave: they sum to its size, each carries at most a MiB and all but
// the last at least 64 KiB, and each names the file in the callback's own encoding.
void ExpectBytes(const std::vector<Call>& calls, uint64_t size, const std::u16string& name,
                 Setting setting) {
    if (setting == NoCallback) {
        return; // nothing to call: the copy alone is checked
    }
    char narrow[PathUnits * 3];
    WideToAnsi(name.c_str(), narrow, sizeof narrow);
    uint64_t sum = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        sum += static_cast<uint64_t>(calls[i].Size);
        EXPECT_LE(calls[i].Size, 1 << 20);
        EXPECT_TRUE(calls[i].Size >= 65536 || (i + 1 == calls.size() && calls[i].Size > 0));
        if (setting == NarrowOnly) {
            EXPECT_EQ(calls[i].Narrow, narrow);
        } else {
            EXPECT_EQ(calls[i].Wide, name);
        }
    }
    EXPECT_EQ(sum, size);
}

// One playlist of files of the sizes that matter for the calls, written once for the suite.
const uint64_t Sizes[] = {0, 1, 65536, (1 << 20) + 1, 64 << 20};

class Progress : public testing::Test {
  protected:
    // In the suite's first test, which names the folder.
    static void WriteFiles() {
        dir = new std::string(TestFolder());
        std::string list;
        for (uint64_t size : Sizes) {
            std::string name = "e" + std::to_string(size) + ".bin";
            std::string bytes(static_cast<size_t>(size), '\0');
            for (size_t i = 0; i < bytes.size(); i += 4093) {
                bytes[i] = static_cast<char>(i / 4093);
            }
            WriteFile(*dir + "/" + name, bytes);
            list += name + "\r\n";
        }
        WriteFile(*dir + "/list.m3u", list);
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }
    void SetUp() override {
        Heard = &heard;
        if (!dir) {
            WriteFiles();
        }
    }
    void TearDown() override { Heard = nullptr; }

    void* Open() {
        std::u16string name = WidePath(*dir + "/list.m3u");
        tOpenArchiveDataW data = {};
        data.ArcName = &name[0];
        return OpenArchiveW(&data);
    }
    std::u16string Entry(uint64_t size) {
        return WidePath(*dir + "/e" + std::to_string(size) + ".bin");
    }

    static std::string* dir;
    Recording heard;
};
std::string* Progress::dir = nullptr;

TEST_F(Progress, ExtractAndTestTellEveryByteOnce) {
    std::u16string out = WidePath(*dir + "/out.bin");
    for (int op : {int{PK_EXTRACT}, int{PK_TEST}}) {
        for (Setting setting : {WideOnly, NarrowOnly, Both, NoCallback}) {
            SCOPED_TRACE(std::string(op == PK_TEST ? "test, " : "extract, ") +
                         SettingNames[setting]);
            void* handle = Open();
            ASSERT_NE(handle, nullptr);
            Set(handle, setting);
            tHeaderDataExW header;
            for (uint64_t size : Sizes) {
                SCOPED_TRACE(size);
                ASSERT_EQ(ReadHeaderExW(handle, &header), 0);
                heard.Calls.clear();
                ASSERT_EQ(ProcessFileW(handle, op, nullptr, &out[0]), 0);
                ExpectBytes(heard.Calls, size, Entry(size), setting);
                if (size == Sizes[4] && setting == WideOnly) {
                    printf("a 64 MiB entry, %s: %zu calls\n", op == PK_TEST ? "test" : "extract",
                           heard.Calls.size());
                }
                if (op == PK_EXTRACT) {
                    EXPECT_EQ(ReadFile(*dir + "/out.bin").size(), size);
                }
            }
            CloseArchive(handle);
        }
    }
}

// Cancel at the first call, half way and at the last: the copy ends at once, with no destination
// (even one that was there before) and no call after the 0.
TEST_F(Progress, CancelEndsAtOnceAndLeavesNoDestination) {
    const int calls = 64; // a MiB each
    const struct {
        int op, stopAt;
        bool existed;
    } cases[] = {
        {PK_EXTRACT, 0, false}, {PK_EXTRACT, calls / 2, true}, {PK_EXTRACT, calls - 1, false},
        {PK_TEST, 0, false},    {PK_TEST, calls / 2, false},   {PK_TEST, calls - 1, false},
    };
    std::u16string out = WidePath(*dir + "/out.bin");
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.op) + " stopped at " + std::to_string(c.stopAt));
        if (c.existed) {
            WriteFile(*dir + "/out.bin", "older");
        }
        void* handle = Open();
        ASSERT_NE(handle, nullptr);
        Set(handle, WideOnly);
        tHeaderDataExW header;
        for (int i = 0; i < 5; ++i) {
            ASSERT_EQ(ReadHeaderExW(handle, &header), 0);
        }
        heard.Calls.clear();
        heard.StopAt = c.stopAt;
        EXPECT_EQ(ProcessFileW(handle, c.op, nullptr, &out[0]), E_EABORTED);
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - heard.Stopped).count();
        printf("%s stopped at call %d: %.1f ms from the answer to the return\n",
               c.op == PK_TEST ? "test" : "extract", c.stopAt, ms);
        EXPECT_EQ(heard.Calls.size(), static_cast<size_t>(c.stopAt + 1));
        EXPECT_FALSE(FileExists(*dir + "/out.bin"));
        heard.StopAt = -1;
        CloseArchive(handle);
    }
}

// Packing tells each source's size as its line is added, and 0 for one already listed; deleting
// tells rising percents up to 100. Cancel at any call leaves the playlist and no temporary file.
class ProgressRewrite : public testing::Test {
  protected:
    void SetUp() override {
        Heard = &heard;
        dir = TestFolder();
        WriteFile(dir + "/a.mp3", std::string(70000, 'a'));
        WriteFile(dir + "/b.mp3", "bb");
        WriteFile(dir + "/c.mp3", "");
        WriteFile(dir + "/list.m3u", playlist);
        SetProcessDataProcW(reinterpret_cast<void*>(intptr_t{-1}),
                            reinterpret_cast<void*>(&RecordWide));
    }
    void TearDown() override {
        SetProcessDataProcW(reinterpret_cast<void*>(intptr_t{-1}), nullptr);
        Heard = nullptr;
    }
    int Pack() {
        std::u16string list = WidePath(dir + "/list.m3u"), source = WidePath(dir) + HostSeparator();
        std::u16string names = WideList({u"a.mp3", u"b.mp3", u"c.mp3"});
        return PackFilesW(&list[0], nullptr, &source[0], &names[0], 0);
    }
    int Delete() {
        std::u16string list = WidePath(dir + "/list.m3u");
        std::u16string names = WideList({u"x1.mp3", u"x3.mp3", u"x5.mp3", u"x7.mp3"});
        return DeleteFilesW(&list[0], &names[0]);
    }

    const std::string playlist = "b.mp3\r\nx1.mp3\r\nx2.mp3\r\nx3.mp3\r\nx5.mp3\r\nx7.mp3\r\n";
    std::string dir;
    Recording heard;
};

TEST_F(ProgressRewrite, PackTellsEachSourceAndCancelKeepsThePlaylist) {
    ASSERT_EQ(Pack(), 0);
    const struct {
        const char* name;
        int size;
    } told[] = {{"a.mp3", 70000}, {"b.mp3", 0}, {"c.mp3", 0}};
    ASSERT_EQ(heard.Calls.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(heard.Calls[i].Wide, WidePath(dir + "/" + told[i].name));
        EXPECT_EQ(heard.Calls[i].Size, told[i].size);
    }
    for (int stopAt : {0, 2}) {
        WriteFile(dir + "/list.m3u", playlist);
        heard.Calls.clear();
        heard.StopAt = stopAt;
        EXPECT_EQ(Pack(), E_EABORTED);
        EXPECT_EQ(ReadFile(dir + "/list.m3u"), playlist);
        EXPECT_EQ(FolderListing(dir), "a.mp3|b.mp3|c.mp3|list.m3u");
    }
    // The narrow export tells the thread's callbacks alike.
    SetProcessDataProcW(reinterpret_cast<void*>(intptr_t{-1}), nullptr);
    SetProcessDataProc(reinterpret_cast<void*>(intptr_t{-1}),
                       reinterpret_cast<void*>(&RecordNarrow));
    heard.Calls.clear();
    heard.StopAt = 1;
    std::string list = NarrowPath(dir + "/list.m3u"), source = NarrowPath(dir) + Host("\\");
    std::string names = NarrowList({"a.mp3", "b.mp3"});
    EXPECT_EQ(PackFiles(&list[0], nullptr, &source[0], &names[0], 0), E_EABORTED);
    ASSERT_EQ(heard.Calls.size(), 2u);
    EXPECT_EQ(heard.Calls[0].Narrow, NarrowPath(dir) + Host("\\a.mp3"));
    EXPECT_EQ(ReadFile(dir + "/list.m3u"), playlist);
    SetProcessDataProc(reinterpret_cast<void*>(intptr_t{-1}), nullptr);
}

TEST_F(ProgressRewrite, DeleteTellsRisingPercentsAndCancelKeepsThePlaylist) {
    // In one rewrite, and in batches of two names, which take two rewrites.
    for (const TableMode& mode : TableModes) {
        SCOPED_TRACE(mode.Name);
        InTableMode in(mode);
        WriteFile(dir + "/list.m3u", playlist);
        heard.Calls.clear();
        ASSERT_EQ(Delete(), 0);
        EXPECT_EQ(ReadFile(dir + "/list.m3u"), AsWritten(playlist, "b.mp3\r\nx2.mp3\r\n"));
        ASSERT_FALSE(heard.Calls.empty());
        int last = 0;
        for (const Call& call : heard.Calls) {
            EXPECT_EQ(call.Wide, WidePath(dir + "/list.m3u"));
            EXPECT_LT(call.Size, last); // -1 to -100, always further
            EXPECT_GE(call.Size, -100);
            last = call.Size;
        }
        EXPECT_EQ(last, -100);
        int count = static_cast<int>(heard.Calls.size());
        for (int stopAt : {0, count / 2, count - 1}) {
            WriteFile(dir + "/list.m3u", playlist);
            heard.Calls.clear();
            heard.StopAt = stopAt;
            EXPECT_EQ(Delete(), E_EABORTED) << stopAt;
            EXPECT_EQ(ReadFile(dir + "/list.m3u"), playlist);
            EXPECT_EQ(FolderListing(dir), "a.mp3|b.mp3|c.mp3|list.m3u");
            heard.StopAt = -1;
        }
    }
}

// Pack reads each new file's headers where the playlist's entries carry titles: the host hears of
// each file once its headers are read, and a Cancel answered at any point of a big batch leaves
// the playlist as it was, in each format that carries them.
TEST_F(ProgressRewrite, CancelDuringHeaderReadsKeepsThePlaylist) {
    std::string tagged;
    for (const MediaFile& f : MediaFiles()) {
        tagged = std::string(f.Name) == "v23.mp3" ? f.Bytes : tagged;
    }
    ASSERT_FALSE(tagged.empty());
    const int count = 300;
    std::vector<std::u16string> files;
    for (int i = 0; i < count; ++i) {
        std::string name = "t" + std::to_string(i) + ".mp3";
        WriteFile(dir + "/" + name, tagged);
        files.push_back(std::u16string(name.begin(), name.end()));
    }
    const struct {
        const char* File;
        std::string Text;
    } lists[] = {
        {"ext.m3u", "#EXTM3U\r\n#EXTINF:1,x\r\nb.mp3\r\n"},
        {"titled.pls",
         "[playlist]\r\nFile1=b.mp3\r\nTitle1=x\r\nLength1=1\r\nNumberOfEntries=1\r\n"},
        {"timed.xspf",
         "<?xml version=\"1.0\"?>\n<playlist xmlns=\"http://xspf.org/ns/0/\"><trackList>"
         "<track><location>b.mp3</location><title>x</title><duration>1000</duration>"
         "</track></trackList></playlist>\n"},
    };
    std::u16string source = WidePath(dir) + HostSeparator(), names = WideList(files);
    auto inFolder = [&] {
        size_t n = 0;
        for (auto it = std::filesystem::directory_iterator(std::filesystem::u8path(dir));
             it != std::filesystem::directory_iterator(); ++it) {
            ++n;
        }
        return n;
    };
    for (const auto& l : lists) {
        SCOPED_TRACE(l.File);
        std::string path = dir + "/" + l.File;
        std::u16string list = WidePath(path);
        for (int stopAt : {0, count / 2, count - 1}) {
            WriteFile(path, l.Text);
            size_t before = inFolder();
            heard.Calls.clear();
            heard.StopAt = stopAt;
            EXPECT_EQ(PackFilesW(&list[0], nullptr, &source[0], &names[0], 0), E_EABORTED);
            EXPECT_EQ(heard.Calls.size(), size_t(stopAt + 1));
            EXPECT_EQ(ReadFile(path), l.Text) << stopAt;
            EXPECT_EQ(inFolder(), before) << "a temporary file left";
        }
        heard.Calls.clear();
        heard.StopAt = -1;
        ASSERT_EQ(PackFilesW(&list[0], nullptr, &source[0], &names[0], 0), 0);
        EXPECT_EQ(heard.Calls.size(), size_t(count));
        std::string now = ReadFile(path);
        size_t titles = 0;
        for (size_t at = now.find("Caf\xC3\xA9 del Mar"); at != std::string::npos;
             at = now.find("Caf\xC3\xA9 del Mar", at + 1)) {
            ++titles;
        }
        EXPECT_EQ(titles, size_t(count)) << "every new entry carries its title";
    }
}

} // namespace
