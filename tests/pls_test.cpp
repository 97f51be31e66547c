// PLS playlists and the recognition of formats: lines, listing in number order, delete and pack
// byte for byte, and the PLS files of other programs (tests/pls-corpus); and the operations over
// a playlist of every format, through the exports.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "formats/format.h"
#include "formats/pls.h"
#include "platform/conventions.h"
#include "plugin/exports.h"
#include "tests/support.h"

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::u16string>;

Names List(const std::string& playlist, bool* opened = nullptr) {
    return ListedNames(playlist, opened);
}

int Delete(const std::string& playlist, const Names& names) {
    std::u16string path = WidePath(playlist), list = WideList(names);
    return DeleteFilesW(path.data(), list.data());
}

// Packs files of the playlist's own folder, so that each goes in under its bare name.
int Pack(const std::string& playlist, const std::vector<std::string>& files) {
    std::string folder = fs::u8path(playlist).parent_path().u8string();
    Names names;
    for (const auto& f : files) {
        WriteFile(folder + "/" + f, "x");
        names.push_back(WidePath(f));
    }
    std::u16string path = WidePath(playlist), src = WidePath(folder) + HostSeparator(),
                   list = WideList(names);
    return PackFilesW(path.data(), nullptr, src.data(), list.data(), 0);
}

const std::string Eol = HostPaths.LfUnlessCrLf ? "\n" : "\r\n";

TEST(PlsLines, Parsed) {
    struct Row {
        const char* line;
        PlsLineKind kind;
        PlsKeyKind key;
        uint32_t n;
        const char* value;
    } rows[] = {
        {"[playlist]", PlsHeader, PlsKeyOther, 0, ""},
        {"  [PlayList]\t", PlsHeader, PlsKeyOther, 0, ""},
        {"[playlist2]", PlsOtherSection, PlsKeyOther, 0, ""},
        {"[playlist", PlsPlain, PlsKeyOther, 0, ""},
        {"File1=a.mp3", PlsKey, PlsKeyFile, 1, "a.mp3"},
        {" fILe12 = \"b c.mp3\" ", PlsKey, PlsKeyFile, 12, "b c.mp3"},
        {"File007=x", PlsKey, PlsKeyFile, 7, "x"},
        {"File0=x", PlsKey, PlsKeyOther, 0, "x"},          // no entry's number
        {"File1234567890=x", PlsKey, PlsKeyOther, 0, "x"}, // beyond any entry's number
        {"Title3=Some = thing", PlsKey, PlsKeyNumbered, 3, "Some = thing"},
        {"genre21=Pop", PlsKey, PlsKeyNumbered, 21, "Pop"},
        {"NumberOfEntries=4", PlsKey, PlsKeyEntries, 0, "4"},
        {"numberofentries = \"4\"", PlsKey, PlsKeyEntries, 0, "4"},
        {"Version=2", PlsKey, PlsKeyOther, 0, "2"},
        {"1=x", PlsKey, PlsKeyOther, 0, "x"}, // a number alone is no numbered key
        {"File1=\"", PlsKey, PlsKeyFile, 1, "\""},
        {"# File1=a.mp3", PlsPlain, PlsKeyOther, 0, ""},
        {"; File1=a.mp3", PlsPlain, PlsKeyOther, 0, ""},
        {"=a.mp3", PlsPlain, PlsKeyOther, 0, ""},
        {"audio/x-scpls           pls", PlsPlain, PlsKeyOther, 0, ""},
        {"", PlsPlain, PlsKeyOther, 0, ""},
    };
    for (const Row& row : rows) {
        std::string text = row.line;
        auto bytes = reinterpret_cast<const unsigned char*>(text.data());
        PlsLine line = ParsePlsLine(bytes, text.size(), Text8Bit);
        EXPECT_EQ(line.Kind, row.kind) << row.line;
        EXPECT_EQ(line.Key, row.key) << row.line;
        EXPECT_EQ(line.N, row.n) << row.line;
        if (line.Kind == PlsKey) {
            EXPECT_EQ(text.substr(line.ValueStart, line.ValueEnd - line.ValueStart), row.value)
                << row.line;
        }
        // The same line in UTF-16 parses alike, in units.
        std::string wide = Utf16Be(std::u16string(text.begin(), text.end()));
        PlsLine be = ParsePlsLine(reinterpret_cast<const unsigned char*>(wide.data()), wide.size(),
                                  TextUtf16Be);
        EXPECT_EQ(be.Kind, line.Kind) << row.line;
        EXPECT_EQ(be.N, line.N) << row.line;
        EXPECT_EQ(be.ValueEnd, line.ValueEnd) << row.line;
    }
}

