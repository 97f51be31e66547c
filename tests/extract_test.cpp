// Copying out through the exports: which operations copy, where the copy goes, and failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "playlist/playlist.h"
#include "plugin/exports.h"
#include "tests/support.h"

namespace {

namespace fs = std::filesystem;

// A playlist naming song.mp3 beside it, opened as an archive.
class ExtractFile : public testing::Test {
  protected:
    void SetUp() override {
        dir = TestFolder();
        for (int i = 0; i < 9000; ++i) {
            song += static_cast<char>(i % 251);
        }
        WriteFile(dir + "/song.mp3", song);
        fs::path path = fs::u8path(dir + "/song.mp3");
        fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(24 * 400));
        WriteFile(dir + "/list.m3u", "#EXTM3U\r\nsong.mp3\r\n");
        std::u16string name = WidePath(dir + "/list.m3u");
        tOpenArchiveDataW data = {};
        data.ArcName = name.data();
        handle = OpenArchiveW(&data);
        ASSERT_NE(handle, nullptr);
    }
    void TearDown() override { CloseArchive(handle); }

    int Next() {
        auto header = std::make_unique<tHeaderDataExW>();
        return ReadHeaderExW(handle, header.get());
    }
    // Null pointers stay null; the strings are copies, as a host's buffers would be.
    int Process(int op, const char16_t* path, const char16_t* name, void* h = nullptr) {
        std::u16string p = path ? path : u"", n = name ? name : u"";
        return ProcessFileW(h ? h : handle, op, path ? p.data() : nullptr,
                            name ? n.data() : nullptr);
    }
    // A copy of song.mp3 with its bytes and its write time.
    void ExpectCopy(const std::string& path) {
        EXPECT_EQ(ReadFile(path), song) << path;
        if (FileExists(path)) {
            EXPECT_EQ(fs::last_write_time(fs::u8path(path)),
                      fs::last_write_time(fs::u8path(dir + "/song.mp3")));
        }
    }

    std::string dir, song;
    void* handle = nullptr;
};

TEST_F(ExtractFile, OnlyExtractCopies) {
    ASSERT_EQ(Next(), E_SUCCESS);
    std::u16string out = WidePath(dir + "/out.mp3");
    std::string narrow = NarrowPath(dir + "/out.mp3");
    for (int op : {int{PK_SKIP}, int{PK_TEST}, 3, -1}) {
        EXPECT_EQ(Process(op, nullptr, nullptr), E_SUCCESS) << op;
        EXPECT_EQ(Process(op, nullptr, out.c_str()), E_SUCCESS) << op;
        EXPECT_EQ(ProcessFile(handle, op, nullptr, nullptr), E_SUCCESS) << op;
        EXPECT_EQ(ProcessFile(handle, op, nullptr, narrow.data()), E_SUCCESS) << op;
    }
    EXPECT_EQ(FolderListing(dir), "list.m3u|song.mp3");
    // A null handle is refused whatever the operation.
    EXPECT_EQ(ProcessFileW(nullptr, PK_EXTRACT, nullptr, nullptr), E_NOT_SUPPORTED);
    EXPECT_EQ(ProcessFileW(nullptr, PK_SKIP, nullptr, nullptr), E_NOT_SUPPORTED);
    EXPECT_EQ(ProcessFile(nullptr, PK_EXTRACT, nullptr, narrow.data()), E_NOT_SUPPORTED);
    EXPECT_EQ(FolderListing(dir), "list.m3u|song.mp3");
}

