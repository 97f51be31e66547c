// The exports as a host calls them: opening, the narrow records, null handles, path limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "playlist/playlist.h"
#include "plugin/exports.h"
#include "tests/support.h"

namespace {

// Opens like a host that set OpenResult beforehand; the plug-in leaves it alone.
void* OpenWide(const std::string& path, int mode = 0) {
    std::u16string arc = WidePath(path);
    tOpenArchiveDataW open = {&arc[0], mode, 77, nullptr, 0, 0, 0};
    void* handle = OpenArchiveW(&open);
    EXPECT_EQ(open.OpenResult, 77);
    return handle;
}

void* OpenNarrow(std::string name) {
    tOpenArchiveData open = {&name[0], 0, 77, nullptr, 0, 0, 0};
    void* handle = OpenArchive(&open);
    EXPECT_EQ(open.OpenResult, 77);
    return handle;
}

// A record followed by guard bytes, to catch writes past its size.
template <typename Record> struct Guarded {
    Record Rec;
    unsigned char Guard[64];
};

template <typename T> void Fill(T& object, int byte) {
    memset(&object, byte, sizeof object);
}

template <typename T> bool Holds(const T& object, int byte) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&object);
    return std::all_of(p, p + sizeof object, [byte](unsigned char b) { return b == byte; });
}

TEST(Exports, OpensExistingPlaylistsOnly) {
    std::string folder = TestFolder();
    WriteFile(folder + "/list.m3u", "a.mp3\n");
    const std::vector<std::pair<std::string, bool>> cases = {
        {folder + "/list.m3u", true},
        {folder + "/missing.m3u", false},
        {folder + "/none/list.m3u", false},
        {folder, false}, // a folder is no playlist
    };
    for (const auto& c : cases) {
        for (void* handle :
             {OpenWide(c.first, 0), OpenWide(c.first, 1), OpenNarrow(NarrowPath(c.first))}) {
            EXPECT_EQ(handle != nullptr, c.second) << c.first;
            EXPECT_EQ(CloseArchive(handle), 0);
        }
    }
    EXPECT_EQ(OpenNarrow(std::string(1100, 'a')), nullptr); // does not convert into PathUnits
}

// Creates folders below `folder` until its path is exactly `units` long; "" when that fails.
std::string DeepFolder(std::string folder, size_t units) {
    std::error_code error;
    while (!error && folder.size() < units) {
        size_t left = units - folder.size() - 1;
        folder += "/" + std::string(left > 255 ? 199 : left, 'd');
        std::filesystem::create_directory(std::filesystem::u8path(folder), error);
    }
    return error ? std::string() : folder;
}

TEST(Exports, PathsUpTo1023UnitsAndNoFurther) {
    // Playlists and entries whose full paths are 1023 and 1024 units long, all existing.
    std::string out = TestFolder();
    std::string folder = DeepFolder(out, PathUnits - 7);
    if (folder.empty()) {
        GTEST_SKIP() << "no paths of 1024 units here";
    }
    WriteFile(folder + "/l.m3u", "a.mp3\nab.mp3\n");
    WriteFile(folder + "/lm.m3u", "a.mp3\n");
    WriteFile(folder + "/a.mp3", "12345");
    WriteFile(folder + "/ab.mp3", "123456");
    EXPECT_EQ(OpenWide(folder + "/lm.m3u"), nullptr);
    EXPECT_EQ(OpenNarrow(NarrowPath(folder + "/lm.m3u")), nullptr);
    void* narrow = OpenNarrow(NarrowPath(folder + "/l.m3u"));
    EXPECT_NE(narrow, nullptr);
    CloseArchive(narrow);

    void* handle = OpenWide(folder + "/l.m3u");
    ASSERT_NE(handle, nullptr);
    std::u16string copy = WidePath(out + "/copy.mp3");
    std::u16string again = WidePath(out + "/again.mp3");
    tHeaderDataExW header;
    ASSERT_EQ(ReadHeaderExW(handle, &header), 0);
    EXPECT_EQ(header.UnpSize, 5u);
    EXPECT_EQ(ProcessFileW(handle, PK_EXTRACT, nullptr, &copy[0]), 0);
    EXPECT_EQ(ReadFile(out + "/copy.mp3"), "12345");
    // Too long to reach: listed without file data, and the last entry's path is not reused.
    ASSERT_EQ(ReadHeaderExW(handle, &header), 0);
    EXPECT_EQ(std::u16string(header.FileName), u"ab.mp3");
    EXPECT_EQ(header.UnpSize, 0u);
    EXPECT_EQ(header.FileTime, 0);
    EXPECT_EQ(ProcessFileW(handle, PK_EXTRACT, nullptr, &again[0]), E_EOPEN);
    EXPECT_FALSE(FileExists(out + "/again.mp3"));
    EXPECT_EQ(ReadHeaderExW(handle, &header), E_END_ARCHIVE);
    CloseArchive(handle);
}

