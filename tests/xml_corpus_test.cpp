// The XML playlists of tests/formats-corpus (written by other programs; SOURCES.tsv says where
// each comes from): what each lists, and round trips through the writers on each of them and on
// files of every shape, checked with a plain XML parser.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/xml_support.h"

namespace {

namespace fs = std::filesystem;

std::string CorpusFile(const std::string& name) {
    return ReadFile(std::string(M3U_XML_CORPUS_DIR) + "/" + name);
}

const XmlNewEntry Relative = {"a b/c&d.mp3", "T", "C", 1000};
#ifdef M3U_LINUX_HOST
const XmlNewEntry Absolute = {"/home/u/\xCE\xA9.mp3", nullptr, nullptr, -1};
#else
const XmlNewEntry Absolute = {"C:\\Music\\\xCE\xA9.mp3", nullptr, nullptr, -1};
#endif

// How a new entry lists again after a pack.
std::string Listed(const XmlNewEntry& entry, PlaylistFormat format) {
    std::string path = entry.Path;
    if (format == FormatWpl) {
        for (char& c : path) {
            c = c == '/' ? '\\' : c;
        }
    } else if (format == FormatXspf && path[0] == '/') {
        path = "file:///home/u/%CE%A9.mp3";
    } else if (format == FormatXspf && path[1] == ':') {
        path = "file:///C:/Music/%CE%A9.mp3";
    }
    return path;
}

// The bytes without the spans of the entries removed.
std::string Cut(const std::string& bytes, const XmlPlaylist& p, const std::vector<bool>& remove) {
    std::string kept;
    size_t pos = 0;
    for (size_t i = 0; i < p.Count; ++i) {
        if (remove[i]) {
            kept += bytes.substr(pos, p.Entries[i].Start - pos);
            pos = p.Entries[i].End;
        }
    }
    return kept + bytes.substr(pos);
}

// A WPL's ItemCount made `count`, where the file has one.
std::string WithItemCount(std::string bytes, size_t count) {
    const std::string key = "name=\"ItemCount\" content=\"";
    size_t at = bytes.find(key);
    if (at != std::string::npos) {
        at += key.size();
        bytes.replace(at, bytes.find('"', at) - at, std::to_string(count));
    }
    return bytes;
}

// Every round trip on one file the module reads whole.
void RoundTrips(const std::string& bytes, const std::string& what) {
    SCOPED_TRACE(what);
    Parsed p(bytes);
    ASSERT_TRUE(p.P.Whole);
    const PlaylistFormat format = p.P.Format;
    const Strings before = Locations(p.P);
    std::string out;
    // Untouched: byte for byte.
    EXPECT_TRUE(WriteWithout(p.P, bytes, std::vector<bool>(p.P.Count, false), &out));
    EXPECT_EQ(out, bytes);
    EXPECT_TRUE(WriteWith(p.P, bytes, {}, &out));
    EXPECT_EQ(out, bytes);
    // Every entry deleted: none left, the rest byte for byte (ItemCount aside).
    const std::vector<bool> all(p.P.Count, true);
    ASSERT_TRUE(WriteWithout(p.P, bytes, all, &out));
    bool vlc = false; // VLC's list loses its items too
    for (size_t i = 0; i < p.P.Count; ++i) {
        vlc |= p.P.Entries[i].VlcId >= 0;
    }
    if (!vlc) {
        EXPECT_EQ(out, WithItemCount(Cut(bytes, p.P, all), 0));
    }
    EXPECT_TRUE(WellFormed(out, format)) << Show(out);
    {
        Parsed again(out);
        EXPECT_TRUE(again.P.Whole);
        EXPECT_EQ(again.P.Count, 0u) << Show(out);
    }
    // Every other entry deleted: the others list, in order.
    std::vector<bool> odd(p.P.Count);
    Strings rest;
    for (size_t i = 0; i < p.P.Count; ++i) {
        odd[i] = i % 2 == 1;
        if (!odd[i]) {
            rest.push_back(before[i]);
        }
    }
    ASSERT_TRUE(WriteWithout(p.P, bytes, odd, &out));
    EXPECT_TRUE(WellFormed(out, format)) << Show(out);
    {
        Parsed again(out);
        EXPECT_EQ(Locations(again.P), rest) << Show(out);
    }
    // Packed: the new entries list after the others.
    ASSERT_TRUE(WriteWith(p.P, bytes, {Relative, Absolute}, &out));
    EXPECT_TRUE(WellFormed(out, format)) << Show(out);
    Parsed packed(out);
    Strings expected = before;
    expected.push_back(Listed(Relative, format));
    expected.push_back(Listed(Absolute, format));
    EXPECT_TRUE(packed.P.Whole);
    EXPECT_EQ(packed.P.Encoding, p.P.Encoding);
    EXPECT_EQ(Locations(packed.P), expected) << Show(out);
    // And the new ones deleted again: every entry the file had lists as before.
    std::vector<bool> added(packed.P.Count, false);
    added[added.size() - 1] = added[added.size() - 2] = true;
    std::string back;
    ASSERT_TRUE(WriteWithout(packed.P, out, added, &back));
    Parsed again(back);
    EXPECT_EQ(Locations(again.P), before);
}

struct CorpusCase {
    std::string File;
    PlaylistFormat Format;
    bool Whole;
    size_t Count;     // entries
    size_t Listed;    // entries that name something
    std::string Last; // the last that does, or its start
};

TEST(XmlCorpus, ListsAndRoundTrips) {
    const std::vector<CorpusCase> cases = {
        {"xspf/amarok-test.xspf", FormatXspf, true, 23, 23,
         "http://he3.magnatune.com/all/11--Trash%20Bag--Arthur%20Yoria.ogg"},
        {"xspf/amarok-test2.xspf", FormatXspf, true, 24, 24, "../audio/Plätz 10.mp3"},
        {"xspf/clementine-test.xspf", FormatXspf, true, 1, 1, "http://example.com/foo.mp3"},
        {"xspf/totem-decrypted-amazon-track.xspf", FormatXspf, true, 2, 2,
         "http://www.amazon.co.uk/gp/dmusic/media/log_action.mp3/"},
        {"xspf/totem-new-lastfm-output.xspf", FormatXspf, true, 1, 1,
         "http://play.last.fm/user/6a6f102641afeff59b14dfaea19cf0a5.mp3"},
        {"xspf/totem-old-lastfm-output.xspf", FormatXspf, true, 1, 1,
         "http://play.last.fm/user/78c01bd77418a90b5452eb089da642e9.mp3"},
        {"xspf/totem-playlist.xspf", FormatXspf, true, 1, 1,
         "http://207.200.96.226:8000 extraparam=1"},
        {"xspf/totem-remote_xspf.php.xspf", FormatXspf, true, 19, 19,
         "http://www0.c00928.cdn.qbrick.com/00928/kluster/20090803/PR-2009-0803-PEDGDYKA.flv"},
        {"xspf/totem-xml-base.xspf", FormatXspf, true, 1, 1, "three/four"},
        {"xspf/xiphtc-fail-playlist-missingtracklist.xspf", FormatXspf, true, 0, 0, ""},
        {"xspf/xiphtc-fail-playlist-namespace-missing.xspf", FormatXspf, true, 0, 0, ""},
        {"xspf/xiphtc-fail-playlist-root-name.xspf", FormatUnknown, false, 0, 0, ""},
        {"xspf/xiphtc-fail-track-markup-title.xspf", FormatXspf, true, 1, 0, ""},
        {"xspf/xiphtc-fail-track-nonleaf-content.xspf", FormatXspf, true, 1, 0, ""},
        {"xspf/xiphtc-pass-playlist-broken-relative-paths.xspf", FormatXspf, true, 3, 3,
         "./03-Jack Man.flac"},
        {"xspf/xiphtc-pass-playlist-extensive.xspf", FormatXspf, true, 0, 0, ""},
        {"xspf/xiphtc-pass-playlist-inverted-order.xspf", FormatXspf, true, 0, 0, ""},
        {"xspf/xiphtc-pass-playlist-namespace-nested-proper.xspf", FormatXspf, true, 0, 0, ""},
        {"xspf/xiphtc-pass-playlist-namespace-nondefault.xspf", FormatXspf, true, 0, 0, ""},
        {"xspf/xiphtc-pass-playlist-relative-paths.xspf", FormatXspf, true, 3, 3,
         "./03-Jack Man.flac"},
        {"xspf/xiphtc-pass-playlist-xml-base.xspf", FormatXspf, true, 1, 1, "bar"},
        {"xspf/xiphtc-pass-track-empty-title.xspf", FormatXspf, true, 1, 0, ""},
        {"xspf/xiphtc-pass-track-extension.xspf", FormatXspf, true, 1, 0, ""},
        {"xspf/xiphtc-pass-track-extensive.xspf", FormatXspf, true, 1, 1,
         "http://example.com/my.mp3"},
        {"xspf/xiphtc-pass-track-inverted-order.xspf", FormatXspf, true, 1, 1,
         "http://example.com/"},
        {"xspf/xiphtc-pass-track-noturi-location.xspf", FormatXspf, true, 1, 1,
         "This should be a URI"},
        {"xspf/xiphtc-pass-track-whitespace-anyURI.xspf", FormatXspf, true, 1, 1,
         "http://example.com/no_whitespace/"},
        {"xspf/xiphtc-pass-track-whitespace-in-between.xspf", FormatXspf, true, 1, 0, ""},
        {"wpl/playlistsnet-2seq.wpl", FormatWpl, true, 4, 4,
         "D:\\Tak to Było\\29-05-2010\\Brotherhood of Man - Save Your Kisses For Me.wav"},
        {"wpl/playlistsnet-2seqoutput.wpl", FormatWpl, true, 3, 3,
         "D:\\Tak to Było\\29-05-2010\\Brotherhood of Man - Save Your Kisses For Me.wav"},
        {"wpl/playlistsnet-2seqoutputTest.wpl", FormatWpl, true, 3, 3,
         "D:\\Tak to Było\\29-05-2010\\Brotherhood of Man - Save Your Kisses For Me.wav"},
        {"wpl/playlistsnet-Empty.wpl", FormatWpl, true, 0, 0, ""},
        {"wpl/playlistsnet-Empty.zpl", FormatWpl, true, 0, 0, ""},
        {"wpl/playlistsnet-Playlist.wpl", FormatWpl, true, 2, 2,
         "D:\\Muzyka\\Eurowizja\\Eurowizja 2014\\Elaiza - Is It Right.mp3"},
        {"wpl/playlistsnet-Playlist.zpl", FormatWpl, true, 2, 2,
         "D:\\Muzyka\\Eurowizja\\Eurowizja 2014\\Elaiza - Is It Right.mp3"},
        {"wpl/playlistsnet-Playlist2.wpl", FormatWpl, true, 2, 2,
         "D:\\Muzyka\\Eurowizja\\Eurowizja 2014\\Elaiza - Is It Right.mp3"},
        {"wpl/playlistsnet-Playlist2.zpl", FormatWpl, true, 2, 2,
         "D:\\Muzyka\\Eurowizja\\Eurowizja 2014\\Elaiza - Is It Right.mp3"},
        {"wpl/playlistsnet-Smart.wpl", FormatWpl, true, 0, 0, ""},
        {"wpl/playlistsnet-playlist3b.wpl", FormatWpl, true, 1, 1,
         "D:\\Muzyka\\Eurowizja\\Eurowizja 2014\\Elaiza - Is It Right.mp3"},
        {"asx/amarok-test.asx", FormatAsx, true, 1, 1, "http://85.214.44.27:8000"},
        {"asx/amarok-test2.asx", FormatAsx, true, 2, 2, "../audio/Plätz 10.mp3"},
        {"asx/clementine-secretagent.asx", FormatAsx, true, 4, 4,
         "http://ice.somafm.com/secretagent"},
        {"asx/clementine-test.asx", FormatAsx, true, 1, 1, "http://example.com/foo.mp3"},
        {"asx/totem-asf-with-asx-suffix.asx", FormatUnknown, false, 0, 0, ""},
        {"asx/totem-empty-asx.asx", FormatAsx, true, 0, 0, ""},
        {"asx/totem-pukas.wax", FormatAsx, true, 1, 1, "mms://82.135.234.195/Pukas"},
    };
    size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(fs::u8path(M3U_XML_CORPUS_DIR))) {
        files += entry.is_regular_file() && entry.path().filename() != "SOURCES.tsv" ? 1 : 0;
    }
    EXPECT_EQ(files, cases.size()) << "every file of the corpus has its row";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.File);
        const std::string bytes = CorpusFile(c.File);
        Parsed p(bytes);
        EXPECT_EQ(p.P.Format, c.Format);
        EXPECT_EQ(p.P.Whole, c.Whole);
        EXPECT_EQ(p.P.Count, c.Count);
        Strings listed;
        for (const auto& location : Locations(p.P)) {
            if (location != "-") {
                listed.push_back(location);
            }
        }
        EXPECT_EQ(listed.size(), c.Listed);
        EXPECT_EQ(listed.empty() ? "" : listed.back().substr(0, c.Last.size()), c.Last);
        if (c.Whole) {
            RoundTrips(bytes, c.File);
        } else {
            std::string out;
            EXPECT_FALSE(WriteWith(p.P, bytes, {Relative}, &out));
            EXPECT_FALSE(WriteWithout(p.P, bytes, std::vector<bool>(p.P.Count, true), &out));
        }
    }
}

