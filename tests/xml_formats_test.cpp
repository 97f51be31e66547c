// XSPF, WPL and ASX over bytes: which format, what each entry names and where its text lies,
// and what delete and pack write (tests/xml_support.h has the helpers).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/xml_support.h"

namespace {

using namespace std::string_literals;

const std::string Xspf = "<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\">";
const std::string Bom8 = "\xEF\xBB\xBF";

TEST(XmlSniff, FormatByContent) {
    const struct {
        std::string Bytes;
        PlaylistFormat Format;
    } cases[] = {
        {"<?xml version=\"1.0\"?>\n" + Xspf + "</playlist>", FormatXspf},
        {Bom8 + "  \r\n<playlist/>", FormatXspf},
        {Utf16Le(u"\uFEFF<playlist/>"), FormatXspf},
        {Utf16Be(u"\uFEFF<x:playlist/>"), FormatXspf},
        {Utf16Le(u"<playlist/>"), FormatXspf}, // no mark: Expat tells UTF-16 by the '<'
        {"<!-- made by hand --><!DOCTYPE playlist [ <!ELEMENT x ANY> ]><myns:playlist/>",
         FormatXspf},
        {"<Playlist/>", FormatUnknown}, // XSPF's names have their case
        {"<?wpl version=\"1.0\"?><smil/>", FormatWpl},
        {"<?zpl version=\"2.0\"?>", FormatWpl},
        {"<SMIL><body/></SMIL>", FormatWpl},
        {"<ASX version=\"3.0\">", FormatAsx},
        {"\n\t<Asx>", FormatAsx},
        {"<html><body/></html>", FormatUnknown},
        {"<?xml version=\"1.0\"?>", FormatUnknown}, // XML, but no root in what was read
        {"<?xml version=\"1.0\"?><!-- a comment that never ends", FormatUnknown},
        {"0&\xB2u\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"s, FormatUnknown}, // ASF
        {"#EXTM3U\n<a.mp3\n", FormatM3u},
        {"[playlist]\nFile1=a.mp3\n", FormatM3u},
        {"", FormatM3u},
        {"   \n", FormatM3u},
        {"<3 songs.mp3\n", FormatM3u},
        {Utf16Le(u"\uFEFF#EXTM3U\n"), FormatM3u},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SniffXmlFormat(Bytes(c.Bytes), c.Bytes.size()), c.Format) << Show(c.Bytes);
    }
}

struct ReadCase {
    std::string Bytes;
    bool Whole;
    Strings Locations; // "-": the entry names nothing
    std::string FirstSpan = "";
};

void ExpectRead(const ReadCase& c) {
    Parsed p(c.Bytes);
    EXPECT_EQ(p.P.Whole, c.Whole) << Show(c.Bytes);
    EXPECT_EQ(Locations(p.P), c.Locations) << Show(c.Bytes);
    if (!c.FirstSpan.empty() && p.P.Count) {
        EXPECT_EQ(c.Bytes.substr(p.P.Entries[0].Start, p.P.Entries[0].End - p.P.Entries[0].Start),
                  c.FirstSpan)
            << Show(c.Bytes);
    }
}

std::string InXspf(const std::string& tracks, const std::string& base = "") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<playlist version=\"1\"" +
           (base.empty() ? "" : " xml:base=\"" + base + "\"") +
           " xmlns=\"http://xspf.org/ns/0/\">\n  <trackList>\n" + tracks +
           "  </trackList>\n</playlist>\n";
}

std::string Track(const std::string& location) {
    return "    <track><location>" + location + "</location></track>\n";
}

