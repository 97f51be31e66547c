// Pack writes new entries the way the playlist's own entries are written: relative or absolute,
// its separator, VLC's URIs, and #EXTINF lines with the file's real length and "Artist - Title"
// where its entries carry them; a file listed in another style is not added twice.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "media/media.h"
#include "plugin/exports.h"
#include "tests/media_files.h"
#include "tests/support.h"

namespace {

namespace fs = std::filesystem;

// A path as VLC writes it in a URI.
std::string Uri(const std::string& path) {
    std::string out = path.size() > 1 && path[1] == ':' ? "file:///" : "file://";
    for (unsigned char c : path) {
        if (c == '\\' || c == '/') {
            out += '/';
        } else if (isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == ':') {
            out += static_cast<char>(c);
        } else {
            char escaped[4];
            snprintf(escaped, sizeof escaped, "%%%02X", c);
            out += escaped;
        }
    }
    return out;
}

TEST(PackStyle, NewEntriesLookLikeTheirNeighbours) {
    std::string dir = TestFolder(), sep = Host("\\");
    fs::create_directories(fs::u8path(dir + "/D/sub"));
    for (const MediaFile& f : MediaFiles()) {
        std::string name = f.Name;
        if (name == "v23.mp3" || name == "plain.mp3" || name == "notes.txt") {
            WriteFile(dir + "/D/" + name, f.Bytes);
            WriteFile(dir + "/D/sub/" + name, f.Bytes);
        }
    }
    std::string folder = NarrowPath(dir) + sep + "D" + sep, list = dir + "/D/list.m3u";
    std::string full = folder + "v23.mp3", info = "#EXTINF:2,Bj\xC3\xB6rk - Caf\xC3\xA9 del Mar";
    const std::string ext =
        "#EXTM3U\r\n#EXTINF:10,A - B\r\nold.mp3\r\n#EXTINF:20,C\r\nold2.mp3\r\n";
    struct Row {
        const char* Case;
        std::string Before;
        std::u16string Name;
        std::string Added;
    } rows[] = {
        {"a plain M3U gets a plain line", "old.mp3\r\n", u"v23.mp3", "v23.mp3\r\n"},
        {"an extended M3U gets the real length and \"Artist - Title\"", ext, u"v23.mp3",
         info + "\r\nv23.mp3\r\n"},
        {"a file without tags: its name and its length", ext, u"plain.mp3",
         "#EXTINF:2,plain\r\nplain.mp3\r\n"},
        {"neither a length nor a title: no #EXTINF", ext, u"notes.txt", "notes.txt\r\n"},
        {"#EXTINF on a few entries only: none",
         "#EXTM3U\r\n#EXTINF:1,x\r\na.mp3\r\nb.mp3\r\nc.mp3\r\n", u"v23.mp3", "v23.mp3\r\n"},
        {"absolute lines get an absolute line", folder + "x.mp3\r\n" + folder + "y.mp3\r\n",
         u"v23.mp3", full + "\r\n"},
        {"VLC's URIs get a URI", "#EXTM3U\r\n#EXTINF:1,x\r\nfile:///C:/x.mp3\r\n", u"v23.mp3",
         info + "\r\n" + Uri(full) + "\r\n"},
        {"slashes where most lines have them", "sub/x.mp3\r\nsub/y.mp3\r\n",
         u"sub" + Host(u"\\") + u"v23.mp3", "sub/v23.mp3\r\n"},
        {"backslashes where most lines have them", "sub\\x.mp3\r\nsub\\y.mp3\r\n",
         u"sub" + Host(u"\\") + u"v23.mp3", "sub\\v23.mp3\r\n"},
        // Listed in another style: the same file, not added twice.
        {"listed by its full path", "x.mp3\r\ny.mp3\r\n" + full + "\r\n", u"v23.mp3", ""},
        {"listed as a URI", "x.mp3\r\n" + Uri(full) + "\r\n", u"v23.mp3", ""},
        {"listed relative in an absolute playlist",
         folder + "x.mp3\r\n" + folder + "y.mp3\r\nv23.mp3\r\n", u"v23.mp3", ""},
    };
    std::u16string playlist = WidePath(list), source = WidePath(dir + "/D") + HostSeparator();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.Case);
        WriteFile(list, r.Before);
        std::u16string names = WideList({r.Name});
        ASSERT_EQ(PackFilesW(&playlist[0], nullptr, &source[0], &names[0], 0), 0);
        EXPECT_EQ(ReadFile(list), AsWritten(r.Before, r.Before + r.Added, r.Before.size()));
    }
}