// The first entry of other kinds of playlist extracts from the file it names; a URL names none.
TEST_F(ExtractFile, OtherKindsOfLinesNameTheirFiles) {
    std::u16string wide = WidePath(dir);
    std::string slashes(wide.begin(), wide.end()); // the test folder's path is ASCII
    std::replace(slashes.begin(), slashes.end(), '\\', '/');
    const struct {
        std::string playlist;
        int result;
    } cases[] = {
        {"file:///" + slashes + "/%73ong.mp3\r\n", E_SUCCESS},
        {"\xFF\xFE" + Utf16Le(u"#EXTM3U\r\nsong.mp3"), E_SUCCESS},
        {"\xFE\xFF" + Utf16Be(u"\r\n \r\nsong.mp3\rx"), E_SUCCESS},
        {"http://localhost/song.mp3\r\n", E_EOPEN},
    };
    std::u16string out = WidePath(dir + "/out.mp3"), list = WidePath(dir + "/other.m3u");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.playlist);
        WriteFile(dir + "/other.m3u", c.playlist);
        tOpenArchiveDataW data = {};
        data.ArcName = list.data();
        void* other = OpenArchiveW(&data);
        ASSERT_NE(other, nullptr);
        auto header = std::make_unique<tHeaderDataExW>();
        EXPECT_EQ(ReadHeaderExW(other, header.get()), E_SUCCESS);
        EXPECT_EQ(header->UnpSize, c.result == E_SUCCESS ? song.size() : 0u);
        EXPECT_EQ(Process(PK_EXTRACT, nullptr, out.c_str(), other), c.result);
        CloseArchive(other);
        if (c.result == E_SUCCESS) {
            ExpectCopy(dir + "/out.mp3");
        }
        fs::remove(fs::u8path(dir + "/out.mp3"));
        EXPECT_EQ(FolderListing(dir), "list.m3u|other.m3u|song.mp3");
    }
}

TEST_F(ExtractFile, DestinationIsPathAndNameJoinedAsGiven) {
    ASSERT_EQ(Next(), E_SUCCESS);
    fs::create_directory(fs::u8path(dir + "/OUT"));
    std::u16string base = WidePath(dir) + HostSeparator();
    EXPECT_EQ(Process(PK_EXTRACT, (base + u"OUT" + HostSeparator()).c_str(), u"song.mp3"),
              E_SUCCESS);
    ExpectCopy(dir + "/OUT/song.mp3");
    EXPECT_EQ(Process(PK_EXTRACT, (base + u"OUT").c_str(), u"song.mp3"), E_SUCCESS);
    ExpectCopy(dir + "/OUTsong.mp3");
    EXPECT_EQ(Process(PK_EXTRACT, nullptr, (base + Host(u"OUT\\whole.mp3")).c_str()), E_SUCCESS);
    ExpectCopy(dir + "/OUT/whole.mp3");
    std::string narrow = NarrowPath(dir + "/OUT/narrow.mp3");
    EXPECT_EQ(ProcessFile(handle, PK_EXTRACT, nullptr, narrow.data()), E_SUCCESS);
    ExpectCopy(dir + "/OUT/narrow.mp3");
    EXPECT_EQ(FolderListing(dir + "/OUT"), "narrow.mp3|song.mp3|whole.mp3");
}

TEST_F(ExtractFile, NothingListedYetOrListingEnded) {
    std::u16string out = WidePath(dir + "/out.mp3");
    EXPECT_EQ(Process(PK_EXTRACT, nullptr, out.c_str()), E_EOPEN);
    EXPECT_EQ(FolderListing(dir), "list.m3u|song.mp3");
    ASSERT_EQ(Next(), E_SUCCESS);
    ASSERT_EQ(Next(), E_END_ARCHIVE);
    EXPECT_EQ(Process(PK_EXTRACT, nullptr, out.c_str()), E_SUCCESS);
    ExpectCopy(dir + "/out.mp3");
}

TEST_F(ExtractFile, MissingSourceLeavesDestinationAlone) {
    ASSERT_EQ(Next(), E_SUCCESS);
    fs::remove(fs::u8path(dir + "/song.mp3"));
    WriteFile(dir + "/old.mp3", "old");
    EXPECT_EQ(Process(PK_EXTRACT, nullptr, WidePath(dir + "/old.mp3").c_str()), E_EOPEN);
    EXPECT_EQ(Process(PK_EXTRACT, nullptr, WidePath(dir + "/new.mp3").c_str()), E_EOPEN);
    EXPECT_EQ(ReadFile(dir + "/old.mp3"), "old");
    EXPECT_EQ(FolderListing(dir), "list.m3u|old.mp3");
}