TEST(ExportsNarrow, SameEntriesAsWideInTheAnsiCodePage) {
    std::string folder = TestFolder();
    WriteFile(folder + "/a.mp3", "12345");
    WriteFile(
        folder + "/list.m3u",
        "#EXTM3U\r\na.mp3\r\n\xC3\xA9.mp3\r\n\r\nmissing\r\n..\\\xC3\xA9\\x.mp3\r\nC:\\y.mp3\r\n");
    void* wide = OpenWide(folder + "/list.m3u");
    void* narrow = OpenNarrow(NarrowPath(folder + "/list.m3u"));
    ASSERT_TRUE(wide && narrow);
    int entries = 0;
    for (;; ++entries) {
        Guarded<tHeaderDataExW> w;
        Guarded<tHeaderDataEx> a;
        Fill(w, 0xCC);
        Fill(a, 0xCC);
        int result = ReadHeaderExW(wide, &w.Rec);
        ASSERT_EQ(ReadHeaderEx(narrow, &a.Rec), result);
        EXPECT_TRUE(Holds(w.Guard, 0xCC) && Holds(a.Guard, 0xCC)) << "written past a record";
        if (result != 0) {
            EXPECT_EQ(result, E_END_ARCHIVE);
            EXPECT_TRUE(Holds(a.Rec, 0xCC)) << "the end leaves the record alone";
            break;
        }
        char name[1024];
        WideToAnsi(w.Rec.FileName, name, sizeof name);
        EXPECT_STREQ(a.Rec.FileName, name);
        EXPECT_STREQ(a.Rec.ArcName, "");
        EXPECT_EQ(memcmp(&a.Rec.Flags, &w.Rec.Flags, sizeof a.Rec - offsetof(tHeaderDataEx, Flags)),
                  0);
        EXPECT_TRUE(entries != 0 || a.Rec.UnpSize == 5u);
#ifndef _WIN32
        EXPECT_TRUE(entries != 1 || std::string(a.Rec.FileName) == "\xC3\xA9.mp3"); // UTF-8
#endif
    }
    EXPECT_EQ(entries, 5); // the blank line is no entry
    CloseArchive(wide);
    CloseArchive(narrow);
}

