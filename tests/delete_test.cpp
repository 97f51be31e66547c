// Deleting entries: the rewritten playlist byte for byte, and a playlist left alone on failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/conventions.h"
#include "platform/platform.h"
#include "playlist/nametable.h"
#include "plugin/exports.h"
#include "tests/support.h"

namespace {

struct Row {
    std::string before;
    std::vector<std::u16string> names;
    std::string after;
    bool legacy = false; // names text that is not UTF-8 as Windows-1252 gives it
};

int Delete(const std::string& playlist, const std::vector<std::u16string>& names) {
    std::u16string path = WidePath(playlist), list = WideList(Shown(names));
    return DeleteFilesW(path.data(), list.data());
}

TEST(DeleteTable, RewritesByteForByte) {
    const std::string bom = "\xEF\xBB\xBF", x5000(5000, 'x');
    const std::string L = "\xFF\xFE", B = "\xFE\xFF";
    auto le = Utf16Le;
    auto be = Utf16Be;
    const std::vector<Row> rows = {
        {"#EXTM3U\r\n#EXTINF:1,A\r\na.mp3\r\n#EXTINF:2,B\r\nb.mp3\r\n",
         {u"b.mp3"},
         "#EXTM3U\r\n#EXTINF:1,A\r\na.mp3\r\n"},
        {"#EXTINF:1,A\r\na.mp3\r\n#EXTINF:2,B\r\nb.mp3\r\n#EXTINF:3,A\r\na.mp3\r\n",
         {u"a.mp3"},
         "#EXTINF:2,B\r\nb.mp3\r\n"},
        {"a.mp3\r\nb.mp3\r\nc.mp3\r\n", {u"c.mp3", u"zz.mp3", u"a.mp3"}, "b.mp3\r\n"},
        {"D\xC3\xA9j\xC3\xA0.mp3\r\nb.mp3\r\n", {u"D\u00e9j\u00e0.mp3"}, "b.mp3\r\n"},
        // Directives between the info line and the path line are the entry's, in their order.
        {"#EXTINF:1,A\r\n#EXTGRP:g\r\na.mp3\r\n", {}, "#EXTINF:1,A\r\n#EXTGRP:g\r\na.mp3\r\n"},
        {"#EXTINF:1,A\r\n#EXTGRP:g\r\na.mp3\r\n", {u"a.mp3"}, ""},
        {"#EXTINF:1,A\r\n#EXTINF:2,B\r\na.mp3\r\n", {}, "#EXTINF:2,B\r\na.mp3\r\n"},
        {"a.mp3\r\n#EXTINF:1,A\r\n", {}, "a.mp3\r\n"},
        // Blank lines are no entries: they stay where they are, and the info line before them
        // describes the entry after them.
        {"#EXTINF:1,A\r\n\r\na.mp3\r\n", {u"a.mp3"}, "\r\n"},
        {"#EXTINF:1,A\n \n\t\na.mp3\n", {}, "#EXTINF:1,A\r\n \r\n\t\r\na.mp3\r\n"},
        {"#EXTINF:1,A\n\n#EXTINF:2,B\n\nb.mp3\n", {u"b.mp3"}, "\r\n\r\n"},
        {"#EXTINF:1,A\n\n#X\na.mp3\n", {}, "#EXTINF:1,A\r\n\r\n#X\r\na.mp3\r\n"},
        {"#EXTINF:1,A\n\n#X\na.mp3\n", {u"a.mp3"}, "\r\n"},
        {"a.mp3\r\n\r\n#EXTINF:1,A\r\n\r\n", {}, "a.mp3\r\n\r\n\r\n"},
        {"#EXTINF:1,A\r\n#extinf:2,B\r\na.mp3\r\n", {}, "#EXTINF:1,A\r\n#extinf:2,B\r\na.mp3\r\n"},
        {"#extinf:2,B\r\na.mp3\r\n", {u"a.mp3"}, "#extinf:2,B\r\n"},
        {"#EXTM3U\n#EXTINF:1,A\na.mp3\nb.mp3", {}, "#EXTM3U\r\n#EXTINF:1,A\r\na.mp3\r\nb.mp3\r\n"},
        // A folder of the listing: every entry below it, by either separator.
        {"Rock\\a.mp3\r\n#EXTINF:1,B\r\nRock/b.mp3\r\nRocks\\x.mp3\r\nRock\r\nRock\\s\\c.mp3\r\n"
         "d.mp3\r\n",
         {u"Rock\\*.*"},
         "Rocks\\x.mp3\r\nRock\r\nd.mp3\r\n"},
        {"Rock\\a.mp3\r\nRock/b.mp3\r\nd.mp3\r\n", {u"Rock/*.*"}, "d.mp3\r\n"},
        {"a*.mp3\r\nab.mp3\r\na.mp3\r\n", {u"a*.mp3"}, "ab.mp3\r\na.mp3\r\n"},
        // Lines longer than one read.
        {x5000 + "\r\nb.mp3\r\n", {u"b.mp3"}, x5000 + "\r\n"},
        {"#" + x5000 + "\nb.mp3", {u"b.mp3"}, "#" + x5000 + "\r\n"},
        {x5000 + "\r\n", {std::u16string(4095, u'x')}, x5000 + "\r\n"},
        // A long line lists nothing, so no folder of the listing holds it.
        {"Rock\\" + x5000 + "\r\nb.mp3\r\n", {u"Rock\\*.*"}, "Rock\\" + x5000 + "\r\nb.mp3\r\n"},
        {"#EXTINF:1,A\n" + x5000 + "\nb.mp3\n", {u"b.mp3"}, "#EXTINF:1,A\r\n" + x5000 + "\r\n"},
        // A lone CR ends a line.
        {"a.mp3\rjunk\nb.mp3\r\n", {u"b.mp3"}, "a.mp3\r\njunk\r\n"},
        {"a.mp3\rjunk\nb.mp3\r\n", {u"a.mp3"}, "junk\r\nb.mp3\r\n"},
        {"a.mp3\r\nb.mp3\r\n\x1A"
         "a.mp3\r\n",
         {u"a.mp3"},
         "b.mp3\r\n\x1A"
         "a.mp3\r\n"},
        {bom + "a.mp3\r\nb.mp3\r\n", {u"a.mp3"}, bom + "b.mp3\r\n"},
        // A line that comes first once the lines before it are gone never becomes a mark.
        {"a.mp3\r\n\xFF\xFE.mp3\r\n", {u"a.mp3"}, "\r\n\xFF\xFE.mp3\r\n"},
        {"a.mp3\r\n" + bom + "b\r\n", {u"a.mp3"}, "\r\n" + bom + "b\r\n"},
        {"a.mp3\r\n\xFE\xFF\r\n", {u"a.mp3"}, "\r\n\xFE\xFF\r\n"},
        {"a.mp3\r\n\xFE\r\n", {u"a.mp3"}, "\xFE\r\n"},
        {"a.mp3\rb.mp3\rc.mp3", {u"b.mp3"}, "a.mp3\r\nc.mp3\r\n"},
        // Lines that stay are written back byte for byte, whatever their code page.
        {"caf\xE9.mp3\r\nb.mp3\r\n", {u"b.mp3"}, "caf\xE9.mp3\r\n"},
        {"caf\xE9.mp3\r\n#EXTINF:1,A\r\nb\xE9\r\n", {u"caf\u00E9.mp3", u"b\u00E9"}, "", true},
        {"\xC3\xA9\r\n\xE9\r\n", {u"\u00E9"}, "", true},
        // A file:// line goes by the path it names; other schemes by the line.
        {"#EXTINF:1,A\r\nfile:///C:/Music/a%20b.mp3\r\nb.mp3\r\n",
         {u"C:\\Music\\a b.mp3"},
         "b.mp3\r\n"},
        {"file:///C:/Music/a.mp3\nfile://server/share/b.mp3\n",
         {u"C:\\Music\\*.*"},
         "file://server/share/b.mp3\r\n"},
        {"http://h/a.mp3\r\nfile:///C:/Music/a%20b.mp3\r\n",
         {u"http://h/a.mp3", u"file:///C:/Music/a%20b.mp3"},
         "file:///C:/Music/a%20b.mp3\r\n"},
        // UTF-16 comes back in its byte order, mark included, every line ended by CR LF units.
        {L + le(u"#EXTM3U\r\n#EXTINF:1,A\r\na.mp3\r\nb.mp3"),
         {u"a.mp3"},
         L + le(u"#EXTM3U\r\nb.mp3\r\n")},
        {B + be(u"#EXTINF:1,A\na.mp3\r\u00E9\u041A.mp3\n"),
         {u"\u00E9\u041A.mp3"},
         B + be(u"#EXTINF:1,A\r\na.mp3\r\n")},
        {L + le(u"Rock\\a.mp3\r\nRock/b.mp3\r\nd.mp3\r\n"), {u"Rock\\*.*"}, L + le(u"d.mp3\r\n")},
        {B + be(u"a.mp3\nb.mp3\r\n \r\n"), {}, B + be(u"a.mp3\r\nb.mp3\r\n \r\n")},
        {L + le(u"file:///C:/a%20b.mp3\r\n\x1A"), {u"C:\\a b.mp3"}, L + le(u"\x1A\r\n")},
        // Half a unit at the end and units that do not pair stay as they were.
        {L + le(u"a.mp3\r\nb") + "x", {u"a.mp3"}, L + le(u"b") + "x"},
        {B + be(u"\xDC00x\r\na.mp3\r\n\xD800") + "x",
         {u"a.mp3"},
         B + be(u"\xDC00x\r\n\xD800") + "x"},
        // Names given twice and folders, also in different batches.
        {"#EXTINF:1,A\r\na\\1\r\nb\r\n#EXTINF:2,C\r\nc\r\na/2\r\nd\r\nab\\3\r\n",
         {u"b", u"a\\*.*", u"b", u"d", u"b"},
         "#EXTINF:2,C\r\nc\r\nab\\3\r\n"},
        {"a\\*.*\r\na\r\na\\b\r\n", {u"a\\*.*"}, "a\r\n"},
        // A line kept from reading as a mark by a blank line, then deleted: no blank stays.
        {"a.mp3\r\n\xFF\xFEx.mp3\r\nb.mp3\r\n",
         {u"a.mp3", u"q", u"\u00FF\u00FEx.mp3"},
         "b.mp3\r\n",
         true},
    };
    std::string dir = TestFolder();
    bool legacy = Legacy1252();
    for (const TableMode& mode : TableModes) {
        InTableMode in(mode);
        for (size_t i = 0; i < rows.size(); ++i) {
            SCOPED_TRACE(std::string(mode.Name) + ", row " + std::to_string(i));
            if (rows[i].legacy && !legacy) {
                continue;
            }
            WriteFile(dir + "/list.m3u", rows[i].before);
            EXPECT_EQ(Delete(dir + "/list.m3u", rows[i].names), E_SUCCESS);
            EXPECT_EQ(ReadFile(dir + "/list.m3u"), AsWritten(rows[i].before, rows[i].after));
            EXPECT_EQ(FolderListing(dir), "list.m3u");
        }
    }
}

// An entry's lines go with it and stay in their order: options and properties that players
// apply to the next entry only, with or without an info line, and directives between the info
// line and the path line; headers and section comments above stay, and so do blank lines.
TEST(DeleteTable, EntriesGoWithTheirOwnLines) {
    const std::string vlc = "#EXTM3U\r\n#EXTINF:100,One\r\n#EXTVLCOPT:start-time=30\r\n"
                            "#EXTVLCOPT:no-video\r\none.mp3\r\n#EXTINF:200,Two\r\ntwo.mp3\r\n";
    const std::string kodi = "#EXTM3U\n\n# TV\n\n#EXTINF:-1,RTP 1\n#KODIPROP:inputstream=a\n"
                             "#KODIPROP:manifest_type=hls\nhttp://t/1\n\n#KODIPROP:b\n"
                             "#EXTINF:-1,RTP 2\nhttp://t/2\n";
    const std::string iptv =
        "#EXTM3U\r\n# News\r\n#EXTINF:-1 group-title=\"N\",One\r\n"
        "#EXTGRP:N\r\n#EXTVLCOPT:http-user-agent=Mozilla/5.0 (X11)\r\n"
        "http://i/1\r\n# Music\r\n#EXTGRP:M\r\n#EXTINF:-1,Two\r\nhttp://i/2\r\n";
    const std::string big(3000, 'o'), x5000(5000, 'x');
    const std::string L = "\xFF\xFE";
    auto le = Utf16Le;
    auto crlf = [](std::string lf) {
        for (size_t at = lf.find('\n'); at != std::string::npos; at = lf.find('\n', at + 2)) {
            lf.insert(at, 1, '\r');
        }
        return lf;
    };
    const std::vector<Row> rows = {
        // VLC: options between the info line and the path, or alone above the path.
        {vlc, {}, vlc},
        {vlc, {u"one.mp3"}, "#EXTM3U\r\n#EXTINF:200,Two\r\ntwo.mp3\r\n"},
        {vlc, {u"two.mp3"}, vlc.substr(0, vlc.find("#EXTINF:200"))},
        {"#EXTVLCOPT:start-time=30\r\none.mp3\r\ntwo.mp3\r\n", {u"one.mp3"}, "two.mp3\r\n"},
        {"#EXTVLCOPT:a\r\n#EXTINF:1,One\r\none.mp3\r\ntwo.mp3\r\n", {u"one.mp3"}, "two.mp3\r\n"},
        // Kodi: properties after the info line, and before it.
        {kodi, {}, crlf(kodi)},
        {kodi,
         {u"http://t/1"},
         crlf("#EXTM3U\n\n# TV\n\n\n#KODIPROP:b\n#EXTINF:-1,RTP 2\nhttp://t/2\n")},
        {kodi, {u"http://t/2"}, crlf(kodi.substr(0, kodi.find("#KODIPROP:b")))},
        // IPTV: a group and a user agent go with the entry; section comments and a group above
        // the info line stay.
        {iptv, {}, iptv},
        {iptv,
         {u"http://i/1"},
         "#EXTM3U\r\n# News\r\n# Music\r\n#EXTGRP:M\r\n#EXTINF:-1,Two\r\nhttp://i/2\r\n"},
        {iptv, {u"http://i/2"}, iptv.substr(0, iptv.find("#EXTINF:-1,Two"))},
        // Options cut off from the path line by another directive, or after the last entry,
        // are no entry's.
        {"#EXTVLCOPT:a\r\n#X\r\none.mp3\r\n", {u"one.mp3"}, "#EXTVLCOPT:a\r\n#X\r\n"},
        {"a.mp3\r\n#EXTVLCOPT:x\r\n#EXTINF:1,A\r\n", {u"a.mp3"}, "#EXTVLCOPT:x\r\n"},
        // An info line that describes nothing goes; its directives stay, and the options directly
        // above the next info line are that entry's.
        {"#EXTINF:1,A\r\n#EXTGRP:g\r\n#EXTVLCOPT:x\r\n#EXTINF:2,B\r\nb.mp3\r\nc\r\n",
         {},
         "#EXTGRP:g\r\n#EXTVLCOPT:x\r\n#EXTINF:2,B\r\nb.mp3\r\nc\r\n"},
        {"#EXTINF:1,A\r\n#EXTGRP:g\r\n#EXTVLCOPT:x\r\n#EXTINF:2,B\r\nb.mp3\r\nc\r\n",
         {u"b.mp3"},
         "#EXTGRP:g\r\nc\r\n"},
        {"#EXTVLCOPT:x\r\n#EXTINF:1,A\r\n#EXTVLCOPT:y\r\n#EXTINF:2,B\r\nb.mp3\r\nc\r\n",
         {},
         "#EXTVLCOPT:x\r\n#EXTVLCOPT:y\r\n#EXTINF:2,B\r\nb.mp3\r\nc\r\n"},
        {"#EXTVLCOPT:x\r\n#EXTINF:1,A\r\n#EXTVLCOPT:y\r\n#EXTINF:2,B\r\nb.mp3\r\nc\r\n",
         {u"b.mp3"},
         "c\r\n"},
        // The same when a first batch of names dropped that info line.
        {"#EXTVLCOPT:x\r\n#EXTINF:1,A\r\n#EXTVLCOPT:y\r\n#EXTINF:2,B\r\nb.mp3\r\nc\r\n",
         {u"q1", u"q2", u"q3", u"b.mp3"},
         "c\r\n"},
        // Blank lines among an entry's lines stay where they are.
        {"#EXTINF:1,A\r\n\r\n#EXTVLCOPT:x\r\n \r\na.mp3\r\nb.mp3\r\n",
         {u"a.mp3"},
         "\r\n \r\nb.mp3\r\n"},
        // Indented directives are directives, written back as they stood.
        {"#EXTM3U\r\n\t\t#EXTINF:-1,O G\r\nhttp://m/a.mp3\r\nb.mp3\r\n",
         {},
         "#EXTM3U\r\n\t\t#EXTINF:-1,O G\r\nhttp://m/a.mp3\r\nb.mp3\r\n"},
        {"#EXTM3U\r\n\t\t#EXTINF:-1,O G\r\nhttp://m/a.mp3\r\nb.mp3\r\n",
         {u"http://m/a.mp3"},
         "#EXTM3U\r\nb.mp3\r\n"},
        {" \t#EXTVLCOPT:x\n  #EXTINF:1,A\n  #EXTGRP:g\n  a.mp3\nb\n", {u"  a.mp3"}, "b\r\n"},
        {" #comment\r\na.mp3\r\n", {u"a.mp3"}, " #comment\r\n"},
        {L + le(u"#EXTINF:1,A\r\n\t#EXTVLCOPT:x\r\na.mp3\r\nb.mp3\r\n"),
         {u"a.mp3"},
         L + le(u"b.mp3\r\n")},
        // Lines too many to hold, or longer than a read, go out as they come; the info line
        // alone waits for its path line.
        {"#EXTINF:1,A\r\n#EXTVLCOPT:" + big + "\r\n#EXTVLCOPT:" + big + "\r\n#EXTVLCOPT:" + big +
             "\r\na.mp3\r\n",
         {u"a.mp3"},
         "#EXTVLCOPT:" + big + "\r\n#EXTVLCOPT:" + big + "\r\n#EXTVLCOPT:" + big + "\r\n"},
        {"#EXTINF:1,A\r\n#" + x5000 + "\r\na.mp3\r\n",
         {},
         "#" + x5000 + "\r\n#EXTINF:1,A\r\na.mp3\r\n"},
        {"#EXTINF:1,A\r\n#" + x5000 + "\r\n#EXTGRP:g\r\na.mp3\r\n",
         {u"a.mp3"},
         "#" + x5000 + "\r\n#EXTGRP:g\r\n"},
        // The entry after an outsized one is held again.
        {"#EXTINF:1,A\r\n#" + x5000 + "\r\na.mp3\r\n#EXTINF:2,B\r\n#EXTGRP:g\r\nb.mp3\r\n",
         {u"b.mp3"},
         "#" + x5000 + "\r\n#EXTINF:1,A\r\na.mp3\r\n"},
    };
    std::string dir = TestFolder();
    for (const TableMode& mode : TableModes) {
        InTableMode in(mode);
        for (size_t i = 0; i < rows.size(); ++i) {
            SCOPED_TRACE(std::string(mode.Name) + ", row " + std::to_string(i));
            WriteFile(dir + "/list.m3u", rows[i].before);
            EXPECT_EQ(Delete(dir + "/list.m3u", rows[i].names), E_SUCCESS);
            EXPECT_EQ(ReadFile(dir + "/list.m3u"), AsWritten(rows[i].before, rows[i].after));
        }
    }
}

TEST(DeleteTable, MissingPlaylistIsNotCreated) {
    std::string dir = TestFolder();
    EXPECT_EQ(Delete(dir + "/list.m3u", {u"a.mp3"}), E_NOT_SUPPORTED);
    EXPECT_EQ(FolderListing(dir), "");
}

// Refused at the copy back: the playlist as it was and no temporary file left.
TEST(DeleteTable, ReadOnlyPlaylistStaysAsItWas) {
    std::string dir = TestFolder(), list = dir + "/list.m3u";
    if (!ReadOnlyHolds(dir)) {
        GTEST_SKIP() << "read-only files stay writable for this user";
    }
    WriteFile(list, "a.mp3\r\nb.mp3\r\n");
    MakeReadOnly(list, true);
    EXPECT_EQ(Delete(list, {u"a.mp3"}), E_ECREATE);
    MakeReadOnly(list, false);
    EXPECT_EQ(ReadFile(list), "a.mp3\r\nb.mp3\r\n");
    EXPECT_EQ(FolderListing(dir), "list.m3u");
}

#ifdef _WIN32
TEST(DeleteTable, LockedPlaylistStaysAsItWas) {
    std::string dir = TestFolder(), list = dir + "/list.m3u";
    WriteFile(list, "a.mp3\r\nb.mp3\r\n");
    const struct {
        unsigned long share;
        int result;
    } locks[] = {{1, E_ECREATE}, {0, E_NOT_SUPPORTED}}; // FILE_SHARE_READ; nothing shared
    for (const auto& lock : locks) {
        void* held = HoldOpen(list, lock.share);
        EXPECT_EQ(Delete(list, {u"a.mp3"}), lock.result) << lock.share;
        Release(held);
        EXPECT_EQ(ReadFile(list), "a.mp3\r\nb.mp3\r\n");
        EXPECT_EQ(FolderListing(dir), "list.m3u");
    }
}
#endif

TEST(DeleteNarrow, ListsOfAnyLengthButWholeNames) {
    std::string many, manyLeft = "n300.mp3\r\n";
    std::vector<std::string> manyNames;
    for (int i = 0; i <= 300; ++i) {
        std::string name = "n" + std::to_string(1000 + i).substr(1) + ".mp3";
        many += name + "\r\n";
        if (i < 300) {
            manyNames.push_back(name);
        }
    }
    // Names too many to encode once: each line converts them again.
    std::vector<std::string> longNames(40, std::string(1000, 'x'));
    longNames.push_back("b.mp3");
    const struct {
        std::string before;
        std::vector<std::string> names;
        int result;
        std::string after;
    } rows[] = {
        {"a.mp3\r\nb.mp3\r\nc.mp3\r\nd.mp3\r\n", {"a.mp3", "c.mp3", "d.mp3"}, 0, "b.mp3\r\n"},
        {"a.mp3\r\nb.mp3\r\n#x\r\nb.mp3\r\n", longNames, 0, "a.mp3\r\n#x\r\n"},
        {many, manyNames, 0, manyLeft},
        {"a.mp3\n", {"a.mp3", std::string(1100, 'n')}, E_NOT_SUPPORTED, "a.mp3\n"},
    };
    std::string dir = TestFolder();
    std::string path = NarrowPath(dir + "/list.m3u");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.names.size());
        WriteFile(dir + "/list.m3u", row.before);
        std::string list = NarrowList(row.names);
        EXPECT_EQ(DeleteFiles(path.data(), list.data()), row.result);
        EXPECT_EQ(ReadFile(dir + "/list.m3u"), row.after);
        EXPECT_EQ(FolderListing(dir), "list.m3u");
    }
}