TEST(XmlRead, Xspf) {
    const std::vector<ReadCase> cases = {
        {InXspf(Track("a%20b.mp3") + Track("../Jazz/%C3%A9t%C3%A9.flac") +
                Track("file:///C:/x%20y.mp3")),
         true,
         {"a b.mp3", "../Jazz/été.flac", "file:///C:/x%20y.mp3"},
         "    <track><location>a%20b.mp3</location></track>\n"},
        // Decoding that would give no text, or no valid UTF-8, leaves the reference as written.
        {InXspf(Track("100%.mp3") + Track("a%00b.mp3") + Track("a%FFb.mp3") + Track("%4")),
         true,
         {"100%.mp3", "a%00b.mp3", "a%FFb.mp3", "%4"}},
        // xml:base on the playlist, the trackList and the track, and on the location itself.
        {"<playlist xml:base=\"one/\"><trackList xml:base=\"two/\"><track "
         "xml:base=\"../../three/\">"
         "<location>four</location></track><track><location xml:base=\"http://h/m/\">"
         "x%20y.ogg</location></track><track><location>/abs.mp3</location></track>"
         "</trackList></playlist>",
         true,
         {"three/four", "http://h/m/x%20y.ogg", "/abs.mp3"}},
        {InXspf(Track("../b.mp3") + Track("//other/c.mp3") + Track("/d.mp3"), "http://h/a/x.xspf"),
         true,
         {"http://h/b.mp3", "http://other/c.mp3", "http://h/d.mp3"}},
        {InXspf(Track("../../b.mp3"), "one/"), true, {"../b.mp3"}},
        // The first location of a track counts, trimmed; one cut over lines names nothing.
        {InXspf("    <track>\n      <location>\n\t first.mp3 \n</location>\n      "
                "<location>second.mp3</location>\n    </track>\n" +
                Track("http://h/\nline_two/") + "    <track><title>no location</title></track>\n"),
         true,
         {"first.mp3", "-", "-"},
         "    <track>\n      <location>\n\t first.mp3 \n</location>\n      "
         "<location>second.mp3</location>\n    </track>\n"},
        // Names by their local part; tracks count only in the playlist's trackList.
        {"<x:playlist xmlns:x=\"http://xspf.org/ns/0/\"><x:trackList><x:track><x:location>a.mp3"
         "</x:location><x:extension application=\"e\"><track><location>no.mp3</location></track>"
         "</x:extension></x:track></x:trackList><extension><trackList><track><location>no.mp3"
         "</location></track></trackList></extension></x:playlist>",
         true,
         {"a.mp3"}},
        {"<playlist><trackList><track><location><![CDATA[a&b.mp3]]></location></track>"
         "<track><location>c&amp;d&#x20;&#233;.mp3</location></track></trackList></playlist>",
         true,
         {"a&b.mp3", "c&d é.mp3"}},
        // Not well-formed: what was read before the fault lists, and nothing is rewritten.
        {InXspf(Track("a.mp3") + Track("b.mp3") + "    <track><location>c.mp3</track>\n"),
         false,
         {"a.mp3", "b.mp3", "-"}},
        {InXspf(Track("a.mp3")) + "<junk/>", false, {"a.mp3"}},
        {InXspf(Track("a.mp3")).substr(0, 150), false, {"a.mp3"}},
        // A declared entity could hide entries: refused at its declaration.
        {"<!DOCTYPE playlist [<!ENTITY t \"<track><location>e.mp3</location></track>\">]>"
         "<playlist><trackList>&t;</trackList></playlist>",
         false,
         {}},
        {"<!DOCTYPE playlist SYSTEM \"x.dtd\"><playlist><trackList><track><location>&ext;"
         "</location></track></trackList></playlist>",
         false,
         {"-"}},
    };
    for (const auto& c : cases) {
        ExpectRead(c);
    }
}

std::string InWpl(const std::string& body, const std::string& itemCount = "9") {
    return "<?wpl version=\"1.0\"?>\r\n<smil>\r\n    <head>\r\n        <meta name=\"ItemCount\" "
           "content=\"" +
           itemCount + "\"/>\r\n    </head>\r\n    <body>\r\n" + body +
           "    </body>\r\n</smil>\r\n";
}

TEST(XmlRead, Wpl) {
    const std::vector<ReadCase> cases = {
        {InWpl(
             "        <seq>\r\n            <media src=\"..\\a &amp; b.mp3\" tid=\"{1}\"/>\r\n"
             "        </seq>\r\n        <seq>\r\n            <smartPlaylist/>\r\n        </seq>\r\n"
             "        <seq>\r\n            <media src=\"D:\\M\\c.wma\"/>\r\n            "
             "<media/>\r\n"
             "        </seq>\r\n"),
         true,
         {"..\\a & b.mp3", "D:\\M\\c.wma", "-"},
         "            <media src=\"..\\a &amp; b.mp3\" tid=\"{1}\"/>\r\n"},
        // Names in any case, as players compare them; media outside a seq is no entry.
        {"<SMIL><Body><Seq><MEDIA src=\"\\\\server\\share\\x.mp3\"/></Seq><media src=\"no.mp3\"/>"
         "</Body></SMIL>",
         true,
         {"\\\\server\\share\\x.mp3"},
         "<MEDIA src=\"\\\\server\\share\\x.mp3\"/>"},
        {"<?wpl version=\"1.0\"?><html/>", false, {}},
        {InWpl("<seq><media src=\"a & b.mp3\"/></seq>"), false, {}},
    };
    for (const auto& c : cases) {
        ExpectRead(c);
    }
}