TEST_F(ExtractFile, DestinationLimits) {
    ASSERT_EQ(Next(), E_SUCCESS);
    // "\.\" pads a path beyond PathUnits units without making it invalid.
    std::u16string base = WidePath(dir) + HostSeparator();
    while (base.size() < PathUnits - 12) {
        base += Host(u".\\");
    }
    std::u16string name = u"x.mp3" + std::u16string(PathUnits - 1 - base.size() - 5, u'x');
    ASSERT_EQ(base.size() + name.size(), PathUnits - 1u);
    EXPECT_EQ(Process(PK_EXTRACT, base.c_str(), (name + u"y").c_str()), E_ECREATE);
    EXPECT_EQ(Process(PK_EXTRACT, (base + u"y").c_str(), name.c_str()), E_ECREATE);
    EXPECT_EQ(Process(PK_EXTRACT, nullptr, WidePath(dir + "/none/x.mp3").c_str()), E_ECREATE);
    EXPECT_EQ(FolderListing(dir), "list.m3u|song.mp3");
    EXPECT_EQ(Process(PK_EXTRACT, base.c_str(), name.c_str()), E_SUCCESS);
    ExpectCopy(dir + "/" + std::string(name.begin(), name.end()));
#ifndef _WIN32
    EXPECT_EQ(Process(PK_EXTRACT, nullptr, WidePath("/dev/full").c_str()), E_EWRITE);
    EXPECT_TRUE(FileExists("/dev/full")) << "a failed copy removes files, never devices";
#endif
}

TEST_F(ExtractFile, ReadOnlyDestinationIsRefused) {
    if (!ReadOnlyHolds(dir)) {
        GTEST_SKIP() << "read-only files stay writable for this user";
    }
    ASSERT_EQ(Next(), E_SUCCESS);
    WriteFile(dir + "/kept.mp3", "kept");
    MakeReadOnly(dir + "/kept.mp3", true);
    EXPECT_EQ(Process(PK_EXTRACT, nullptr, WidePath(dir + "/kept.mp3").c_str()), E_ECREATE);
    MakeReadOnly(dir + "/kept.mp3", false);
    EXPECT_EQ(ReadFile(dir + "/kept.mp3"), "kept");
}

#ifdef _WIN32
// A destination that another program holds open without write sharing cannot be created.
TEST_F(ExtractFile, LockedDestinationIsRefused) {
    ASSERT_EQ(Next(), E_SUCCESS);
    WriteFile(dir + "/held.mp3", "held");
    void* held = HoldOpen(dir + "/held.mp3", 1); // FILE_SHARE_READ only
    EXPECT_EQ(Process(PK_EXTRACT, nullptr, WidePath(dir + "/held.mp3").c_str()), E_ECREATE);
    Release(held);
    EXPECT_EQ(ReadFile(dir + "/held.mp3"), "held");
}
#endif

TEST_F(ExtractFile, OntoItsOwnSourceStaysIntact) {
    ASSERT_EQ(Next(), E_SUCCESS);
    std::u16string base = WidePath(dir) + HostSeparator();
    EXPECT_EQ(Process(PK_EXTRACT, (base + Host(u".\\")).c_str(), u"song.mp3"), E_SUCCESS);
    EXPECT_EQ(Process(PK_EXTRACT, nullptr, (base + Host(u"\\song.mp3")).c_str()), E_SUCCESS);
    EXPECT_EQ(ReadFile(dir + "/song.mp3"), song);
    EXPECT_EQ(FolderListing(dir), "list.m3u|song.mp3");
}