// A new M3U playlist is an extended one: #EXTM3U first, #EXTINF where a file's headers give a
// length or a title, none for a file that gives neither.
TEST(PackStyle, NewPlaylistIsExtended) {
    std::string dir = TestFolder();
    for (const MediaFile& f : MediaFiles()) {
        WriteFile(dir + "/" + f.Name, f.Bytes);
    }
    std::string list = dir + "/new.m3u";
    std::u16string playlist = WidePath(list), source = WidePath(dir) + HostSeparator();
    std::u16string names = WideList({u"v23.mp3", u"notes.txt", u"plain.mp3"});
    ASSERT_EQ(PackFilesW(&playlist[0], nullptr, &source[0], &names[0], 0), 0);
    EXPECT_EQ(ReadFile(list),
              AsWritten("", "#EXTM3U\r\n#EXTINF:2,Bj\xC3\xB6rk - Caf\xC3\xA9 del Mar\r\n"
                            "v23.mp3\r\nnotes.txt\r\n#EXTINF:2,plain\r\nplain.mp3\r\n"));
}

// The other formats: each new entry carries what most of its neighbours carry, and is written
// by its path in their form. Expected pieces are looked for in the new text, the old text kept.
TEST(PackStyle, OtherFormatsCarryWhatTheirEntriesCarry) {
    std::string dir = TestFolder(), sep = Host("\\");
    for (const MediaFile& f : MediaFiles()) {
        WriteFile(dir + "/" + f.Name, f.Bytes);
    }
    std::string folder = NarrowPath(dir) + sep;
    MediaInfo info;
    ASSERT_TRUE(ReadMediaInfo(WidePath(dir + "/v23.mp3").c_str(), &info));
    const std::string title = "Caf\xC3\xA9 del Mar", artist = "Bj\xC3\xB6rk";
    const std::string ms = std::to_string(info.Milliseconds);
    const std::string xspfHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<playlist "
                                 "version=\"1\" xmlns=\"http://xspf.org/ns/0/\">\n  <trackList>\n";
    auto track = [](const std::string& inside) {
        return "    <track>\n      <location>old.mp3</location>\n" + inside + "    </track>\n";
    };
    const std::string xspfTail = "  </trackList>\n</playlist>\n";
    struct Row {
        const char* Case;
        const char* File;
        std::string Before;
        std::vector<std::string> Has, HasNot; // in the text after the pack
    } rows[] = {
        {"PLS with titles: TitleN and LengthN, NumberOfEntries right",
         "t.pls",
         "[playlist]\r\nFile1=old.mp3\r\nTitle1=A - B\r\nLength1=10\r\nNumberOfEntries=1\r\n"
         "Version=2\r\n",
         {"Length1=10\r\nFile2=v23.mp3\r\nTitle2=" + artist + " - " + title +
          "\r\nLength2=2\r\nNumberOfEntries=2\r\n"},
         {}},
        {"PLS keys in lower case: the new ones too",
         "l.pls",
         "[playlist]\nfile1=old.mp3\ntitle1=B\nlength1=10\n",
         {"file2=v23.mp3\ntitle2=" + artist + " - " + title + "\nlength2=2\n"},
         {}},
        {"PLS without titles: FileN alone",
         "p.pls",
         "[playlist]\r\nFile1=old.mp3\r\nNumberOfEntries=1\r\n",
         {"File2=v23.mp3\r\nNumberOfEntries=2\r\n"},
         {"Title2", "Length2"}},
        {"PLS: a file without tags gets its name and length",
         "n.pls",
         "[playlist]\r\nFile1=old.mp3\r\nTitle1=B\r\nLength1=10\r\n",
         {"File2=plain.mp3\r\nTitle2=plain\r\nLength2=2\r\n"},
         {}},
        {"PLS of full paths: a full path",
         "a.pls",
         "[playlist]\r\nFile1=" + folder + "x.mp3\r\nFile2=" + folder + "y.mp3\r\n",
         {"File3=" + folder + "v23.mp3\r\n"},
         {}},
        {"XSPF with durations: duration in milliseconds, title and creator",
         "d.xspf",
         xspfHead +
             track("      <title>B</title>\n      <creator>A</creator>\n      "
                   "<duration>10000</duration>\n") +
             xspfTail,
         {"<location>v23.mp3</location>", "<title>" + title + "</title>",
          "<creator>" + artist + "</creator>", "<duration>" + ms + "</duration>"},
         {}},
        {"XSPF of locations alone: nothing more",
         "p.xspf",
         xspfHead + track("") + xspfTail,
         {"<location>v23.mp3</location>"},
         {title, "<duration>"}},
        {"ASX with titles: a title",
         "t.asx",
         "<asx version=\"3.0\">\r\n  <entry>\r\n    <ref href=\"old.mp3\"/>\r\n    "
         "<title>B</title>\r\n  </entry>\r\n</asx>\r\n",
         {"<ref href=\"v23.mp3\"/>", "<title>" + title + "</title>"},
         {"<duration>"}},
        {"WPL: nothing beyond src",
         "w.wpl",
         "<?wpl version=\"1.0\"?>\r\n<smil>\r\n    <body>\r\n        <seq>\r\n            "
         "<media src=\"old.mp3\"/>\r\n        </seq>\r\n    </body>\r\n</smil>\r\n",
         {"<media src=\"v23.mp3\"/>"},
         {title}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.Case);
        std::string list = dir + "/" + r.File;
        WriteFile(list, r.Before);
        std::u16string playlist = WidePath(list), source = WidePath(dir) + HostSeparator();
        std::u16string names =
            WideList({r.Has[0].find("plain") != std::string::npos ? u"plain.mp3" : u"v23.mp3"});
        ASSERT_EQ(PackFilesW(&playlist[0], nullptr, &source[0], &names[0], 0), 0);
        std::string now = ReadFile(list);
        for (const std::string& piece : r.Has) {
            EXPECT_NE(now.find(piece), std::string::npos) << piece << "\nin\n" << now;
        }
        for (const std::string& piece : r.HasNot) {
            EXPECT_EQ(now.find(piece), std::string::npos) << piece << "\nin\n" << now;
        }
    }
}

