// Playlists written by other programs (tests/corpus): the entries they list, and that deleting
// and packing keep to the names the listing shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "plugin/exports.h"
#include "tests/support.h"

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::u16string>;

Names List(const std::string& playlist) {
    bool opened = false;
    Names names = ListedNames(playlist, &opened);
    EXPECT_TRUE(opened) << playlist;
    return names;
}

// The corpus, as "folder/file" to the file's bytes.
std::map<std::string, std::string> Corpus() {
    std::map<std::string, std::string> files;
    fs::path top = fs::u8path(M3U_CORPUS_DIR);
    for (const auto& entry : fs::recursive_directory_iterator(top)) {
        std::string name = entry.path().lexically_relative(top).generic_u8string();
        if (entry.is_regular_file() && name != "README.md" && name != "SOURCES.tsv") {
            files[name] = ReadFile(entry.path().u8string());
        }
    }
    return files;
}

const std::u16string Accents =
    u"C:\\Music\\\u00C0\u00C1\u00C2\u00C3\u00E4A \u00C7 \u00C8\u00C9\u00CA\u00CB "
    u"\u00CC\u00CD\u00CE\u00CF N \u00D2\u00D3\u00D4\u00D5\u00F6  \u00D9\u00DA\u00DB\u00FC "
    u"\u00E0\u00E1\u00E2\u00E3\u00E4a \u00E7 \u00E8\u00E9\u00EA\u00EB \u00EC\u00ED\u00EE\u00EF n "
    u"\u00F2\u00F3\u00F4\u00F5\u00F6o \u00F9\u00FA\u00FB\u00FC.mp3";
const std::u16string Alice = u"Alice in Chains_Jar of Flies_0";

struct Expected {
    const char* file;
    Names names;
    bool legacy; // text that is not UTF-8, read as Windows-1252
};