// Lists of one name less than a full table, a full table and one name more, against the table
// as built, given wide and narrow: every named line goes, whichever batch names it, and a
// narrow list (converted one name at a time) deletes what the same wide list deletes.
TEST(DeleteTable, ListsAtTheBatchBoundary) {
    std::string dir = TestFolder(), list = dir + "/list.m3u";
    std::string path = NarrowPath(list);
    for (int count : {int{TableKeys} - 1, int{TableKeys}, int{TableKeys} + 1}) {
        std::string before, after;
        std::vector<std::u16string> names;
        for (int i = 0; i < count + 2; ++i) {
            std::string line = "n" + std::to_string(i) + ".mp3";
            before += "#EXTINF:" + std::to_string(i) + ",T\r\n" + line + "\r\n";
            // Every other line goes, and the first and the last: some fall off a shorter list.
            if (i % 2 == 1 || i == 0 || i == count + 1) {
                names.push_back(std::u16string(line.begin(), line.end()));
            }
        }
        while (names.size() < static_cast<size_t>(count)) {
            // Short, so that a narrow list of a full table still converts name by name.
            std::string absent = "absent" + std::to_string(names.size());
            names.push_back(std::u16string(absent.begin(), absent.end()));
        }
        names.resize(count);
        for (int i = 0; i < count + 2; ++i) {
            std::string line = "n" + std::to_string(i) + ".mp3";
            if (std::find(names.begin(), names.end(), std::u16string(line.begin(), line.end())) ==
                names.end()) {
                after += "#EXTINF:" + std::to_string(i) + ",T\r\n" + line + "\r\n";
            }
        }
        std::vector<std::string> narrow;
        for (const auto& name : Shown(names)) {
            narrow.push_back(std::string(name.begin(), name.end())); // ASCII
        }
        std::string narrowList = NarrowList(narrow);
        for (bool wide : {true, false}) {
            SCOPED_TRACE(std::to_string(count) + (wide ? " wide" : " narrow"));
            WriteFile(list, before);
            EXPECT_EQ(wide ? Delete(list, names) : DeleteFiles(path.data(), narrowList.data()),
                      E_SUCCESS);
            EXPECT_EQ(ReadFile(list), after);
            EXPECT_EQ(FolderListing(dir), "list.m3u");
        }
    }
}