#ifndef _WIN32
// A player reads back what pack wrote: mpv shows a packed extended M3U's #EXTINF titles as its
// entries' titles. Skipped where mpv is not installed; no audio or video output is opened.
TEST(PackStyle, MpvReadsBackThePackedTitles) {
    if (system("command -v mpv >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "mpv is not installed";
    }
    std::string dir = TestFolder();
    for (const MediaFile& f : MediaFiles()) {
        WriteFile(dir + "/" + f.Name, f.Bytes);
    }
    std::string list = dir + "/mpv.m3u";
    std::u16string playlist = WidePath(list), source = WidePath(dir) + HostSeparator();
    std::u16string names = WideList({u"v23.mp3", u"plain.mp3"});
    ASSERT_EQ(PackFilesW(&playlist[0], nullptr, &source[0], &names[0], 0), 0);
    std::string command = "cd '" + dir +
                          "' && timeout 30 mpv --no-config --ao=null --vo=null --idle=no "
                          "--length=0.01 "
                          "'--term-playing-msg=T:${playlist/0/title}|${playlist/1/title}' "
                          "mpv.m3u 2>&1";
    FILE* out = popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string said;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, out)) > 0;) {
        said.append(buffer, n);
    }
    pclose(out);
    EXPECT_NE(said.find("T:Bj\xC3\xB6rk - Caf\xC3\xA9 del Mar|plain"), std::string::npos) << said;
}
#endif

} // namespace