TEST(XmlRead, Asx) {
    const std::vector<ReadCase> cases = {
        // Names in any case, end tags in another case, entries in repeat, entryref.
        {"<ASX version=\"3.0\">\r\n<Entry>\r\n<Ref HREF = \"http://h/a?x=1&y=2\"/>\r\n"
         "<REF href=\"http://h/fallback\"/>\r\n</entry>\r\n<repeat count=\"2\">\r\n\t<entry><ref "
         "href=\"b c.mp3\"/></ENTRY>\r\n</Repeat>\r\n<EntryRef href=\"more.asx\"/>\r\n"
         "<entry><title>no ref</title></entry></asx>\r\n",
         true,
         {"http://h/a?x=1&y=2", "b c.mp3", "more.asx", "-"},
         "<Entry>\r\n<Ref HREF = \"http://h/a?x=1&y=2\"/>\r\n<REF href=\"http://h/fallback\"/>\r\n"
         "</entry>\r\n"},
        // A bare '&' in text, references kept, unknown names left as written.
        {"<asx><entry><title>Tom & Jerry &nbsp;</title><ref href=\"a&amp;b%20c&#46;mp3\"/></entry>"
         "</asx>",
         true,
         {"a&b c.mp3"}},
        {"<asx><base href=\"http://radio/x/\"/><entry><ref href=\"s.pls\"/></entry><entry><base "
         "href=\"mms://o/\"/><ref href=\"t\"/></entry></asx>",
         true,
         {"http://radio/x/s.pls", "mms://o/t"}},
        // Latin-1 bytes without a declaration.
        {"<asx><entry><ref href=\"caf\xE9.mp3\"/></entry></asx>", true, {"café.mp3"}},
        // Beyond the tolerances: an unquoted value, a missing end tag.
        {"<asx><entry><ref href=a.mp3/></entry></asx>", false, {"-"}},
        {"<asx><entry><ref href=\"a.mp3\"/></entry>", false, {"a.mp3"}},
    };
    for (const auto& c : cases) {
        ExpectRead(c);
    }
}

TEST(XmlRead, Encodings) {
    const std::string track = Track("caf%C3%A9 \xE2\x82\xAC.mp3");
    const struct {
        std::string Bytes;
        XmlEncoding Encoding;
        bool Whole;
        Strings Locations;
    } cases[] = {
        {InXspf(track), XmlUtf8, true, {"café €.mp3"}},
        {Bom8 + InXspf(track), XmlUtf8, true, {"café €.mp3"}},
        {Utf16Le(u"\uFEFF") + ToUtf16(InXspf(track), true), XmlUtf16Le, true, {"café €.mp3"}},
        {Utf16Be(u"\uFEFF") + ToUtf16(InXspf(track), false), XmlUtf16Be, true, {"café €.mp3"}},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><playlist><trackList><track><location>"
         "\xE9t\xE9.mp3</location></track></trackList></playlist>",
         XmlLatin1,
         true,
         {"été.mp3"}},
        {"<?xml version='1.0' encoding='windows-1252'?><playlist><trackList><track><location>"
         "\x80\x99.mp3</location></track></trackList></playlist>",
         XmlCp1252,
         true,
         {"€™.mp3"}},
        {"<?xml version=\"1.0\" encoding=\"KOI8-R\"?><playlist><trackList><track><location>"
         "\xC1.mp3</location></track></trackList></playlist>",
         XmlUtf8,
         false,
         {}},
        {InXspf(Track("caf\xE9.mp3")), XmlUtf8, false, {"-"}}, // UTF-8 declared, Latin-1 bytes
    };
    for (const auto& c : cases) {
        Parsed p(c.Bytes);
        EXPECT_EQ(p.P.Encoding, c.Encoding) << Show(c.Bytes);
        EXPECT_EQ(p.P.Whole, c.Whole) << Show(c.Bytes);
        EXPECT_EQ(Locations(p.P), c.Locations) << Show(c.Bytes);
    }
}