// Names read off the files' bytes: what a player would open, in order.
const std::vector<Expected> ExpectedNames = {
    {"lizzy/playlist-iso-8859-1.m3u", {u"C:\\Music\\SampleMusic.mp3", Accents}, true},
    {"lizzy/playlist-utf16le-bom.m3u", {u"C:\\Music\\SampleMusic.mp3", Accents}, false},
    {"lizzy/playlist-utf16be-bom.m3u", {u"C:\\Music\\SampleMusic.mp3", Accents}, false},
    {"lizzy/playlist-utf8-bom.m3u", {u"C:\\Music\\SampleMusic.mp3", Accents}, false},
    {"lizzy/test01.m3u",
     {u"c:/music/foo.mp3", u"foo/fighters.mp3", u"http://foofighters.com/somesong.mp3"},
     false},
    {"lizzy/test04.m3u",
     {u"mp3/3rd Bass/3rd bass - Al z A-B-Cee z.mp3",
      u"mp3/Apoptygma Berzerk/Apoptygma Berzerk - Kathy's Song (Victoria Mix by VNV Nation).mp3",
      u"mp3/Apoptygma Berzerk/Apoptygma Berzerk - Kathy's Song.mp3",
      u"mp3/Apoptygma Berzerk/Apoptygma Berzerk - Starsign.mp3",
      u"mp3/Butthole_Surfers-They_Came_In.mp3"},
     false},
    {"navidrome/cr-ended.m3u", {u"abc.mp3", u"def.mp3"}, false},
    {"navidrome/bom-test-utf16.m3u", {u"test.mp3"}, false},
    {"navidrome/pls-with-name.m3u",
     {u"tests/fixtures/test.mp3", u"tests/fixtures/test.ogg",
      u"\\tests\\fixtures\\01 Invisible (RED) Edit Version.mp3"},
     false},
    // Escapes outside a file:// URI are part of the name.
    {"navidrome/pls2.m3u",
     {u"../test.mp3", u"../test.ogg",
      u"/tests/fixtures/01%20Invisible%20(RED)%20Edit%20Version.mp3", u"/invalid/path/xyz.mp3"},
     false},
    {"PlaylistsNET/PlaylistVLC.m3u",
     {u"Aimer/%E6%98%A5%E3%81%AF%E3%82%86%E3%81%8F%20-%20marie/"
      u"01%20-%20%E6%98%A5%E3%81%AF%E3%82%86%E3%81%8F.flac"},
     false},
    {"mopidy/encoding.m3u", {u"\u00E6\u00F8\u00E5.mp3"}, true},
    {"mopidy/encoding-ext.m3u", {u"\u00E6\u00F8\u00E5.mp3"}, true},
    {"mopidy/empty.m3u", {}, false},
    {"PlaylistsNET/LatinEncoding.m3u",
     {u"M:\\R\u00F6yksopp feat. Susanne Sundf\u00F8r - Running To The Sea.mp3"},
     true},
    {"m3u-parser/wiki_mixed_empty_lines.m3u",
     {Alice + u"1_Rotten Apple.mp3", Alice + u"2_Nutshell.mp3", Alice + u"3_I Stay Away.mp3",
      Alice + u"4_No Excuses.mp3", Alice + u"5_Whale And Wasp.mp3", Alice + u"6_Don't Follow.mp3",
      Alice + u"7_Swing On This.mp3"},
     false},
    {"beets/playlist_windows.m3u8",
     {u"x:\\This\\is\\\u00E5\\path\\to_a_file.mp3",
      u"x:\\This\\is\\another\\path\\t\u00F6_a_file.mp3"},
     false},
    {"dopamine-windows/Directory1__Test.m3u",
     {u"C:\\Users\\Digimezzo\\Desktop\\Dummy.mp3", u"Dummy1.mp3", u"\\Dummy1.mp3", u".\\Dummy1.mp3",
      u"Directory3\\Dummy3.mp3", u"\\Directory3\\Dummy3.mp3", u".\\Directory3\\Dummy3.mp3",
      u"..\\Dummy.mp3", u"..\\Directory2\\Dummy2.mp3", u"..\\Directory1\\Directory3\\Dummy3.mp3",
      u".\\..\\Directory2\\Dummy2.mp3"},
     false},
    // An indented info line is a directive, not an entry.
    {"totem-pl-parser/O_G_Money_Snoop_Dogg.m3u",
     {u"http://media.ArtistServer.com/tracks/23985/21898/1/1/5e302b19727b666f5825/0/"
      u"O_G_Money_-_Girl_Gotta_girlfriend_Feat_O_G_Money,_Snoop_Dogg.mp3"},
     false},
    {"m3u/mixed.m3u",
     {u"Alternative\\Band - Song.mp3", u"Classical\\Other Band - New Song.mp3", u"Stuff.mp3",
      u"D:\\More Music\\Foo.mp3", u"..\\Other Music\\Bar.mp3", u"http://emp.cx:8000/Listen.pls",
      u"http://www.example.com/~user/Mine.mp3"},
     false},
};

TEST(Corpus, ListsWhatPlayersOpen) {
    std::map<std::string, std::string> corpus = Corpus();
    std::string dir = TestFolder(), list = dir + "/list.m3u";
    bool legacy = Legacy1252();
    for (const Expected& e : ExpectedNames) {
        SCOPED_TRACE(e.file);
        ASSERT_EQ(corpus.count(e.file), 1u);
        if (e.legacy && !legacy) {
            continue;
        }
        WriteFile(list, corpus[e.file]);
        EXPECT_EQ(List(list), Shown(e.names));
    }
}

Names Without(Names names, const std::u16string& name) {
    names.erase(std::remove(names.begin(), names.end(), name), names.end());
    return names;
}

// A name of ordinary segments joined by backslashes: the very line a pack of it writes.
bool PlainRelative(const std::u16string& name) {
    if (name.find_first_of(u"/:*?") != std::u16string::npos) {
        return false;
    }
    size_t start = 0;
    for (;;) {
        size_t end = std::min(name.find(u'\\', start), name.size());
        std::u16string segment = name.substr(start, end - start);
        if (segment.empty() || segment == u"." || segment == u".." || segment.back() == u' ' ||
            segment.back() == u'.') {
            return false;
        }
        if (end == name.size()) {
            return true;
        }
        start = end + 1;
    }
}