// An XSPF whose names to delete take one batch, two or three: each entry's name, worked out once
// for all the batches, finds whichever batch names it, and a folder named last takes its tracks.
TEST(DeleteTable, XmlNamesAcrossBatches) {
    std::string dir = TestFolder(), list = dir + "/list.xspf";
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\">\n"
                             "  <trackList>\n";
    const std::string tail = "  </trackList>\n</playlist>\n";
    for (int count : {int{TableKeys} / 2, int{TableKeys} + 1, 2 * int{TableKeys} + 5}) {
        SCOPED_TRACE(count);
        std::string before = head, after = head;
        std::vector<std::u16string> names;
        for (int i = 0; i < count + 10; ++i) {
            bool inFolder = i % 7 == 3;
            std::string file = "n" + std::to_string(i) + ".mp3";
            std::string track = "    <track><location>" + (inFolder ? "sub/" + file : file) +
                                "</location><title>T</title></track>\n";
            before += track;
            bool named = !inFolder && (i % 2 == 1 || i == 0);
            if (named) {
                names.push_back(std::u16string(file.begin(), file.end()));
            } else if (!inFolder) {
                after += track;
            }
        }
        while (names.size() < static_cast<size_t>(count)) {
            std::string absent = "absent" + std::to_string(names.size()) + ".mp3";
            names.push_back(std::u16string(absent.begin(), absent.end()));
        }
        names.push_back(u"sub\\*.*");
        WriteFile(list, before + tail);
        EXPECT_EQ(Delete(list, names), E_SUCCESS);
        EXPECT_EQ(ReadFile(list), after + tail);
        EXPECT_EQ(FolderListing(dir), "list.xspf");
    }
}