TEST(FormatsDetect, ByContentAndByName) {
    struct Row {
        std::string text;
        PlaylistFormat format;
    } rows[] = {
        {"[playlist]\nFile1=a.mp3\n", FormatPls},
        {"[PLAYLIST]\r\n", FormatPls},
        {"\xEF\xBB\xBF[playlist]\n", FormatPls},
        {"audio/x-scpls  pls\n\n# note\n[playlist]\nfile1=a\n", FormatPls}, // text before it
        {"\xFF\xFE" + Utf16Le(u"[playlist]\r\nFile1=a.mp3\r\n"), FormatPls},
        {"\xFE\xFF" + Utf16Be(u"[playlist]\r\n"), FormatPls},
        {"File1=a.mp3\n[playlist]\n", FormatM3u}, // a key line before the header
        {"#EXTM3U\na.mp3\n", FormatM3u},
        {"http://host/?a=b\n[playlist]\n", FormatM3u},
        {"[other]\nkey=value\n[playlist]\n", FormatM3u},
        {"", FormatM3u},
        {"\n", FormatM3u},
        {"<html><body/></html>", FormatUnknown}, // another XML document: never changed
    };
    for (const Row& row : rows) {
        auto bytes = reinterpret_cast<const unsigned char*>(row.text.data());
        EXPECT_EQ(FormatOfContent(bytes, row.text.size()), row.format) << row.text;
    }
    struct Named {
        const char16_t* name;
        PlaylistFormat format;
    } names[] = {
        {u"C:\\a\\list.pls", FormatPls}, {u"list.PLS", FormatPls}, {u"x.xspf", FormatXspf},
        {u"x.wpl", FormatWpl},           {u"x.ZPL", FormatWpl},    {u"x.asx", FormatAsx},
        {u"x.wax", FormatAsx},           {u"x.Wvx", FormatAsx},    {u"x.m3u", FormatM3u},
        {u"x.m3u8", FormatM3u},          {u"pls", FormatM3u},      {u"x.pls.m3u", FormatM3u},
        {u"dir.pls\\list", FormatM3u},   {u"x.plsx", FormatM3u},   {u"x.", FormatM3u},
    };
    for (const Named& row : names) {
        EXPECT_EQ(FormatOfName(row.name), row.format);
    }
}

TEST(PlsListing, EntriesInNumberOrder) {
    const std::u16string cafe = u"caf\u00E9.mp3";
    struct Row {
        std::string text;
        Names names; // Windows names, shown as the host shows them
        bool legacy = false;
    } rows[] = {
        {"[playlist]\nFile2=b.mp3\nFile1=a.mp3\n", {u"a.mp3", u"b.mp3"}},
        {"[Playlist]\r\nfile1=a.mp3\r\nFILE3=c.mp3\r\n", {u"a.mp3", u"c.mp3"}}, // a gap
        {"[playlist]\nFile1=a.mp3\nFile1=b.mp3\nFile2=c.mp3\n", {u"a.mp3", u"c.mp3"}},
        {"x\n[playlist]\nFile1=a.mp3\n[other]\nFile2=b.mp3\n", {u"a.mp3"}},
        {"[playlist]\n# File1=x.mp3\n; File2=y.mp3\n  File3 =  \"c d.mp3\"  \n", {u"c d.mp3"}},
        {"[playlist]\nFile1=\nFile2=   \nFile3=b.mp3", {u"b.mp3"}},
        {"[playlist]\nFile1=#1 hit.mp3\n", {u"#1 hit.mp3"}}, // no directive here
        {"[playlist]\nFile1=Rock/a.mp3\nFile2=..\\b.mp3\n", {u"Rock\\a.mp3", u"(..)\\b.mp3"}},
        {"[playlist]\nFile1=caf\xC3\xA9.mp3\n", {cafe}},
        {"[playlist]\nFile1=caf\xE9.mp3\n", {cafe}, true},
        {"\xEF\xBB\xBF[playlist]\nFile1=a.mp3\n", {u"a.mp3"}},
        {"\xFF\xFE" + Utf16Le(u"[playlist]\r\nFile2=b.mp3\r\nFile1=" + cafe + u"\r\n"),
         {cafe, u"b.mp3"}},
        {"\xFE\xFF" + Utf16Be(u"[playlist]\nFile1=a.mp3"), {u"a.mp3"}},
        {"[playlist]\nNumberOfEntries=5\nTitle1=only a title\n", {}},
    };
    std::string dir = TestFolder(), list = dir + "/list.pls";
    for (const Row& row : rows) {
        if (row.legacy && !Legacy1252()) {
            continue;
        }
        WriteFile(list, row.text);
        EXPECT_EQ(List(list), Shown(row.names)) << row.text;
    }
}