// Files built to hurt a parser answer at once, with nothing to rewrite or a bounded result.
TEST(XmlRead, HostileFiles) {
    std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE playlist [<!ENTITY l0 \"ha\">";
    for (int i = 1; i < 10; ++i) {
        std::string prev = "&l" + std::to_string(i - 1) + ";";
        laughs += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) {
            laughs += prev;
        }
        laughs += "\">";
    }
    laughs += "]><playlist><trackList><track><location>&l9;</location></track></trackList>"
              "</playlist>";
    std::string deep = "<playlist><trackList>";
    for (int i = 0; i < 100000; ++i) {
        deep += "<track>";
    }
    std::string attribute = "<playlist xml:base=\"" + std::string(1 << 20, 'a') +
                            "/\"><trackList><track><location>x.mp3</location></track>"
                            "</trackList></playlist>";
    std::string text = InXspf(Track(std::string(1 << 20, 'b')) + Track("c.mp3"));
    const struct {
        std::string Bytes;
        bool Whole;
        Strings Locations;
    } cases[] = {
        {laughs, false, {}},
        {deep, false, {"-"}},
        {attribute, true, {"-"}},
        {text, true, {"-", "c.mp3"}},
    };
    for (const auto& c : cases) {
        auto start = std::chrono::steady_clock::now();
        Parsed p(c.Bytes);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        EXPECT_EQ(p.P.Whole, c.Whole) << Show(c.Bytes.substr(0, 80));
        EXPECT_EQ(Locations(p.P), c.Locations) << Show(c.Bytes.substr(0, 80));
    }
}

struct WriteCase {
    std::string Before;
    std::vector<XmlNewEntry> Added;
    std::string After;
};

const XmlNewEntry Plain = {"a b/c&d.mp3", nullptr, nullptr, -1};
const XmlNewEntry Full = {"x.mp3", "T<1>", "Me", 61000};
#ifdef M3U_LINUX_HOST
const XmlNewEntry Absolute = {"/home/u/Ω.mp3", nullptr, nullptr, -1};
const std::string AbsoluteUri = "file:///home/u/%CE%A9.mp3";
#else
const XmlNewEntry Absolute = {"C:\\Music\\Ω.mp3", nullptr, nullptr, -1};
const std::string AbsoluteUri = "file:///C:/Music/%CE%A9.mp3";
#endif