// The same names wide and narrow delete the same lines, in every mode of the table: folders,
// names given twice, names that are not ASCII, names of no line.
TEST(DeleteNarrow, SameAsWide) {
    const std::string before = "#EXTINF:1,A\r\nRock\\a.mp3\r\nRock/b.mp3\r\nRocks\\x.mp3\r\n"
                               "Rock\r\ncaf\xC3\xA9.mp3\r\n#EXTINF:2,B\r\nb.mp3\r\nc.mp3\r\n";
    const std::string after = "Rocks\\x.mp3\r\nRock\r\nc.mp3\r\n";
    const std::vector<std::u16string> names = {u"b.mp3", u"Rock\\*.*",     u"zz.mp3",
                                               u"b.mp3", u"caf\u00E9.mp3", u"Rock\\*.*"};
    std::string narrowList;
    for (const auto& name : Shown(names)) {
        char ansi[64];
        WideToAnsi(name.c_str(), ansi, sizeof ansi);
        narrowList += std::string(ansi) + '\0';
    }
    narrowList += '\0';
    std::string dir = TestFolder(), list = dir + "/list.m3u", path = NarrowPath(list);
    for (const TableMode& mode : TableModes) {
        InTableMode in(mode);
        for (bool wide : {true, false}) {
            SCOPED_TRACE(std::string(mode.Name) + (wide ? ", wide" : ", narrow"));
            WriteFile(list, before);
            EXPECT_EQ(wide ? Delete(list, names) : DeleteFiles(path.data(), &narrowList[0]),
                      E_SUCCESS);
            EXPECT_EQ(ReadFile(list), after);
        }
    }
}