#ifndef _WIN32
// Makes a copy that never ends or never begins fail the run instead of filling the disk or hanging
// it: files stop growing at 64 MiB (the write then fails), and the process ends after a minute.
struct Watchdog {
    rlimit before = {};
    Watchdog() {
        getrlimit(RLIMIT_FSIZE, &before);
        rlimit capped = before;
        capped.rlim_cur = std::min<rlim_t>(before.rlim_max, rlim_t{64} << 20);
        signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &capped);
        alarm(60);
    }
    ~Watchdog() {
        alarm(0);
        setrlimit(RLIMIT_FSIZE, &before);
        signal(SIGXFSZ, SIG_DFL);
    }
};
#else
struct Watchdog {}; // no alarm or file-size limit to set here
#endif

// Whatever a line names, listing, copying and testing answer at once: a regular file lists with
// its size and time, copies and reads whole; anything else lists as a missing file does, and
// copying or testing it fails with E_EOPEN, creating nothing and leaving a destination as it was.
TEST(ExtractKinds, OnlyRegularFilesAreCopiedOrRead) {
    std::string dir = TestFolder();
    const std::string song(70000, 's');
    WriteFile(dir + "/song.mp3", song);
    fs::create_directories(fs::u8path(dir + "/sub"));
    WriteFile(dir + "/sub/inside.mp3", "in");
    fs::create_directories(fs::u8path(dir + "/out"));
    const struct {
        const char* what;
        std::string line;
        bool regular;
    } kinds[] = {
        {"regular file", "song.mp3", true},
        {"folder", "sub", false},
        {"missing file", "gone.mp3", false},
        {"stream URL", "http://localhost/stream.mp3", false},
#ifdef _WIN32
        // Unix devices under Wine; the devices every Windows has, by name and as device paths.
        {"Z:\\dev\\zero", "Z:\\dev\\zero", false},
        {"NUL", "NUL", false},
        {"a file by its device path", "\\\\?\\" + dir + "\\song.mp3", true},
        {"NUL in a folder", "sub\\NUL", false},
        {"\\\\.\\NUL", "\\\\.\\NUL", false},
#else
        {"named pipe", "pipe", false},
        {"/dev/zero", Host("\\dev\\zero"), false},
        {"/dev/null", Host("\\dev\\null"), false},
#endif
    };
#ifndef _WIN32
    ASSERT_EQ(mkfifo((dir + "/pipe").c_str(), 0644), 0);
#endif
    std::string playlist;
    for (const auto& k : kinds) {
        playlist += k.line + "\r\n";
    }
    WriteFile(dir + "/list.m3u", playlist);
    std::u16string name = WidePath(dir + "/list.m3u");
    tOpenArchiveDataW data = {};
    data.ArcName = name.data();
    void* handle = OpenArchiveW(&data);
    ASSERT_NE(handle, nullptr);
    [[maybe_unused]] Watchdog watchdog;
    int i = 0;
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.what);
        auto header = std::make_unique<tHeaderDataExW>();
        ASSERT_EQ(ReadHeaderExW(handle, header.get()), E_SUCCESS);
        EXPECT_EQ(header->UnpSize, k.regular ? song.size() : 0u);
        EXPECT_EQ(header->UnpSizeHigh, 0u);
        EXPECT_EQ(header->FileTime != 0, k.regular);
        if (ThisHost.ModeInAttr) {
            // Never a folder or a device in the host's eyes; permissions only for a file.
            EXPECT_EQ(header->FileAttr & ~07777, 0100000);
            EXPECT_EQ((header->FileAttr & 07777) != 0, k.regular);
        } else {
            EXPECT_EQ(header->FileAttr, 0);
        }
        const int expected = k.regular ? E_SUCCESS : E_EOPEN;
        std::string kept = dir + "/out/kept" + std::to_string(i);
        std::string fresh = dir + "/out/fresh" + std::to_string(i++);
        WriteFile(kept, "old");
        std::u16string keptWide = WidePath(kept), freshWide = WidePath(fresh);
        EXPECT_EQ(ProcessFileW(handle, PK_TEST, nullptr, nullptr), expected);
        EXPECT_EQ(ProcessFile(handle, PK_TEST, nullptr, nullptr), expected);
        EXPECT_FALSE(FileExists(fresh));
        EXPECT_EQ(ProcessFileW(handle, PK_EXTRACT, nullptr, keptWide.data()), expected);
        EXPECT_EQ(ProcessFileW(handle, PK_EXTRACT, nullptr, freshWide.data()), expected);
        EXPECT_EQ(ReadFile(kept), k.regular ? song : "old");
        EXPECT_EQ(FileExists(fresh), k.regular);
        EXPECT_EQ(ProcessFileW(handle, PK_SKIP, nullptr, nullptr), E_SUCCESS);
    }
    auto header = std::make_unique<tHeaderDataExW>();
    EXPECT_EQ(ReadHeaderExW(handle, header.get()), E_END_ARCHIVE);
    CloseArchive(handle);
    EXPECT_EQ(ReadFile(dir + "/sub/inside.mp3"), "in");
}