TEST(XmlWrite, PackLooksLikeTheNeighbours) {
    const std::string vlcHead =
        "<playlist xmlns=\"http://xspf.org/ns/0/\" xmlns:vlc=\"http://www.videolan.org/vlc/"
        "playlist/ns/0/\" version=\"1\">\n\t<trackList>\n\t\t<track>\n\t\t\t<location>"
        "file:///a.mp3</location>\n\t\t\t<extension application=\"http://www.videolan.org/vlc/"
        "playlist/0\">\n\t\t\t\t<vlc:id>4</vlc:id>\n\t\t\t</extension>\n\t\t</track>\n";
    const std::string vlcTail = "\t</trackList>\n\t<extension application=\"http://www.videolan.org"
                                "/vlc/playlist/0\">\n\t\t<vlc:item tid=\"4\"/>\n";
    const std::vector<WriteCase> cases = {
        {InXspf("    <track>\n      <location>a.mp3</location>\n      <title>A</title>\n    "
                "</track>\n"),
         {Plain, Full, Absolute},
         InXspf("    <track>\n      <location>a.mp3</location>\n      <title>A</title>\n    "
                "</track>\n    <track>\n      <location>a%20b/c%26d.mp3</location>\n    </track>\n"
                "    <track>\n      <location>x.mp3</location>\n      <title>T&lt;1&gt;</title>\n"
                "    </track>\n    <track>\n      <location>" +
                AbsoluteUri + "</location>\n    </track>\n")},
        // VLC's list: the next id and its item.
        {vlcHead + vlcTail + "\t</extension>\n</playlist>\n",
         {Plain},
         vlcHead +
             "\t\t<track>\n\t\t\t<location>a%20b/c%26d.mp3</location>\n\t\t\t<extension "
             "application=\"http://www.videolan.org/vlc/playlist/0\">\n\t\t\t\t<vlc:id>5</vlc:id>"
             "\n\t\t\t</extension>\n\t\t</track>\n" +
             vlcTail + "\t\t<vlc:item tid=\"5\"/>\n\t</extension>\n</playlist>\n"},
        // Under xml:base the new reference climbs back to the playlist's folder.
        {"<playlist><trackList xml:base=\"m/n/\"><track><location>a</location></track></trackList>"
         "</playlist>",
         {Plain},
         "<playlist><trackList xml:base=\"m/n/\"><track><location>a</location></track><track>"
         "<location>../../a%20b/c%26d.mp3</location></track></trackList></playlist>"},
        {"<playlist><trackList xml:base=\"m//n/\"><track><location>a</location></track>"
         "</trackList></playlist>",
         {Plain},
         "<playlist><trackList xml:base=\"m//n/\"><track><location>a</location></track><track>"
         "<location>../../a%20b/c%26d.mp3</location></track></trackList></playlist>"},
        {"<playlist><trackList xml:base=\"m/n?q/r/\"><track><location>a</location></track>"
         "</trackList></playlist>",
         {Plain},
         "<playlist><trackList xml:base=\"m/n?q/r/\"><track><location>a</location></track><track>"
         "<location>../a%20b/c%26d.mp3</location></track></trackList></playlist>"},
        {"<playlist><trackList/></playlist>",
         {Plain},
         "<playlist><trackList>\n  <track>\n    <location>a%20b/c%26d.mp3</location>\n  </track>"
         "\n</trackList></playlist>"},
        {"<p:playlist xmlns:p=\"http://xspf.org/ns/0/\">\r\n\t<p:title>t</p:title>\r\n"
         "</p:playlist>\r\n",
         {Full},
         "<p:playlist xmlns:p=\"http://xspf.org/ns/0/\">\r\n\t<p:title>t</p:title>\r\n"
         "\t<p:trackList>\r\n\t\t<p:track>\r\n\t\t\t<p:location>x.mp3</p:location>\r\n\t\t\t"
         "<p:title>T&lt;1&gt;</p:title>\r\n\t\t\t<p:creator>Me</p:creator>\r\n\t\t\t<p:duration>"
         "61000</p:duration>\r\n\t\t</p:track>\r\n\t</p:trackList>\r\n</p:playlist>\r\n"},
        // WPL: backslashes, the neighbours' " />", ItemCount.
        {InWpl("        <seq>\r\n            <media src=\"a.mp3\" />\r\n        </seq>\r\n"),
         {Plain, Absolute},
         "<?wpl version=\"1.0\"?>\r\n<smil>\r\n    <head>\r\n        <meta name=\"ItemCount\" "
         "content=\"3\"/>\r\n    </head>\r\n    <body>\r\n        <seq>\r\n            <media "
         "src=\"a.mp3\" />\r\n            <media src=\"a b\\c&amp;d.mp3\" />\r\n            "
         "<media src=\"" +
             std::string(Absolute.Path[0] == '/' ? "\\home\\u\\Ω.mp3" : "C:\\Music\\Ω.mp3") +
             "\" />\r\n        </seq>\r\n    </body>\r\n</smil>\r\n"},
        {"<smil><body><seq /></body></smil>",
         {Plain},
         "<smil><body><seq>\n  <media src=\"a b\\c&amp;d.mp3\"/>\n</seq></body></smil>"},
        // ASX: the tag case of the neighbours, on one line when they are.
        {"<ASX version=\"3.0\"><Entry><Ref HREF=\"a.mp3\" /><Title>A</Title></Entry></ASX>",
         {Full},
         "<ASX version=\"3.0\"><Entry><Ref HREF=\"a.mp3\" /><Title>A</Title></Entry><Entry><Ref "
         "HREF=\"x.mp3\" /><Title>T&lt;1&gt;</Title></Entry></ASX>"},
        {"<asx version=\"3.0\">\r\n</asx>\r\n",
         {Plain},
         "<asx version=\"3.0\">\r\n  <entry>\r\n    <ref href=\"a b/c&amp;d.mp3\"/>\r\n  "
         "</entry>\r\n</asx>\r\n"},
        {"<asx><EntryRef href=\"a.asx\"/></asx>",
         {Plain},
         "<asx><EntryRef href=\"a.asx\"/><Entry><Ref href=\"a b/c&amp;d.mp3\"/></Entry></asx>"},
        // Latin-1: a character it lacks becomes a reference.
        {"<asx><entry><ref href=\"caf\xE9\"/></entry></asx>",
         {{"é Ω", nullptr, nullptr, -1}},
         "<asx><entry><ref href=\"caf\xE9\"/></entry><entry><ref href=\"\xE9 &#937;\"/></entry>"
         "</asx>"},
    };
    for (const auto& c : cases) {
        Parsed p(c.Before);
        ASSERT_TRUE(p.P.Whole) << Show(c.Before);
        std::string out;
        EXPECT_TRUE(WriteWith(p.P, c.Before, c.Added, &out)) << Show(c.Before);
        EXPECT_EQ(out, c.After) << Show(c.Before);
    }
}