// How rewritten and appended lines end, in each build: the Windows builds always write CR LF;
// the Linux build writes CR LF only into a playlist whose first line ends so, and LF otherwise.
TEST(DeleteTable, LineEndsOfRewritesAndNewLines) {
    const std::string L = "\xFF\xFE";
    auto le = Utf16Le;
    const struct {
        std::string before;
        const char* deleted;     // null: "a.mp3" is packed instead
        std::string windows, lf; // lf: the Linux build's
    } rows[] = {
        {"x.mp3\r\nb.mp3\nc.mp3\n", "b.mp3", "x.mp3\r\nc.mp3\r\n", "x.mp3\r\nc.mp3\r\n"},
        {"x.mp3\nb.mp3\r\nc.mp3\r\n", "b.mp3", "x.mp3\r\nc.mp3\r\n", "x.mp3\nc.mp3\n"},
        {"x.mp3\rb.mp3\rc.mp3", "b.mp3", "x.mp3\r\nc.mp3\r\n", "x.mp3\nc.mp3\n"},
        {"x.mp3", "b.mp3", "x.mp3\r\n", "x.mp3\n"},
        {"x.mp3\x1A\r\n", "b.mp3", "x.mp3\r\n\x1A\r\n", "x.mp3\n\x1A\r\n"},
        {L + le(u"x\nb\r\n"), "b", L + le(u"x\r\n"), L + le(u"x\n")},
        {"x.mp3\r\n", nullptr, "x.mp3\r\na.mp3\r\n", "x.mp3\r\na.mp3\r\n"},
        {"x.mp3\ny.mp3\r\n", nullptr, "x.mp3\ny.mp3\r\na.mp3\r\n", "x.mp3\ny.mp3\r\na.mp3\n"},
        {"x.mp3\ry.mp3", nullptr, "x.mp3\ry.mp3\r\na.mp3\r\n", "x.mp3\ry.mp3\na.mp3\n"},
        {"x.mp3", nullptr, "x.mp3\r\na.mp3\r\n", "x.mp3\na.mp3\n"},
        {"", nullptr, "a.mp3\r\n", "a.mp3\n"},
        {L + le(u"x\n"), nullptr, L + le(u"x\na.mp3\r\n"), L + le(u"x\na.mp3\n")},
    };
    std::string dir = TestFolder(), list = dir + "/list.m3u";
    std::u16string path = WidePath(list), src = WidePath(dir) + HostSeparator();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.before);
        WriteFile(list, row.before);
        std::string name = row.deleted ? row.deleted : "a.mp3";
        std::u16string names = WideList({std::u16string(name.begin(), name.end())});
        EXPECT_EQ(row.deleted ? DeleteFilesW(path.data(), names.data())
                              : PackFilesW(path.data(), nullptr, src.data(), names.data(), 0),
                  E_SUCCESS);
        EXPECT_EQ(ReadFile(list), HostPaths.LfUnlessCrLf ? row.lf : row.windows);
    }
}