TEST(Exports, NullHandlesAndTheOldHeaderCall) {
    std::string folder = TestFolder();
    WriteFile(folder + "/list.m3u", "a.mp3\n");
    void* open = OpenWide(folder + "/list.m3u");
    ASSERT_NE(open, nullptr);
    Guarded<tHeaderDataExW> w;
    Guarded<tHeaderDataEx> a;
    Fill(w, 0xCC);
    Fill(a, 0xCC);
    for (void* handle : {static_cast<void*>(nullptr), open}) {
        EXPECT_EQ(ReadHeader(handle, reinterpret_cast<tHeaderData*>(&a)), -1);
        EXPECT_TRUE(Holds(a, 0xCC));
    }
    EXPECT_EQ(ReadHeaderExW(nullptr, &w.Rec), E_END_ARCHIVE);
    EXPECT_EQ(ReadHeaderEx(nullptr, &a.Rec), E_END_ARCHIVE);
    EXPECT_TRUE(Holds(w, 0xCC) && Holds(a, 0xCC));
    char name[] = "x";
    char16_t wideName[] = u"x";
    EXPECT_EQ(ProcessFileW(nullptr, PK_EXTRACT, nullptr, wideName), E_NOT_SUPPORTED);
    EXPECT_EQ(ProcessFile(nullptr, PK_EXTRACT, nullptr, name), E_NOT_SUPPORTED);
    EXPECT_EQ(CloseArchive(nullptr), 0);
    // ReadHeader took nothing from the open playlist.
    EXPECT_EQ(ReadHeaderExW(open, &w.Rec), 0);
    EXPECT_EQ(std::u16string(w.Rec.FileName), u"a.mp3");
    CloseArchive(open);
}

TEST(Exports, CapsSettersAndWhatEachOperationDoes) {
    EXPECT_EQ(GetPackerCaps(), 287);
    EXPECT_EQ(GetBackgroundFlags(), BACKGROUND_UNPACK | BACKGROUND_PACK);
    std::string folder = TestFolder();
    WriteFile(folder + "/a.mp3", "12345");
    WriteFile(folder + "/list.m3u", "a.mp3\n");
    void* handle = OpenNarrow(NarrowPath(folder + "/list.m3u"));
    ASSERT_NE(handle, nullptr);
    unsigned char junk[64];
    Fill(junk, 0xCC);
    IgnoreCallback(handle, junk);
    IgnoreCallback(nullptr, nullptr);
#ifndef _WIN32
    PackSetDefaultParams(junk);
    SetChangeVolProc(handle, junk);
    SetChangeVolProcW(handle, junk);
#endif
#if M3U_LINUX_HOST
    ExtensionInitialize(nullptr); // no record: nothing kept (the About suite passes records)
#endif
    // A null handle keeps nothing; null callbacks clear what was kept.
    SetProcessDataProc(nullptr, junk);
    SetProcessDataProcW(nullptr, junk);
    SetProcessDataProc(handle, nullptr);
    SetProcessDataProcW(handle, nullptr);
    EXPECT_TRUE(Holds(junk, 0xCC));
    tHeaderDataEx header;
    ASSERT_EQ(ReadHeaderEx(handle, &header), 0);
    std::u16string wide = WidePath(folder + "/w.mp3");
    std::string narrow = NarrowPath(folder + "/n.mp3");
    std::string dir = NarrowPath(folder) + Host("\\");
    char base[] = "s.mp3";
    EXPECT_EQ(ProcessFileW(handle, PK_SKIP, nullptr, &wide[0]), 0);
    EXPECT_EQ(ProcessFile(handle, PK_TEST, nullptr, &narrow[0]), 0);
    EXPECT_EQ(FolderListing(folder), "a.mp3|list.m3u");
    EXPECT_EQ(ProcessFile(handle, PK_EXTRACT, nullptr, &narrow[0]), 0);
    EXPECT_EQ(ProcessFile(handle, PK_EXTRACT, &dir[0], base), 0); // joined as they stand
    EXPECT_EQ(ProcessFileW(handle, PK_EXTRACT, nullptr, &wide[0]), 0);
    EXPECT_EQ(FolderListing(folder), "a.mp3|list.m3u|n.mp3|s.mp3|w.mp3");
    EXPECT_EQ(ReadFile(folder + "/s.mp3"), "12345");
    std::string tooLong(1100, 'a');
    EXPECT_EQ(ProcessFile(handle, PK_EXTRACT, nullptr, &tooLong[0]), E_ECREATE);
    CloseArchive(handle);
}

} // namespace