// The same round trips on files of other shapes: encodings, line ends, empty containers,
// VLC's lists, one-line files.
TEST(XmlRoundTrips, FilesOfEveryShape) {
    const std::string vlc =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<playlist xmlns=\"http://xspf.org/ns/0/\" "
        "xmlns:vlc=\"http://www.videolan.org/vlc/playlist/ns/0/\" version=\"1\">\n\t<trackList>\n"
        "\t\t<track>\n\t\t\t<location>file:///a.mp3</location>\n\t\t\t<extension application="
        "\"http://www.videolan.org/vlc/playlist/0\">\n\t\t\t\t<vlc:id>0</vlc:id>\n\t\t\t</"
        "extension>"
        "\n\t\t</track>\n\t\t<track>\n\t\t\t<location>b.mp3</location>\n\t\t\t<extension "
        "application=\"http://www.videolan.org/vlc/playlist/0\">\n\t\t\t\t<vlc:id>1</vlc:id>\n"
        "\t\t\t</extension>\n\t\t</track>\n\t</trackList>\n\t<extension application=\"http://"
        "www.videolan.org/vlc/playlist/0\">\n\t\t<vlc:item tid=\"0\"/>\n\t\t<vlc:item tid=\"1\"/>\n"
        "\t</extension>\n</playlist>\n";
    const std::string xspf =
        "<playlist xmlns=\"http://xspf.org/ns/0/\"><trackList><track><location>"
        "caf\xC3\xA9.mp3</location></track><track><location>b.mp3</location>"
        "</track></trackList></playlist>";
    const std::string files[] = {
        vlc,
        xspf,
        "\xEF\xBB\xBF" + xspf,
        ToUtf16("\xEF\xBB\xBF" + vlc, true),
        ToUtf16("\xEF\xBB\xBF" + vlc, false),
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<playlist><trackList>\r\n<track>"
        "<location>\xE9.mp3</location></track>\r\n</trackList></playlist>",
        "<?xml version=\"1.0\" encoding=\"windows-1252\"?><smil><body><seq><media "
        "src=\"\x80.mp3\"/>"
        "</seq></body></smil>",
        "<playlist><trackList/></playlist>",
        "<playlist></playlist>",
        "<smil><head><meta name=\"ItemCount\" content=\"1\"/></head><body><seq><media src=\"a\"/>"
        "<media src=\"b\"/></seq><seq><media src=\"c\"/></seq></body></smil>",
        "<smil><body><seq/></body></smil>",
        "<smil><body></body></smil>",
        "<ASX version=\"3.0\"><Entry><Ref href=\"a & b\"/></entry><ENTRY><ref href=\"c\"/></Entry>"
        "</ASX>",
        "<asx>\r\n\t<repeat>\r\n\t\t<entry>\r\n\t\t\t<ref "
        "href=\"x\"/>\r\n\t\t</entry>\r\n\t</repeat>"
        "\r\n</asx>\r\n",
        "<asx><entry><ref href=\"caf\xE9\"/></entry></asx>",
        ToUtf16(
            "\xEF\xBB\xBF<ASX>\r\n <Entry><Ref HREF=\"a & b\"/><Title>x</title></entry>\r\n</asx>",
            false),
        "<asx/>",
    };
    for (const auto& file : files) {
        RoundTrips(file, Show(file));
    }
}

// A new file of each format is a minimal playlist that lists what was packed.
TEST(XmlRoundTrips, NewFiles) {
    for (PlaylistFormat format : {FormatXspf, FormatWpl, FormatAsx}) {
        XmlPlaylist none = {};
        std::string out;
        ASSERT_TRUE(WriteWith(none, "", {Relative, Absolute}, &out, format));
        EXPECT_TRUE(WellFormed(out, format)) << Show(out);
        Parsed p(out);
        EXPECT_EQ(p.P.Format, format);
        EXPECT_TRUE(p.P.Whole);
        EXPECT_EQ(Locations(p.P), (Strings{Listed(Relative, format), Listed(Absolute, format)}));
        RoundTrips(out, Show(out));
    }
    std::string out;
    XmlPlaylist none = {};
    EXPECT_FALSE(WriteWith(none, "", {Relative}, &out, FormatM3u));
}

} // namespace