TEST(XmlWrite, DeleteRenumbers) {
    const std::string vlc =
        "<playlist><trackList>\n<track><location>a</location><extension application=\"http://"
        "www.videolan.org/vlc/playlist/0\"><vlc:id>0</vlc:id></extension></track>\n<track>"
        "<location>b</location><extension application=\"http://www.videolan.org/vlc/playlist/0\">"
        "<vlc:id>1</vlc:id></extension></track>\n</trackList><extension application=\"http://"
        "www.videolan.org/vlc/playlist/0\">\n\t<vlc:node title=\"n\">\n\t\t<vlc:item tid=\"1\"/>"
        "\n\t</vlc:node>\n\t<vlc:item tid=\"0\"/>\n</extension></playlist>";
    const struct {
        std::string Before;
        std::vector<bool> Remove;
        std::string After;
    } cases[] = {
        {vlc,
         {false, true},
         "<playlist><trackList>\n<track><location>a</location><extension application=\"http://"
         "www.videolan.org/vlc/playlist/0\"><vlc:id>0</vlc:id></extension></track>\n</trackList>"
         "<extension application=\"http://www.videolan.org/vlc/playlist/0\">\n\t<vlc:node title="
         "\"n\">\n\t</vlc:node>\n\t<vlc:item tid=\"0\"/>\n</extension></playlist>"},
        {InWpl("<seq>\r\n  <media src=\"a\"/>\r\n  <media src=\"b\"/>  <media src=\"c\"/>\r\n"
               "</seq>\r\n"),
         {false, true, true},
         InWpl("<seq>\r\n  <media src=\"a\"/>\r\n  </seq>\r\n", "1")},
        {"<asx><entry><ref href=\"a\"/></entry>\t<entry><ref href=\"b\"/></entry> \r\n</asx>",
         {false, true},
         "<asx><entry><ref href=\"a\"/></entry>\t</asx>"},
    };
    for (const auto& c : cases) {
        Parsed p(c.Before);
        ASSERT_TRUE(p.P.Whole) << Show(c.Before);
        std::string out;
        EXPECT_TRUE(WriteWithout(p.P, c.Before, c.Remove, &out)) << Show(c.Before);
        EXPECT_EQ(out, c.After) << Show(c.Before);
    }
}

// What the writers refuse: a file not read whole, another format, a reference they cannot make.
TEST(XmlWrite, RefusesWhatItCannotWrite) {
    const std::string broken = InXspf(Track("a.mp3")) + "<junk/>";
    const std::string rooted = "<playlist><trackList xml:base=\"http://h/\"><track><location>a"
                               "</location></track></trackList></playlist>";
    Parsed p(broken), q(rooted);
    std::string out;
    EXPECT_FALSE(WriteWith(p.P, broken, {Plain}, &out));
    EXPECT_FALSE(WriteWithout(p.P, broken, {true}, &out));
    EXPECT_FALSE(WriteWith(q.P, rooted, {Plain}, &out));
    EXPECT_TRUE(WriteWith(q.P, rooted, {Absolute}, &out));
    // A sink that fails stops the write with a failure.
    XmlSink sink = {[](void*, const void*, size_t) { return false; }, nullptr};
    const bool all[1] = {true};
    EXPECT_FALSE(WriteXmlWithout(&q.P, Bytes(rooted), rooted.size(), all, &sink));
    EXPECT_FALSE(WriteXmlWith(&q.P, FormatXspf, Bytes(rooted), rooted.size(), &Absolute, 1, &sink));
}

} // namespace
