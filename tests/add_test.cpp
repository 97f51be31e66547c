// Adding entries: the lines appended byte for byte, duplicates, and a playlist left alone on
// failure.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "playlist/nametable.h"
#include "plugin/exports.h"
#include "tests/support.h"

namespace {

namespace fs = std::filesystem;

// Every '%' replaced by the test folder and a backslash.
template <typename S> S Expand(S text, const S& folder) {
    for (size_t at = text.find('%'); at != S::npos; at = text.find('%', at + folder.size())) {
        text.replace(at, 1, folder);
    }
    return text;
}

// A playlist in D; beside it the folder D\sub, next to D the folder "other".
class AddTable : public testing::Test {
  protected:
    void SetUp() override {
        dir = TestFolder();
        fs::create_directories(fs::u8path(dir + "/D/sub"));
        fs::create_directory(fs::u8path(dir + "/other"));
        list = dir + "/D/list.m3u";
        wideDir = WidePath(dir) + HostSeparator();
        narrowDir = NarrowPath(dir) + Host("\\");
    }
    int Add(const char16_t* src, const std::vector<std::u16string>& names, int flags = 0) {
        std::u16string path = WidePath(list),
                       source = src ? Expand<std::u16string>(src, wideDir) : u"";
        std::vector<std::u16string> expanded;
        for (const auto& n : names) {
            expanded.push_back(Expand(n, wideDir));
        }
        std::u16string added = WideList(expanded), sub = u"Sub\\Dir";
        return PackFilesW(path.data(), flags ? sub.data() : nullptr, src ? source.data() : nullptr,
                          added.data(), flags);
    }
    std::string dir, list, narrowDir;
    std::u16string wideDir;
};

// Which conventions a row holds under; its backslashes are the host's separator.
enum Rules { Both, WindowsOnly, PosixOnly };

struct Row {
    std::optional<std::string> before; // none: no playlist yet
    const char16_t* src;
    std::vector<std::u16string> names;
    std::string after;
    Rules rules = Both;
    bool legacy = false; // names text that is not UTF-8 as Windows-1252 gives it
};

TEST_F(AddTable, AppendsByteForByte) {
    const std::string bom = "\xEF\xBB\xBF", L = "\xFF\xFE", B = "\xFE\xFF";
    auto le = Utf16Le;
    auto be = Utf16Be;
    const std::vector<Row> rows = {
        {{}, u"%D\\", {u"a.mp3", u"sub\\b.mp3"}, "a.mp3\r\nsub\\b.mp3\r\n"},
        {{}, u"%other\\", {u"x.mp3"}, "..\\other\\x.mp3\r\n"},
        // The host names a folder along with the files in it; only Windows keeps its line.
        {{}, u"%", {u"D\\a.mp3", u"D\\sub"}, "a.mp3\r\nsub\r\n", WindowsOnly},
        {{}, u"%", {u"D/sub", u"D/sub/b.mp3", u"D/a.mp3"}, "sub/b.mp3\r\na.mp3\r\n", PosixOnly},
        {{}, nullptr, {u"%D\\a.mp3"}, "a.mp3\r\n"},
        {{}, u"", {u"%other\\x.mp3"}, "..\\other\\x.mp3\r\n"},
        {{}, u"%D\\", {u"a.mp3", u"a.mp3"}, "a.mp3\r\na.mp3\r\n"},
        {{}, u"%D\\", {}, ""},
        {{}, u"%D\\", {u"\U0001F3B5.mp3"}, "\xF0\x9F\x8E\xB5.mp3\r\n"},
        // Another root: the source's full path as given.
        {{}, nullptr, {u"Q:\\music\\x.mp3"}, "Q:\\music\\x.mp3\r\n", WindowsOnly},
        {{}, u"Q:\\music\\", {u"x.mp3"}, "Q:\\music\\x.mp3\r\n", WindowsOnly},
        // A line listed under the new line's name is a duplicate, whatever its separators and
        // steps; names compare exactly.
        {"a.mp3\r\n", u"%D\\", {u"a.mp3"}, "a.mp3\r\n"},
        {"a.mp3\n", u"%D\\", {u"a.mp3"}, "a.mp3\n"},
        {bom + "a.mp3\r\n", u"%D\\", {u"a.mp3"}, bom + "a.mp3\r\n"},
        {"a.mp3\r\n", u"%D\\", {u"A.mp3"}, "a.mp3\r\nA.mp3\r\n"},
        {"sub/b.mp3\r\n", u"%D\\", {u"sub\\b.mp3"}, "sub/b.mp3\r\n"},
        {"..\\other\\x.mp3\r\n", u"%other\\", {u"x.mp3"}, "..\\other\\x.mp3\r\n"},
        {"sub\\..\\../other//x.mp3\r\n", u"%", {u"other\\x.mp3"}, "sub\\..\\../other//x.mp3\r\n"},
        // A file listed by its full path is a duplicate of its relative form too.
        {"%D\\a.mp3\r\n", u"%D\\", {u"a.mp3"}, "%D\\a.mp3\r\n", WindowsOnly},
        {"sub\\b.mp3\r\n./a.mp3\r\n",
         u"%D/",
         {u"sub/b.mp3", u"a.mp3"},
         "sub\\b.mp3\r\n./a.mp3\r\n",
         PosixOnly},
        {"x/../a.mp3\r\n",
         u"%",
         {u"D/a.mp3", u"other/x.mp3"},
         "x/../a.mp3\r\n../other/x.mp3\r\n",
         PosixOnly},
        {"#a.mp3\r\n", u"%D\\", {u"a.mp3"}, "#a.mp3\r\na.mp3\r\n"},
        {"#" + std::string(4094, 'x') + "a.mp3\r\n",
         u"%D\\",
         {u"a.mp3"},
         "#" + std::string(4094, 'x') + "a.mp3\r\na.mp3\r\n"},
        // Old line ends stay; a last line without one is ended first.
        {"x.mp3\n#y\n", u"%D\\", {}, "x.mp3\n#y\n"},
        {"x.mp3", u"%D\\", {}, "x.mp3"},
        {"x.mp3\ny.mp3\n", u"%D\\", {u"a.mp3"}, "x.mp3\ny.mp3\na.mp3\r\n"},
        {"x.mp3", u"%D\\", {u"a.mp3"}, "x.mp3\r\na.mp3\r\n"},
        {"", u"%D\\", {u"a.mp3"}, "a.mp3\r\n"},
        {bom, u"%D\\", {u"a.mp3"}, bom + "a.mp3\r\n"},
        {bom + "x", u"%D\\", {u"a.mp3"}, bom + "x\r\na.mp3\r\n"},
        // An entry that lists under the new line's name is a duplicate, whatever its bytes.
        {"caf\xE9.mp3\r\n", u"%D\\", {u"caf\u00E9.mp3"}, "caf\xE9.mp3\r\n", Both, true},
        {"caf\xE9.mp3\r\n", u"%D\\", {u"caf\u0106.mp3"}, "caf\xE9.mp3\r\ncaf\xC4\x86.mp3\r\n"},
        {"FILE://localhost/Q:/music/x.mp3\r\n",
         nullptr,
         {u"Q:\\music\\x.mp3"},
         "FILE://localhost/Q:/music/x.mp3\r\n"},
        {"x.mp3\r", u"%D\\", {u"a.mp3"}, "x.mp3\ra.mp3\r\n"},
        {"a.mp3\rb.mp3", u"%D\\", {u"b.mp3", u"c.mp3"}, "a.mp3\rb.mp3\r\nc.mp3\r\n"},
        {std::string(4095, 'x') + "a.mp3\n",
         u"%D\\",
         {u"a.mp3"},
         std::string(4095, 'x') + "a.mp3\na.mp3\r\n"},
        // UTF-16 playlists get UTF-16 lines in their byte order.
        {L + le(u"x.mp3\r\n"),
         u"%D\\",
         {u"a.mp3", u"\u00E9\U0001F3B5.mp3"},
         L + le(u"x.mp3\r\na.mp3\r\n\u00E9\U0001F3B5.mp3\r\n")},
        {L + le(u"a.mp3\r\n"), u"%D\\", {u"a.mp3"}, L + le(u"a.mp3\r\n")},
        {B + be(u"x.mp3\ra.mp3"),
         u"%D\\",
         {u"a.mp3", u"b.mp3"},
         B + be(u"x.mp3\ra.mp3\r\nb.mp3\r\n")},
        {L, u"%D\\", {u"a.mp3"}, L + le(u"a.mp3\r\n")},
        {B, u"%D\\", {}, B},
        // Half a unit at the end is completed, so that the new units stay in step; it stays
        // as it is when nothing is added.
        {L + le(u"a.mp3\r\n") + "y", u"%D\\", {u"a.mp3"}, L + le(u"a.mp3\r\n") + "y"},
        {L + le(u"x") + "y",
         u"%D\\",
         {u"a.mp3"},
         L + le(u"x") + "y" + std::string(1, '\0') + le(u"\r\na.mp3\r\n")},
        // A new line never reads as a directive: the current folder goes first, and packing
        // the file again adds nothing.
        {{}, u"%D\\", {u"#1 hit.mp3", u"sub\\#2.mp3"}, ".\\#1 hit.mp3\r\nsub\\#2.mp3\r\n"},
        {"#1 hit.mp3\r\n", u"%D\\", {u"#1 hit.mp3"}, "#1 hit.mp3\r\n.\\#1 hit.mp3\r\n"},
        {".\\#1 hit.mp3\r\n", u"%D\\", {u"#1 hit.mp3"}, ".\\#1 hit.mp3\r\n", WindowsOnly},
        {"./#1 hit.mp3\r\n", u"%D/", {u"#1 hit.mp3"}, "./#1 hit.mp3\r\n", PosixOnly},
        {{}, u"%D\\", {u" \t#EXTINF:1,x"}, ".\\ \t#EXTINF:1,x\r\n"},
        // Names given twice, also in different batches; duplicates only against the playlist.
        {"b.mp3\r\n",
         u"%D\\",
         {u"a.mp3", u"b.mp3", u"c.mp3", u"a.mp3", u"b.mp3", u"c.mp3"},
         "b.mp3\r\na.mp3\r\nc.mp3\r\na.mp3\r\nc.mp3\r\n"},
    };
    bool legacy = Legacy1252();
    for (const TableMode& mode : TableModes) {
        InTableMode in(mode);
        for (size_t i = 0; i < rows.size(); ++i) {
            const Row& row = rows[i];
            if (row.rules == (HostPaths.DriveRoots ? PosixOnly : WindowsOnly)) {
                continue;
            }
            SCOPED_TRACE(std::string(mode.Name) + ", row " + std::to_string(i));
            if (row.legacy && !legacy) {
                continue;
            }
            fs::remove(fs::u8path(list));
            // Lines already in a playlist stay as they are; what the plug-in writes is the host's.
            if (row.before) {
                WriteFile(list, Expand(*row.before, narrowDir));
            }
            std::vector<std::u16string> names;
            for (const auto& n : row.names) {
                names.push_back(Host(n));
            }
            std::u16string src = row.src ? Host(row.src) : u"";
            EXPECT_EQ(Add(row.src ? src.c_str() : nullptr, names), E_SUCCESS);
            std::string after = row.after, before = row.before.value_or("");
            if (!row.before && !after.empty()) {
                after = "#EXTM3U\r\n" + after; // a new playlist is an extended one
            }
            if (row.rules == Both) {
                after = before + Host(after.substr(before.size()));
            }
            before = Expand(before, narrowDir);
            EXPECT_EQ(ReadFile(list), AsWritten(before, Expand(after, narrowDir), before.size()));
            EXPECT_EQ(FolderListing(dir + "/D"), "list.m3u|sub");
        }
    }
}

#ifdef _WIN32
// New lines of an 8-bit playlist that Windows players read in the ANSI code page (Windows-1252
// here) are written in it when every character has its own byte there; any other new line is
// UTF-8, as is every new line of a UTF-8 or ASCII playlist.
TEST_F(AddTable, NewLinesInTheCodePageOfAnAnsiPlaylist) {
    if (!Legacy1252()) {
        GTEST_SKIP() << "needs the ANSI code page 1252";
    }
    const std::string ansi = "caf\xE9.mp3\r\n", bom = "\xEF\xBB\xBF";
    const struct {
        std::string before; // empty: no playlist yet
        std::u16string name;
        std::string added;
        const char* file = "list.m3u";
    } rows[] = {
        {ansi, u"d\u00E9j\u00E0 \u20AC.mp3", "d\xE9j\xE0 \x80.mp3"},
        {"#EXTINF:1,Caf\xE9\r\na.mp3\r\n", u"\u00E9.mp3", "\xE9.mp3"},
        {ansi, u"\u00E9\u041A.mp3", "\xC3\xA9\xD0\x9A.mp3"},
        // No best fit: U+0100 would become 'A'.
        {ansi, u"\u0100.mp3", "\xC4\x80.mp3"},
        // Bytes of the code page that read as UTF-8 would list as other characters.
        {ansi, u"\u00C3\u00A9.mp3", "\xC3\x83\xC2\xA9.mp3"},
        {ansi + "\xC3\xA9.mp3\r\n", u"\u00E9x.mp3", "\xC3\xA9x.mp3"},
        {"a.mp3\r\n", u"\u00E9.mp3", "\xC3\xA9.mp3"},
        {"", u"\u00E9.mp3", "\xC3\xA9.mp3"},
        {bom + ansi, u"\u00E9.mp3", "\xC3\xA9.mp3"},
        {ansi, u"\u00E9.mp3", "\xC3\xA9.mp3", "list.M3U8"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.before + " + " + std::string(row.added));
        list = dir + "/D/" + row.file;
        fs::remove(fs::u8path(list));
        if (!row.before.empty()) {
            WriteFile(list, row.before);
        }
        // A new playlist begins with #EXTM3U.
        const std::string expected =
            (row.before.empty() ? "#EXTM3U\r\n" : row.before) + row.added + "\r\n";
        EXPECT_EQ(Add(u"%D\\", {row.name}), E_SUCCESS);
        EXPECT_EQ(ReadFile(list), expected);
        // It lists under its name, and packing it again adds nothing.
        EXPECT_EQ(Add(u"%D\\", {row.name}), E_SUCCESS);
        EXPECT_EQ(ReadFile(list), expected);
        fs::remove(fs::u8path(list));
    }
}
#endif

TEST_F(AddTable, SubPathAndFlagsChangeNothing) {
    WriteFile(dir + "/D/a.mp3", "a");
    EXPECT_EQ(Add(u"%D\\", {u"a.mp3"}, 7), E_SUCCESS); // moving, paths, encryption: all ignored
    EXPECT_EQ(ReadFile(list), AsWritten("", "#EXTM3U\r\na.mp3\r\n"));
    EXPECT_EQ(ReadFile(dir + "/D/a.mp3"), "a");
}

TEST_F(AddTable, MissingFolderIsNotCreated) {
    list = dir + "/none/list.m3u";
    EXPECT_EQ(Add(u"%D\\", {u"a.mp3"}), E_NOT_SUPPORTED);
    EXPECT_EQ(FolderListing(dir), "D|other");
}

// Refused at the copy back: the playlist as it was and no temporary file left.
TEST_F(AddTable, ReadOnlyPlaylistStaysAsItWas) {
    if (!ReadOnlyHolds(dir)) {
        GTEST_SKIP() << "read-only files stay writable for this user";
    }
    WriteFile(list, "x.mp3\r\n");
    MakeReadOnly(list, true);
    EXPECT_EQ(Add(u"%D\\", {u"a.mp3"}), E_ECREATE);
    MakeReadOnly(list, false);
    EXPECT_EQ(ReadFile(list), "x.mp3\r\n");
    EXPECT_EQ(FolderListing(dir + "/D"), "list.m3u|sub");
}

#ifdef _WIN32
TEST_F(AddTable, LockedPlaylistStaysAsItWas) {
    WriteFile(list, "x.mp3\r\n");
    // A playlist that cannot be read is never replaced by a new one.
    const struct {
        unsigned long share;
        int result;
    } locks[] = {{1, E_ECREATE}, {0, E_EOPEN}}; // FILE_SHARE_READ; nothing shared
    for (const auto& lock : locks) {
        void* held = HoldOpen(list, lock.share);
        EXPECT_EQ(Add(u"%D\\", {u"a.mp3"}), lock.result) << lock.share;
        Release(held);
        EXPECT_EQ(ReadFile(list), "x.mp3\r\n");
        EXPECT_EQ(FolderListing(dir + "/D"), "list.m3u|sub");
    }
}
#endif

TEST_F(AddTable, NarrowListsOfAnyLengthButWholeNames) {
    std::vector<std::string> many;
    std::string manyLines;
    for (int i = 0; i < 300; ++i) {
        many.push_back("n" + std::to_string(1000 + i).substr(1) + ".mp3");
        manyLines += many.back() + "\r\n";
    }
    const struct {
        std::vector<std::string> names;
        int result;
        std::string after;
    } rows[] = {
        {{"c.mp3", "a.mp3", "b.mp3"}, 0, "x.mp3\r\nc.mp3\r\na.mp3\r\nb.mp3\r\n"},
        {many, 0, "x.mp3\r\n" + manyLines},
        {{"a.mp3", std::string(1100, 'n')}, E_NOT_SUPPORTED, "x.mp3\r\n"},
    };
    std::string path = NarrowPath(list), src = narrowDir + "D\\";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.names.size());
        WriteFile(list, "x.mp3\r\n");
        std::string names = NarrowList(row.names);
        EXPECT_EQ(PackFiles(path.data(), nullptr, src.data(), names.data(), 0), row.result);
        EXPECT_EQ(ReadFile(list), row.after);
        EXPECT_EQ(FolderListing(dir + "/D"), "list.m3u|sub");
    }
}