// A playlist of the Windows table's lines, each with an info line, between directives and
// blank lines that belong to no entry; `keep` says which lines stay.
template <typename Keep> std::string TablePlaylist(Keep keep) {
    std::string text = "#EXTM3U\r\n\r\n";
    for (size_t i = 0; i < WindowsNameTable.size(); ++i) {
        if (keep(WindowsNameTable[i])) {
            text += "#EXTINF:1,T" + std::to_string(i) + "\r\n" + WindowsNameTable[i].Line + "\r\n";
        }
    }
    return text + "\r\n#EXTGRP:end\r\n";
}

// Every listed name and every folder of the listing, "(..)\\*.*" and "(UNC)\\server\\*.*"
// among them, takes exactly the lines listed under it.
TEST(DeleteTable, ByEveryWindowsNameAndFolder) {
    if (!HostNames.WindowsParts) {
        GTEST_SKIP() << "Windows conventions only";
    }
    std::set<std::u16string> asked;
    for (const LineName& row : WindowsNameTable) {
        asked.insert(row.Name);
        for (size_t at = row.Name.find(u'\\'); at != std::u16string::npos;
             at = row.Name.find(u'\\', at + 1)) {
            asked.insert(row.Name.substr(0, at + 1) + u"*.*");
        }
    }
    asked.erase(u"");
    std::string dir = TestFolder(), list = dir + "/list.m3u";
    std::u16string path = WidePath(list);
    const std::string before = TablePlaylist([](const LineName&) { return true; });
    for (const std::u16string& wanted : asked) {
        SCOPED_TRACE(std::string(wanted.begin(), wanted.end()));
        bool folder = wanted.size() > 4 && wanted.compare(wanted.size() - 3, 3, u"*.*") == 0;
        std::u16string under = wanted.substr(0, wanted.size() - 3);
        std::string after = TablePlaylist([&](const LineName& row) {
            bool below = folder && row.Name.compare(0, under.size(), under) == 0;
            return row.Name.empty() || (row.Name != wanted && !below);
        });
        WriteFile(list, before);
        std::u16string names = WideList({wanted});
        EXPECT_EQ(DeleteFilesW(path.data(), names.data()), E_SUCCESS);
        EXPECT_EQ(ReadFile(list), after);
    }
}