TEST(PlsListing, EveryLocationListsAsItsM3uLine) {
    // The name rule is one: a value lists under the name a path line of it lists under.
    std::string m3u, pls = "[playlist]\n";
    int n = 0;
    for (const LineName& row : WindowsNameTable) {
        const std::string& line = row.Line;
        bool trimmed = !line.empty() && line.find_first_of(" \t") != 0 &&
                       line.find_last_of(" \t") != line.size() - 1;
        if (trimmed && line[0] != '#' && line[0] != '"' &&
            line.find_first_of("\r\n") == std::string::npos) {
            m3u += line + "\n";
            pls += "File" + std::to_string(++n) + "=" + line + "\n";
        }
    }
    std::string dir = TestFolder();
    WriteFile(dir + "/list.m3u", m3u);
    WriteFile(dir + "/list.pls", pls);
    Names lines = List(dir + "/list.m3u");
    EXPECT_GT(lines.size(), 20u);
    EXPECT_EQ(List(dir + "/list.pls"), lines);
}

TEST(PlsListing, ManyEntriesBackwardsComeOutInOrder) {
    // More entries than a window orders at once, written last number first.
    std::string text = "[playlist]\n";
    const int count = 2 * PlsWindow + 77;
    for (int n = count; n >= 1; --n) {
        text += "File" + std::to_string(n) + "=e" + std::to_string(n) + ".mp3\n";
    }
    std::string dir = TestFolder(), list = dir + "/list.pls";
    WriteFile(list, text);
    Names names = List(list);
    ASSERT_EQ(names.size(), size_t(count));
    for (int n = 1; n <= count; n += 611) {
        std::string want = "e" + std::to_string(n) + ".mp3";
        EXPECT_EQ(names[n - 1], std::u16string(want.begin(), want.end()));
    }
}

struct Rewritten {
    std::string before;
    Names names; // deleted, Windows names
    std::string after;
};