// Lists of one name less than a full table, a full table and one name more, and a name given
// again at the end, wide and narrow: a name the playlist holds stays out whichever batch takes
// it, and the name given twice goes in twice.
TEST_F(AddTable, ListsAtTheBatchBoundary) {
    std::string before;
    std::set<std::string> held;
    for (int i = 0; i < 100; ++i) {
        held.insert("n" + std::to_string(i * 97) + ".mp3");
        before += "n" + std::to_string(i * 97) + ".mp3\r\n";
    }
    std::string path = NarrowPath(list), src = narrowDir + "D\\";
    for (int count : {int{TableKeys} - 1, int{TableKeys}, int{TableKeys} + 1}) {
        std::vector<std::string> names;
        std::string after = before;
        for (int i = 0; i <= count; ++i) {
            names.push_back("n" + std::to_string(i < count ? i : 1) + ".mp3");
            if (!held.count(names.back())) {
                after += names.back() + "\r\n";
            }
        }
        std::vector<std::u16string> wideNames;
        for (const auto& name : names) {
            wideNames.push_back(std::u16string(name.begin(), name.end())); // ASCII
        }
        std::string narrowList = NarrowList(names);
        for (bool wide : {true, false}) {
            SCOPED_TRACE(std::to_string(count) + (wide ? " wide" : " narrow"));
            WriteFile(list, before);
            EXPECT_EQ(wide ? Add(u"%D\\", wideNames)
                           : PackFiles(path.data(), nullptr, src.data(), narrowList.data(), 0),
                      E_SUCCESS);
            EXPECT_EQ(ReadFile(list), after);
            EXPECT_EQ(FolderListing(dir + "/D"), "list.m3u|sub");
        }
    }
}

#ifdef _WIN32
TEST(AddRoot, PlaylistInTheRootOfADrive) {
    const std::string root = "C:\\", name = "m3u-" + std::to_string(CurrentProcessId()) + ".m3u";
    if (!std::ofstream(fs::u8path(root + name))) {
        GTEST_SKIP() << "C:\\ is not writable";
    }
    std::string before = FolderListing(root);
    std::u16string path = WidePath(root + name), src = u"C:\\", names = WideList({u"a.mp3"});
    EXPECT_EQ(PackFilesW(path.data(), nullptr, src.data(), names.data(), 0), E_SUCCESS);
    EXPECT_EQ(ReadFile(root + name), "a.mp3\r\n");
    EXPECT_EQ(FolderListing(root), before);
    fs::remove(fs::u8path(root + name));
}
#endif

} // namespace
