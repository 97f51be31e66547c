// Copies in the system's temporary folder, made by extraction, stand for their entries' files:
// hosts copy between playlists, and open a playlist inside a playlist, through such a folder.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "playlist/tempcopies.h"
#include "plugin/exports.h"
#include "tests/support.h"

namespace fs = std::filesystem;

namespace {

// A host's session: every call through the exports.
int Extract(const std::string& playlist, const std::u16string& entry, const std::string& dest) {
    std::u16string arc = WidePath(playlist), to = WidePath(dest);
    tOpenArchiveDataW open = {&arc[0], 1, 0, nullptr, 0, 0, 0};
    void* handle = OpenArchiveW(&open);
    if (!handle) {
        return -1;
    }
    int result = -2; // no such entry
    tHeaderDataExW header;
    while (ReadHeaderExW(handle, &header) == 0) {
        bool wanted = header.FileName == Shown(entry);
        int done =
            ProcessFileW(handle, wanted ? PK_EXTRACT : PK_SKIP, nullptr, wanted ? &to[0] : nullptr);
        result = wanted ? done : result;
    }
    CloseArchive(handle);
    return result;
}

int Pack(const std::string& playlist, const std::string& folder,
         const std::vector<std::u16string>& names) {
    std::u16string arc = WidePath(playlist), src = WidePath(folder) + HostSeparator();
    std::u16string list = WideList(names);
    return PackFilesW(&arc[0], nullptr, &src[0], &list[0], 0);
}

int Delete(const std::string& playlist, const std::vector<std::u16string>& names) {
    std::u16string arc = WidePath(playlist), list = WideList(names);
    return DeleteFilesW(&arc[0], &list[0]);
}

// Each entry as its name in UTF-8, a space and its size ("-" when its file is missing), then "|".
std::string Listing(const std::string& playlist) {
    std::u16string arc = WidePath(playlist);
    tOpenArchiveDataW open = {&arc[0], 0, 0, nullptr, 0, 0, 0};
    void* handle = OpenArchiveW(&open);
    std::string out;
    tHeaderDataExW header;
    while (handle && ReadHeaderExW(handle, &header) == 0) {
        out += fs::path(std::u16string(header.FileName)).u8string() + " " +
               (header.FileTime ? std::to_string(header.UnpSize) : "-") + "|";
    }
    CloseArchive(handle);
    return out;
}

// The same for entries written with Windows separators, as this build's host shows them.
std::string Listed(const std::vector<std::pair<std::u16string, std::string>>& entries) {
    std::string out;
    for (const auto& entry : entries) {
        out += fs::path(Shown(entry.first)).u8string() + " " + entry.second + "|";
    }
    return out;
}

// The music, the playlist that lists it and the one copied into, side by side in a test's
// folder; `Temp` a host's folder for one copy under the system's temporary folder, which is the
// test's own `tmp` for the test's life, `Outside` a folder beside it.
struct Shelf {
    std::string Root, Music, Party, Mix, Temp, Outside;
    TempFolderAt System;
    Shelf() : Root(TestFolder()), System(Root + "/tmp") {
        ResetTempCopies(0);
        Music = Root + "/music";
        Party = Music + "/party.m3u";
        Mix = Root + "/mix/mix.m3u";
        char16_t temp[1024];
        EXPECT_TRUE(TempFolder(temp, 1024));
        Temp = fs::path(std::u16string(temp)).u8string();
#ifndef _WIN32
        std::replace(Temp.begin(), Temp.end(), '\\', '/'); // the native build's own separator
#endif
        Temp += "/_dc" + std::to_string(CurrentProcessId()) + "-" +
                fs::u8path(Root).filename().u8string();
        Outside = Root + "/outside";
        for (const std::string& folder : {Music + "/sub", Root + "/mix", Temp + "/sub", Outside}) {
            fs::create_directories(fs::u8path(folder));
        }
        WriteFile(Music + "/a.mp3", "aaaa");
        WriteFile(Music + "/caf\xc3\xa9.mp3", "cc");
        WriteFile(Music + "/sub/b.mp3", "bbb");
        WriteFile(Music + "/inner.m3u", Host("sub\\b.mp3\r\n"));
        WriteFile(Party, Host("a.mp3\r\ncaf\xc3\xa9.mp3\r\nsub\\b.mp3\r\ninner.m3u\r\n"));
        WriteFile(Mix, "own.mp3\r\n");
    }
    ~Shelf() {
        std::error_code ignored;
        fs::remove_all(fs::u8path(Temp), ignored);
        fs::remove_all(fs::u8path(Outside), ignored);
        ResetTempCopies(0);
    }
};

// What happens to a copy between the host's extraction and its pack.
enum Meddling { Untouched, Edited, Touched, Replaced, CopiedByOthers };
enum Where { InTemp, OutsideTemp, InTempThroughLink };

struct CopyCase {
    const char* Name;
    const char16_t* Entry; // as party.m3u lists it
    Where Folder;
    Meddling Meddle;
    const char* Before; // mix.m3u before the pack, lines after "own.mp3"
    int Result;
    const char* Added; // the lines the pack adds, Windows separators; "" the playlist unchanged
};

const CopyCase CopyCases[] = {
    {"names the original", u"a.mp3", InTemp, Untouched, "", 0, "..\\music\\a.mp3\r\n"},
    {"in a subfolder", u"sub\\b.mp3", InTemp, Untouched, "", 0, "..\\music\\sub\\b.mp3\r\n"},
    {"beyond ASCII", u"caf\u00e9.mp3", InTemp, Untouched, "", 0, "..\\music\\caf\xc3\xa9.mp3\r\n"},
    {"a duplicate judged on the original's line", u"a.mp3", InTemp, Untouched,
     "..\\music\\a.mp3\r\n", 0, ""},
    {"edited after the copy", u"a.mp3", InTemp, Edited, "", E_NOT_SUPPORTED, ""},
    {"only its write time changed", u"a.mp3", InTemp, Touched, "", E_NOT_SUPPORTED, ""},
    {"another file in its place", u"a.mp3", InTemp, Replaced, "", E_NOT_SUPPORTED, ""},
    {"copied by another program", u"a.mp3", InTemp, CopiedByOthers, "", 0, "TEMP\\a.mp3\r\n"},
    {"copied outside the temporary folder", u"a.mp3", OutsideTemp, Untouched, "", 0,
     "OUT\\a.mp3\r\n"},
#ifndef _WIN32
    {"the temporary folder spelt through a link", u"a.mp3", InTempThroughLink, Untouched, "", 0,
     "..\\music\\a.mp3\r\n"},
#endif
};

// The path from mix.m3u's folder to `folder`, with Windows separators.
std::string FromMix(const Shelf& shelf, const std::string& folder) {
    std::string relative =
        fs::u8path(folder).lexically_relative(fs::u8path(shelf.Root + "/mix")).u8string();
    if (relative.empty() || relative.find("..") != 0) {
        relative = fs::u8path(folder).u8string(); // another root: the full path
    }
    for (char& c : relative) {
        c = c == '/' ? '\\' : c;
    }
    return relative;
}

// An entry's path, written with Windows separators, as a relative path in UTF-8 with slashes.
std::string Relative(const std::u16string& windowsName) {
    std::string path = fs::path(windowsName).u8string();
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
    size_t at = text.find(what);
    return at == std::string::npos ? text : text.replace(at, what.size(), with);
}

TEST(TempCopies, PackFromACopy) {
    for (const CopyCase& c : CopyCases) {
        SCOPED_TRACE(c.Name);
        Shelf shelf;
        std::string folder = c.Folder == OutsideTemp ? shelf.Outside : shelf.Temp;
        std::string through = folder;
        if (c.Folder == InTempThroughLink) {
            through = shelf.Outside + "/link";
            fs::create_directory_symlink(fs::u8path(shelf.Temp), fs::u8path(through));
        }
        std::string entry = Relative(c.Entry);
        std::string copy = through + "/" + entry;
        if (c.Meddle == CopiedByOthers) {
            WriteFile(copy, ReadFile(shelf.Music + "/" + entry));
        } else {
            ASSERT_EQ(Extract(shelf.Party, c.Entry, copy), 0);
        }
        if (c.Meddle == Edited) {
            WriteFile(copy, "edited");
        } else if (c.Meddle == Touched) {
            fs::last_write_time(fs::u8path(copy),
                                fs::last_write_time(fs::u8path(copy)) - std::chrono::hours(1));
        } else if (c.Meddle == Replaced) {
            // As editors save: a new file renamed over the old, here of the same bytes and time.
            WriteFile(copy + ".new", ReadFile(copy));
            fs::last_write_time(fs::u8path(copy + ".new"), fs::last_write_time(fs::u8path(copy)));
            fs::rename(fs::u8path(copy + ".new"), fs::u8path(copy));
        }
        std::string before = AsWritten("own.mp3\r\n", "own.mp3\r\n" + Host(c.Before));
        WriteFile(shelf.Mix, before);
        EXPECT_EQ(Pack(shelf.Mix, through, {Host(c.Entry)}), c.Result);
        std::string added = Replace(Replace(c.Added, "TEMP", FromMix(shelf, shelf.Temp)), "OUT",
                                    FromMix(shelf, shelf.Outside));
        EXPECT_EQ(ReadFile(shelf.Mix), before + AsWritten(before, Host(added)));
    }
}

// Every entry of party.m3u copied into mix.m3u at once, as a host copies between two panels.
TEST(TempCopies, CopyBetweenPlaylists) {
    Shelf shelf;
    std::vector<std::u16string> names = {u"a.mp3", u"caf\u00e9.mp3", u"sub\\b.mp3", u"inner.m3u"};
    for (std::u16string& name : names) {
        ASSERT_EQ(Extract(shelf.Party, name, shelf.Temp + "/" + Relative(name)), 0);
        name = Host(name);
    }
    ASSERT_EQ(Pack(shelf.Mix, shelf.Temp, names), 0);
    fs::remove_all(fs::u8path(shelf.Temp));
    EXPECT_EQ(ReadFile(shelf.Mix),
              AsWritten("own.mp3\r\n", Host("own.mp3\r\n..\\music\\a.mp3\r\n..\\music\\caf\xc3\xa9"
                                            ".mp3\r\n..\\music\\sub\\b.mp3\r\n..\\music\\inner."
                                            "m3u\r\n")));
    std::string inner = std::to_string(ReadFile(shelf.Music + "/inner.m3u").size());
    EXPECT_EQ(Listing(shelf.Mix), Listed({{u"own.mp3", "-"},
                                          {u"..\\music\\a.mp3", "4"},
                                          {u"..\\music\\caf\u00e9.mp3", "2"},
                                          {u"..\\music\\sub\\b.mp3", "3"},
                                          {u"..\\music\\inner.m3u", inner}}));
}

// A playlist inside a playlist, opened from its copy: its own entries, found from its own
// folder; extracting them, packing into it and deleting from it reach the original.
TEST(TempCopies, NestedPlaylistThroughItsCopy) {
    Shelf shelf;
    std::string inner = shelf.Temp + "/inner.m3u";
    ASSERT_EQ(Extract(shelf.Party, u"inner.m3u", inner), 0);
    std::string copied = ReadFile(inner);
    EXPECT_EQ(Listing(inner), Listed({{u"sub\\b.mp3", "3"}}));
    ASSERT_EQ(Extract(inner, u"sub\\b.mp3", shelf.Temp + "/b.mp3"), 0);
    EXPECT_EQ(ReadFile(shelf.Temp + "/b.mp3"), "bbb");

    ASSERT_EQ(Pack(inner, shelf.Music, {u"a.mp3"}), 0);
    EXPECT_EQ(ReadFile(shelf.Music + "/inner.m3u"),
              AsWritten(Host("sub\\b.mp3\r\n"), Host("sub\\b.mp3\r\na.mp3\r\n")));
    ASSERT_EQ(Delete(inner, {Host(u"sub\\b.mp3")}), 0);
    EXPECT_EQ(ReadFile(shelf.Music + "/inner.m3u"), AsWritten(Host("sub\\b.mp3\r\n"), "a.mp3\r\n"));
    EXPECT_EQ(ReadFile(inner), copied); // the copy itself is never written
    EXPECT_EQ(Listing(inner), "a.mp3 4|");

    // Once changed, the copy stands for nothing: it opens, and changes, as itself.
    WriteFile(inner, "own.mp3\r\n");
    EXPECT_EQ(Listing(inner), "own.mp3 -|");
    ASSERT_EQ(Delete(inner, {u"own.mp3"}), 0);
    EXPECT_EQ(ReadFile(inner), "");
    EXPECT_EQ(ReadFile(shelf.Music + "/inner.m3u"), AsWritten(Host("sub\\b.mp3\r\n"), "a.mp3\r\n"));
}

// Two hosts' threads copying out of one playlist and packing at once, each into its own.
TEST(TempCopies, TwoThreadsAtOnce) {
    Shelf shelf;
    std::atomic<int> faults{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&shelf, &faults, t] {
            std::string folder = shelf.Temp + "/t" + std::to_string(t);
            std::string mix = shelf.Root + "/mix/t" + std::to_string(t) + ".m3u";
            fs::create_directories(fs::u8path(folder));
            for (int round = 0; round < 40; ++round) {
                std::string name = "c" + std::to_string(round) + ".mp3";
                faults += Extract(shelf.Party, u"a.mp3", folder + "/" + name) != 0;
                WriteFile(mix, "");
                faults += Pack(mix, folder, {std::u16string(name.begin(), name.end())}) != 0;
                faults += ReadFile(mix) != AsWritten("", Host("..\\music\\a.mp3\r\n"));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(faults, 0);
}

// The last copies are remembered, as many as the bound; the oldest give way.
TEST(TempCopies, BoundGivesWayToTheOldest) {
    Shelf shelf;
    ResetTempCopies(3);
    const char16_t* entries[] = {u"a.mp3", u"caf\u00e9.mp3", u"sub\\b.mp3", u"inner.m3u"};
    std::vector<std::u16string> copies;
    for (const char16_t* entry : entries) {
        copies.push_back(u"c" + std::u16string(1, char16_t(u'0' + copies.size())));
        std::string copy = fs::path(copies.back()).u8string();
        ASSERT_EQ(Extract(shelf.Party, entry, shelf.Temp + "/" + copy), 0);
    }
    ASSERT_EQ(Pack(shelf.Mix, shelf.Temp, copies), 0);
    EXPECT_EQ(
        ReadFile(shelf.Mix),
        AsWritten("own.mp3\r\n",
                  "own.mp3\r\n" + Host(FromMix(shelf, shelf.Temp) +
                                       "\\c0\r\n..\\music\\caf\xc3\xa9.mp3\r\n..\\music\\sub\\b."
                                       "mp3\r\n..\\music\\inner.m3u\r\n")));
}

} // namespace