TEST(PlsDelete, ByteForByte) {
    const std::string longTitle(5000, 't');
    Rewritten rows[] = {
        // An entry's own keys go, the rest are numbered again, NumberOfEntries follows.
        {"[playlist]\r\nNumberOfEntries=3\r\nFile1=a.mp3\r\nTitle1=A\r\nLength1=1\r\n"
         "File2=b.mp3\r\nTitle2=B\r\nLength2=2\r\nFile3=c.mp3\r\nLength3=-1\r\nVersion=2\r\n",
         {u"b.mp3"},
         "[playlist]\r\nNumberOfEntries=2\r\nFile1=a.mp3\r\nTitle1=A\r\nLength1=1\r\n"
         "File2=c.mp3\r\nLength2=-1\r\nVersion=2\r\n"},
        // Keys in any case and order keep them; the numbers follow the entries' order.
        {"[playlist]\nnumberofentries=3\nfile3=c.mp3\nfile1=a.mp3\ntitle2=B\nfile2=b.mp3\n",
         {u"a.mp3"},
         "[playlist]\nnumberofentries=2\nfile2=c.mp3\ntitle1=B\nfile1=b.mp3\n"},
        // Gaps close; a key of any name with an entry's number goes with it.
        {"[playlist]\nFile1=a.mp3\ngenre1=Pop\nFile5=e.mp3\nTitle5=E\nFile9=i.mp3\n",
         {u"a.mp3"},
         "[playlist]\nFile1=e.mp3\nTitle1=E\nFile2=i.mp3\n"},
        // Of two File1 lines the first is the entry; both carry its number.
        {"[playlist]\nFile1=a.mp3\nFile1=x.mp3\nFile2=b.mp3\n",
         {u"a.mp3"},
         "[playlist]\nFile1=b.mp3\n"},
        {"[playlist]\nFile1=a.mp3\nFile1=x.mp3\nFile2=b.mp3\n",
         {u"x.mp3"},
         "[playlist]\nFile1=a.mp3\nFile1=x.mp3\nFile2=b.mp3\n"}, // x lists not: nothing goes
        // A key of no entry that an entry would take over goes; others stay.
        {"[playlist]\nTitle1=T\nFile2=b.mp3\nFile3=c.mp3\nTitle9=U\n",
         {u"c.mp3"},
         "[playlist]\nFile1=b.mp3\nTitle9=U\n"},
        // Text before the header, comments, other sections and a last line without end stay.
        {"audio/x-scpls pls\n[playlist]\n# c\n\nFile1=a.mp3\nFile2=b.mp3\n[other]\nFile1=q",
         {u"a.mp3"},
         "audio/x-scpls pls\n[playlist]\n# c\n\nFile1=b.mp3\n[other]\nFile1=q"},
        {"[playlist]\nNumberOfEntries=2\nFile1=a.mp3\nFile2=b.mp3\nVersion=2",
         {u"a.mp3", u"b.mp3"},
         "[playlist]\nNumberOfEntries=0\nVersion=2"},
        {"[playlist]\nFile1=a.mp3\nFile2=b.mp3", {u"b.mp3"}, "[playlist]\nFile1=a.mp3\n"},
        {"[playlist]\nFile1=a.mp3\n", {u"zzz.mp3"}, "[playlist]\nFile1=a.mp3\n"},
        // A folder of the listing takes every entry below it.
        {"[playlist]\nFile1=Rock\\a.mp3\nFile2=b.mp3\nFile3=Rock/c.mp3\n",
         {u"Rock\\*.*"},
         "[playlist]\nFile1=b.mp3\n"},
        // Lines longer than a read pass through whole, or go whole.
        {"[playlist]\nTitle1=" + longTitle + "\nFile1=a.mp3\nFile2=b.mp3\nTitle2=" + longTitle +
             "\r\nFile3=c.mp3\n",
         {u"b.mp3"},
         "[playlist]\nTitle1=" + longTitle + "\nFile1=a.mp3\nFile2=c.mp3\n"},
        {"\xFF\xFE" + Utf16Le(u"[playlist]\r\nFile1=a.mp3\r\nFile2=b.mp3\r\nNumberOfEntries=2\r\n"),
         {u"a.mp3"},
         "\xFF\xFE" + Utf16Le(u"[playlist]\r\nFile1=b.mp3\r\nNumberOfEntries=1\r\n")},
    };
    std::string dir = TestFolder(), list = dir + "/list.pls";
    for (const Rewritten& row : rows) {
        WriteFile(list, row.before);
        Names names;
        for (const auto& n : row.names) {
            names.push_back(n.size() > 4 && n.substr(n.size() - 4) == u"\\*.*" ? Host(n)
                                                                               : Shown(n));
        }
        EXPECT_EQ(Delete(list, names), E_SUCCESS) << row.before;
        EXPECT_EQ(ReadFile(list), row.after) << row.before;
    }
}