// Under either conventions: what was listed, deleted, leaves only what lists nothing.
TEST(DeleteTable, DeletingWhatWasListedLeavesNoEntry) {
    std::string dir = TestFolder(), list = dir + "/list.m3u";
    const std::string before = TablePlaylist([](const LineName& row) { return !row.Name.empty(); });
    WriteFile(list, before);
    std::u16string path = WidePath(list);
    tOpenArchiveDataW open = {&path[0], 0, 0, nullptr, 0, 0, 0};
    void* handle = OpenArchiveW(&open);
    ASSERT_NE(handle, nullptr);
    std::vector<std::u16string> listed;
    tHeaderDataExW header = {};
    while (ReadHeaderExW(handle, &header) == 0) {
        listed.push_back(header.FileName);
    }
    CloseArchive(handle);
    EXPECT_EQ(listed.size(), std::count_if(WindowsNameTable.begin(), WindowsNameTable.end(),
                                           [](const LineName& row) { return !row.Name.empty(); }));
    std::u16string names = WideList(listed);
    EXPECT_EQ(DeleteFilesW(path.data(), names.data()), E_SUCCESS);
    EXPECT_EQ(ReadFile(list), AsWritten(before, "#EXTM3U\r\n\r\n\r\n#EXTGRP:end\r\n"));
}

} // namespace
