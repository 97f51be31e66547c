// Pack writes new entries the way the playlist's own entries are written: relative or absolute,
// its separator, VLC's URIs, and #EXTINF lines with the file's real length and "Artist - Title"
// where its entries carry them; a file listed in another style is not added twice.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

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

} // namespace