TEST(PlsPack, ByteForByte) {
    struct Row {
        std::optional<std::string> before; // none: no playlist yet
        std::string after;
    } rows[] = {
        {"[playlist]\nFile1=a.mp3\nNumberOfEntries=1\nVersion=2",
         "[playlist]\nFile1=a.mp3\nFile2=new.mp3\nNumberOfEntries=2\nVersion=2"},
        {"[playlist]\r\nnumberofentries=1\r\nfile1=a.mp3\r\ntitle1=A\r\n\r\n# end\r\n",
         "[playlist]\r\nnumberofentries=2\r\nfile1=a.mp3\r\ntitle1=A\r\nfile2=new.mp3\r\n\r\n"
         "# end\r\n"},
        {"[playlist]\nFile1=new.mp3\n", "[playlist]\nFile1=new.mp3\n"}, // listed already
        {"[playlist]\nFile2=a.mp3\nFile5=b.mp3\n",
         "[playlist]\nFile1=a.mp3\nFile2=b.mp3\nFile3=new.mp3\n"},
        {"[playlist]\nFile1=a.mp3", "[playlist]\nFile1=a.mp3\nFile2=new.mp3\n"},
        {"[playlist]\r\nNumberOfEntries=0\r\n",
         "[playlist]\r\nFile1=new.mp3\r\nNumberOfEntries=1\r\n"},
        {"\xFE\xFF" + Utf16Be(u"[playlist]\nFile1=a.mp3\n"),
         "\xFE\xFF" + Utf16Be(u"[playlist]\nFile1=a.mp3\nFile2=new.mp3\n")},
        {std::nullopt, "[playlist]" + Eol + "File1=new.mp3" + Eol + "NumberOfEntries=1" + Eol +
                           "Version=2" + Eol},
        {"\n", "[playlist]" + Eol + "File1=new.mp3" + Eol + "NumberOfEntries=1" + Eol +
                   "Version=2" + Eol}, // whitespace alone: new, by its name
    };
    for (const Row& row : rows) {
        std::string dir = TestFolder(), list = dir + "/list.pls";
        if (row.before) {
            WriteFile(list, *row.before);
        }
        EXPECT_EQ(Pack(list, {"new.mp3"}), E_SUCCESS) << row.after;
        EXPECT_EQ(ReadFile(list), row.after);
        EXPECT_EQ(List(list).back(), u"new.mp3");
    }
}

TEST(PlsRewrite, WhatCannotBeRewrittenStaysAsItWas) {
    std::string dir = TestFolder();
    // More entries than a rewrite orders, out of order: listed all the same, never renumbered by
    // guesswork.
    std::string many = "[playlist]\n";
    for (int n = PlsEntryLimit + 1; n >= 1; --n) {
        many += "File" + std::to_string(n) + "=e" + std::to_string(n) + ".mp3\n";
    }
    struct Row {
        const char* name;
        std::string text;
        bool opens;
    } rows[] = {
        {"many.pls", many, true},
        {"page.xspf", "<?xml version=\"1.0\"?><html><body>a.mp3</body></html>", false},
    };
    for (const Row& row : rows) {
        std::string list = dir + "/" + row.name;
        WriteFile(list, row.text);
        bool opened = false;
        Names names = List(list, &opened);
        EXPECT_EQ(opened, row.opens) << row.name;
        EXPECT_EQ(Delete(list, {u"e1.mp3"}), E_NOT_SUPPORTED) << row.name;
        EXPECT_EQ(Pack(list, {"new.mp3"}), E_NOT_SUPPORTED) << row.name;
        EXPECT_EQ(ReadFile(list), row.text) << row.name;
        EXPECT_EQ(FolderListing(dir).find("|s"), std::string::npos) << FolderListing(dir);
    }
}

void ExpectNumbered(const std::string& text, size_t count, bool hasEntries, const char* file);