// Test reads to the end, past the copy's blocks, and tells a file that could not be read.
TEST(ExtractKinds, TestReadsTheWholeFile) {
    std::string dir = TestFolder();
    for (size_t size : {size_t{0}, size_t{1}, size_t{65536}, size_t{FileCopyBlock} * 2 + 1}) {
        WriteFile(dir + "/f", std::string(size, 'f'));
        EXPECT_EQ(TestEntry(WidePath(dir + "/f").c_str()), E_SUCCESS) << size;
    }
    EXPECT_EQ(TestEntry(u""), E_EOPEN); // nothing listed yet
    EXPECT_EQ(FolderListing(dir), "f");
#ifndef _WIN32
    // A regular file whose first read fails: this process's memory at address 0.
    if (FileExists("/proc/self/mem")) {
        EXPECT_EQ(TestEntry(WidePath("/proc/self/mem").c_str()), E_EREAD);
    }
#endif
}

// A playlist path that names no regular file is refused at once by every operation: opening,
// deleting from it and packing into it. Reading a pipe would block, reading /dev/zero would
// fill the temporary file without end.
TEST(ExtractKinds, APlaylistThatIsNoFileIsRefusedAtOnce) {
    std::string dir = TestFolder();
    fs::create_directories(fs::u8path(dir + "/folder.m3u"));
    WriteFile(dir + "/song.mp3", "s");
    std::vector<std::string> playlists = {dir + "/folder.m3u"};
#ifdef _WIN32
    playlists.push_back("Z:\\dev\\zero");
#else
    ASSERT_EQ(mkfifo((dir + "/pipe.m3u").c_str(), 0644), 0);
    playlists.push_back(dir + "/pipe.m3u");
    playlists.push_back("/dev/zero");
#endif
    [[maybe_unused]] Watchdog watchdog;
    for (const std::string& playlist : playlists) {
        SCOPED_TRACE(playlist);
        std::u16string name = WidePath(playlist);
        tOpenArchiveDataW data = {};
        data.ArcName = name.data();
        EXPECT_EQ(OpenArchiveW(&data), nullptr);
        std::u16string list = std::u16string(u"song.mp3") + u'\0' + u'\0';
        EXPECT_NE(DeleteFilesW(name.data(), list.data()), E_SUCCESS);
        // Wine gives its devices no attributes, so a pack there takes one for a new playlist.
        if (playlist != "Z:\\dev\\zero") {
            std::u16string source = WidePath(dir + "/");
            EXPECT_NE(PackFilesW(name.data(), nullptr, source.data(), list.data(), 0), E_SUCCESS);
        }
    }
    // Nothing was created beside the playlists, and the folder is still one.
#ifdef _WIN32
    EXPECT_EQ(FolderListing(dir), "folder.m3u|song.mp3");
#else
    EXPECT_EQ(FolderListing(dir), "folder.m3u|pipe.m3u|song.mp3");
#endif
}

} // namespace