// Every file: an empty delete keeps every entry in order, deleting a listed name removes exactly
// the entries of that name, and packing a listed relative name adds nothing.
TEST(Corpus, DeleteAndPackKeepToListedNames) {
    std::string dir = TestFolder(), list = dir + "/list.m3u";
    std::u16string playlist = WidePath(list), source = WidePath(dir) + u"\\";
    size_t files = 0, deleted = 0, packed = 0;
    for (const auto& file : Corpus()) {
        SCOPED_TRACE(file.first);
        ++files;
        WriteFile(list, file.second);
        Names before = List(list);
        std::u16string none(1, u'\0');
        EXPECT_EQ(DeleteFilesW(&playlist[0], &none[0]), 0);
        EXPECT_EQ(List(list), before);
        Names tried;
        for (const std::u16string& name : before) {
            if (std::find(tried.begin(), tried.end(), name) != tried.end()) {
                continue;
            }
            tried.push_back(name);
            std::u16string names = WideList({name});
            WriteFile(list, file.second);
            EXPECT_EQ(DeleteFilesW(&playlist[0], &names[0]), 0);
            EXPECT_EQ(List(list), Without(before, name)) << "deleting one name";
            ++deleted;
            if (PlainRelative(name)) {
                WriteFile(list, file.second);
                EXPECT_EQ(PackFilesW(&playlist[0], nullptr, &source[0], &names[0], 0), 0);
                EXPECT_EQ(ReadFile(list), file.second) << "packing a listed name";
                ++packed;
            }
        }
    }
    EXPECT_EQ(files, 53u);
    EXPECT_GT(deleted, 300u);
    EXPECT_GT(packed, 30u);
}

// The lines of a text, whatever ends them.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = std::min(text.find_first_of("\r\n", start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

// Whether `part` is `whole` with some of its lines left out, the others in their order.
bool LeavesOut(const std::vector<std::string>& whole, const std::vector<std::string>& part) {
    size_t k = 0;
    for (size_t i = 0; i < whole.size() && k < part.size(); ++i) {
        k += whole[i] == part[k];
    }
    return k == part.size();
}

// Files whose entries carry options, properties, groups or indented info lines: a delete of
// nothing gives back every line, and deleting an entry removes exactly its own lines (counted
// off the files' bytes, in listing order), never a blank line, and keeps the rest in order.
TEST(Corpus, DeletingAnEntryRemovesExactlyItsLines) {
    const struct {
        const char* file;
        std::vector<size_t> removed; // lines each entry takes with it
    } rows[] = {
        {"totem-pl-parser/radios-freebox.m3u", {5}},
        {"iptv-playlist-parser/kodi.m3u", {4}},
        {"iptv-playlist-parser/base.m3u", {5, 2, 1, 2, 2, 2, 2}},
        {"totem-pl-parser/O_G_Money_Snoop_Dogg.m3u", {2}},
        // An option above an info line goes with that entry; other directives there stay.
        {"PlaylistsNET/PlaylistExt.m3u", {2, 3, 2}},
        {"ipytv/iptv-org-excerpt.m3u", {2, 3, 3, 3, 2, 2, 3, 3, 2, 3, 3, 3, 3, 3, 3, 2, 2, 3, 2}},
    };
    std::map<std::string, std::string> corpus = Corpus();
    std::string dir = TestFolder(), list = dir + "/list.m3u";
    std::u16string playlist = WidePath(list);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        const std::string& bytes = corpus[row.file];
        std::vector<std::string> lines = Lines(bytes);
        WriteFile(list, bytes);
        Names names = List(list);
        ASSERT_EQ(names.size(), row.removed.size());
        std::u16string none(1, u'\0');
        EXPECT_EQ(DeleteFilesW(&playlist[0], &none[0]), 0);
        EXPECT_EQ(Lines(ReadFile(list)), lines);
        for (size_t i = 0; i < names.size(); ++i) {
            size_t removed = 0;
            for (size_t k = 0; k < names.size(); ++k) {
                removed += names[k] == names[i] ? row.removed[k] : 0;
            }
            WriteFile(list, bytes);
            std::u16string name = WideList({names[i]});
            EXPECT_EQ(DeleteFilesW(&playlist[0], &name[0]), 0);
            std::vector<std::string> after = Lines(ReadFile(list));
            EXPECT_EQ(after.size() + removed, lines.size()) << "entry " << i;
            EXPECT_TRUE(LeavesOut(lines, after)) << "entry " << i;
            EXPECT_EQ(std::count(after.begin(), after.end(), ""),
                      std::count(lines.begin(), lines.end(), ""));
        }
    }
}

} // namespace