TEST(PlsRewrite, LongPlaylistsInTheirOrder) {
    // Entries numbered 1..N where they stand need no ordering: more than PlsEntryLimit of them
    // are rewritten, and any number of them deleted at once.
    const int count = PlsEntryLimit + 50;
    std::string text = "[playlist]\nNumberOfEntries=" + std::to_string(count) + "\n";
    Names all;
    for (int n = 1; n <= count; ++n) {
        text += "File" + std::to_string(n) + "=e" + std::to_string(n) + ".mp3\nTitle" +
                std::to_string(n) + "=T\n";
        std::string name = "e" + std::to_string(n) + ".mp3";
        all.push_back(std::u16string(name.begin(), name.end()));
    }
    text += "File3=duplicate.mp3\n";
    std::string dir = TestFolder(), list = dir + "/list.pls";
    WriteFile(list, text);
    Names everything(all.begin() + 2, all.end());
    WriteFile(list + "2", text);
    std::string second = list + "2";
    EXPECT_EQ(Delete(second, everything), E_SUCCESS);
    // The line File3=duplicate.mp3 carries entry 3's number: it goes with it.
    EXPECT_EQ(ReadFile(second),
              "[playlist]\nNumberOfEntries=2\nFile1=e1.mp3\nTitle1=T\nFile2=e2.mp3\nTitle2=T\n");
    EXPECT_EQ(Delete(list, {all[1], all[count - 1], u"duplicate.mp3"}), E_SUCCESS);
    EXPECT_EQ(Pack(list, {"new.mp3"}), E_SUCCESS);
    Names want(all.begin(), all.end() - 1);
    want.erase(want.begin() + 1);
    want.push_back(u"new.mp3");
    EXPECT_EQ(List(list), want);
    ExpectNumbered(ReadFile(list), want.size(), true, "long");
    EXPECT_NE(ReadFile(list).find("\nFile2=e3.mp3\nTitle2=T\n"), std::string::npos);
    EXPECT_NE(ReadFile(list).find("\nFile2=duplicate.mp3\n"), std::string::npos);
}

// The numbers of the FileN keys in the `[playlist]` section, and NumberOfEntries' value (-1
// when there is none), read off the text as a player reads them.
struct Numbers {
    std::set<long> files;
    long entries = -1;
};
Numbers ReadNumbers(const std::string& text) {
    Numbers numbers;
    bool in = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find_first_of("\r\n", at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        std::string lower = line;
        std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
        if (!lower.empty() && lower[0] == '[') {
            in = lower == "[playlist]";
        } else if (in && lower.rfind("file", 0) == 0 && lower.find('=') != std::string::npos) {
            numbers.files.insert(std::stol(lower.substr(4)));
        } else if (in && lower.rfind("numberofentries=", 0) == 0) {
            numbers.entries = std::stol(lower.substr(16));
        }
    }
    return numbers;
}

// Numbers 1..count without a gap, and a NumberOfEntries that says so where there is one.
void ExpectNumbered(const std::string& text, size_t count, bool hasEntries, const char* file) {
    Numbers numbers = ReadNumbers(text);
    std::set<long> want;
    for (size_t n = 1; n <= count; ++n) {
        want.insert(long(n));
    }
    EXPECT_EQ(numbers.files, want) << file << "\n" << text;
    EXPECT_EQ(numbers.entries, hasEntries ? long(count) : -1L) << file;
}

TEST(PlsCorpus, ListsDeletesAndPacksAsItsSourcesImply) {
    // Entries per file, as SOURCES.tsv tells of them.
    const std::map<std::string, size_t> counts = {
        {"amarok-test.pls", 4},
        {"amarok-test2.pls", 5},
        {"clementine-pls_one.pls", 1},
        {"clementine-pls_somafm.pls", 4},
        {"clementine-secretagent.pls", 4},
        {"playlistsnet-Playlist.pls", 3},
        {"playlistsnet-Playlist2.pls", 4},
        {"totem-BassDrive.pls", 12},
        {"totem-emptyplaylist.pls", 0},
        {"totem-missing-items.pls", 19},
    };
    const std::set<std::string> absolute = {"playlistsnet-Playlist.pls"};
    size_t seen = 0;
    for (const auto& entry : fs::directory_iterator(fs::u8path(M3U_PLS_CORPUS_DIR))) {
        std::string file = entry.path().filename().u8string();
        if (file == "SOURCES.tsv") {
            continue;
        }
        ++seen;
        ASSERT_TRUE(counts.count(file)) << file;
        const std::string original = ReadFile(entry.path().u8string());
        bool hasEntries = ReadNumbers(original).entries >= 0;
        std::string dir = TestFolder(), list = dir + "/" + file;
        WriteFile(list, original);
        Names names = List(list);
        EXPECT_EQ(names.size(), counts.at(file)) << file;
        // An untouched playlist stays byte for byte (the empty one is M3U text until a pack).
        EXPECT_EQ(Delete(list, {u"not listed.mp3"}), E_SUCCESS) << file;
        EXPECT_TRUE(names.empty() || ReadFile(list) == original) << file;
        if (!names.empty()) {
            // The first entry goes: the rest are numbered 1..N, NumberOfEntries matching.
            EXPECT_EQ(Delete(list, {names[0]}), E_SUCCESS) << file;
            Names left = List(list);
            EXPECT_EQ(left, Names(names.begin() + 1, names.end())) << file;
            ExpectNumbered(ReadFile(list), left.size(), hasEntries, file.c_str());
        }
        // A pack shows the new entry last, numbered after the others.
        EXPECT_EQ(Pack(list, {"new one.mp3"}), E_SUCCESS) << file;
        Names packed = List(list);
        ASSERT_FALSE(packed.empty()) << file;
        // Where most entries are full paths, so is the new one.
        const std::u16string tail = u"new one.mp3";
        if (absolute.count(file)) {
            EXPECT_GT(packed.back().size(), tail.size() + 1) << file;
            EXPECT_EQ(packed.back().substr(packed.back().size() - tail.size()), tail) << file;
        } else {
            EXPECT_EQ(packed.back(), tail) << file;
        }
        ExpectNumbered(ReadFile(list), packed.size(), hasEntries || names.empty(), file.c_str());
        // Deleting every listed name leaves no entry, and no FileN line.
        EXPECT_EQ(Delete(list, packed), E_SUCCESS) << file;
        EXPECT_TRUE(List(list).empty()) << file;
        EXPECT_TRUE(ReadNumbers(ReadFile(list)).files.empty()) << file;
    }
    EXPECT_EQ(seen, counts.size());
}

TEST(FormatsRoundTrip, EveryFormatThroughTheExports) {
    // A new file of each format lists what was packed; a pack already listed changes nothing;
    // deleting one entry leaves the other, deleting every listed name leaves none; a delete of
    // nothing listed leaves every byte.
    for (const char* name : {"new.pls", "new.xspf", "new.wpl", "new.zpl", "new.asx", "new.wax",
                             "new.wvx", "new.m3u"}) {
        std::string dir = TestFolder(), list = dir + "/" + name;
        ASSERT_EQ(Pack(list, {"a b&c.mp3", "#1.mp3"}), E_SUCCESS) << name;
        Names both = {u"a b&c.mp3", u"#1.mp3"};
        EXPECT_EQ(List(list), both) << name;
        const std::string packed = ReadFile(list);
        EXPECT_EQ(Pack(list, {"#1.mp3"}), E_SUCCESS) << name;
        EXPECT_EQ(Delete(list, {u"not listed.mp3"}), E_SUCCESS) << name;
        EXPECT_EQ(ReadFile(list), packed) << name;
        EXPECT_EQ(Delete(list, {both[0]}), E_SUCCESS) << name;
        EXPECT_EQ(List(list), Names{both[1]}) << name;
        // Copying out and testing go by the entry's file, whatever the format.
        WriteFile(dir + "/#1.mp3", "the music");
        std::u16string arc = WidePath(list), out = WidePath(dir + "/out.mp3");
        tOpenArchiveDataW open = {&arc[0], 0, 0, nullptr, 0, 0, 0};
        void* handle = OpenArchiveW(&open);
        static tHeaderDataExW header;
        ASSERT_TRUE(handle && ReadHeaderExW(handle, &header) == 0) << name;
        EXPECT_EQ(header.UnpSize, 9u) << name;
        EXPECT_EQ(ProcessFileW(handle, PK_TEST, nullptr, nullptr), E_SUCCESS) << name;
        EXPECT_EQ(ProcessFileW(handle, PK_EXTRACT, nullptr, &out[0]), E_SUCCESS) << name;
        EXPECT_EQ(ReadHeaderExW(handle, &header), E_END_ARCHIVE) << name;
        CloseArchive(handle);
        EXPECT_EQ(ReadFile(dir + "/out.mp3"), "the music") << name;
        EXPECT_EQ(Pack(list, {"z.mp3"}), E_SUCCESS) << name;
        EXPECT_EQ(List(list), (Names{both[1], u"z.mp3"})) << name;
        EXPECT_EQ(Delete(list, List(list)), E_SUCCESS) << name;
        EXPECT_TRUE(List(list).empty()) << name;
    }
}

std::vector<int> Told;
int StopAt = 0;
int WCX_CALL Hear(char16_t*, int size) {
    Told.push_back(size);
    return size == StopAt ? 0 : 1;
}

TEST(FormatsRoundTrip, DeleteTellsHalfAndWholeAndStops) {
    // The entries to delete known, then the new version written; Cancel at either changes nothing.
    const std::string pls = "[playlist]\nFile1=a.mp3\nFile2=b.mp3\n",
                      xspf = "<playlist><trackList><track><location>a.mp3</location></track>"
                             "</trackList></playlist>";
    for (const auto& [name, text] :
         {std::pair<std::string, std::string>{"list.pls", pls}, {"list.xspf", xspf}}) {
        for (int stop : {0, -50, -100}) {
            std::string dir = TestFolder(), list = dir + "/" + name;
            WriteFile(list, text);
            Told.clear();
            StopAt = stop;
            SetProcessDataProcW(reinterpret_cast<void*>(intptr_t{-1}),
                                reinterpret_cast<void*>(Hear));
            int result = Delete(list, {u"a.mp3"});
            SetProcessDataProcW(reinterpret_cast<void*>(intptr_t{-1}), nullptr);
            EXPECT_EQ(result, stop ? E_EABORTED : E_SUCCESS) << name << stop;
            const std::vector<int> half = {-50}, both = {-50, -100};
            EXPECT_EQ(Told, stop == -50 ? half : both) << name << stop;
            EXPECT_EQ(ReadFile(list) == text, stop != 0) << name << stop;
            EXPECT_EQ(FolderListing(dir), name) << name << stop;
        }
    }
}

TEST(FormatsRoundTrip, PlaylistsOfOtherProgramsLoseEveryListedEntry) {
    // The XML files of other programs (tests/formats-corpus): those read whole lose every entry
    // they list, those not read whole are never written.
    size_t whole = 0, refused = 0;
    for (const auto& entry : fs::recursive_directory_iterator(fs::u8path(M3U_XML_CORPUS_DIR))) {
        std::string file = entry.path().filename().u8string();
        if (!entry.is_regular_file() || file == "SOURCES.tsv") {
            continue;
        }
        const std::string original = ReadFile(entry.path().u8string());
        std::string dir = TestFolder(), list = dir + "/" + file;
        WriteFile(list, original);
        bool opened = false;
        Names names = List(list, &opened);
        int deleted = Delete(list, names);
        if (deleted == E_SUCCESS) {
            ++whole;
            EXPECT_TRUE(List(list).empty()) << file;
        } else {
            ++refused;
            EXPECT_EQ(deleted, E_NOT_SUPPORTED) << file;
            EXPECT_EQ(ReadFile(list), original) << file;
            EXPECT_EQ(Pack(list, {"new.mp3"}), E_NOT_SUPPORTED) << file;
            EXPECT_EQ(ReadFile(list), original) << file;
        }
    }
    EXPECT_GT(whole, 30u);
    EXPECT_GE(refused, 2u); // the binary file named .asx, the XML document of another root
}

TEST(FormatsRoundTrip, BinaryFilesByTheirNames) {
    // Zero bytes in a file named as M3U are M3U text, as ever; named as another format, such a
    // file is no playlist the plug-in changes.
    const std::string binary("0&\xB2u\x8E\x66\xCF\x11\0\0a.mp3\r\nb.mp3\r\n", 24);
    std::string dir = TestFolder();
    for (const char* name : {"x.m3u", "x.asx", "x.pls"}) {
        std::string list = dir + "/" + name;
        WriteFile(list, binary);
        bool m3u = std::string(name) == "x.m3u", opened = false;
        Names names = List(list, &opened);
        EXPECT_EQ(opened, m3u) << name;
        EXPECT_EQ(Delete(list, {u"b.mp3"}), m3u ? E_SUCCESS : E_NOT_SUPPORTED) << name;
        EXPECT_EQ(ReadFile(list) == binary, !m3u) << name;
    }
}

} // namespace
