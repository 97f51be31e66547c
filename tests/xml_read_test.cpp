// The XML reader's shortcuts against the general way: a location without base or percent sign
// kept as it is, entries' texts kept together, text handed over only where it is read. Checked on
// tables of references, on every prefix of a rich file and on the file with any byte replaced
// by a troublesome one: whatever it lists, a file read whole is well-formed and written back
// unchanged.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "formats/xml_internal.h"
#include "tests/xml_support.h"

namespace {

// The location as the general way finds it, "null" for none.
std::string General(const std::string& ref, const char* base) {
    bool failed = false;
    char* location = XmlInternal::ResolvedLocation(ref.data(), ref.size(), base, &failed);
    std::string shown = location ? location : "null";
    free(location);
    return failed ? "failed" : shown;
}

std::string Kept(const std::string& text, const char* base) {
    XmlTexts* texts = nullptr;
    bool failed = false;
    const char* location = XmlInternal::LocationOf(text.data(), text.size(), base, &texts, &failed);
    std::string shown = location ? location : "null";
    XmlInternal::FreeTexts(texts);
    return failed ? "failed" : shown;
}

TEST(XmlRead, LocationsWithoutBaseOrPercentAreTheirText) {
    // Pieces that look like schemes, drives, roots, dots, queries, escapes and other alphabets.
    const char* pieces[] = {"a",  "http:", "file:", "C:",       "c:\\", "/",        "//",
                            "\\", "..",    ".",     "?q",       "#f",   "&",        "+-.",
                            " ",  "x:",    "1:",    "\xC3\xA9", "\xFF", "\xE2\x82", "~"};
    const size_t n = sizeof pieces / sizeof *pieces;
    size_t checked = 0;
    for (size_t a = 0; a < n; ++a) {
        for (size_t b = 0; b < n; ++b) {
            for (size_t c = 0; c < n; c += 3) {
                std::string ref = std::string(pieces[a]) + pieces[b] + pieces[c];
                // LocationOf trims; the general way is given what it would be given.
                size_t first = ref.find_first_not_of(' '), last = ref.find_last_not_of(' ');
                std::string trimmed =
                    first == std::string::npos ? "" : ref.substr(first, last - first + 1);
                if (trimmed.empty()) {
                    continue;
                }
                for (const char* base : {static_cast<const char*>(nullptr), ""}) {
                    EXPECT_EQ(Kept(ref, base), General(trimmed, base)) << ref;
                    ++checked;
                }
            }
        }
    }
    EXPECT_GT(checked, 2000u);
}

TEST(XmlRead, LocationsStillResolveAndDecode) {
    const struct {
        const char* Text;
        const char* Base;
        const char* Expected;
    } cases[] = {
        {" a%20b.mp3 ", nullptr, "a b.mp3"},
        {"a%00b", nullptr, "a%00b"}, // a zero byte: as written
        {"a%FFb", nullptr, "a%FFb"}, // no UTF-8 once decoded: as written
        {"http://h/a%20b", nullptr, "http://h/a%20b"},
        {"f.mp3", "music/", "music/f.mp3"},
        {"../f.mp3", "a/b/", "a/f.mp3"},
        {"f.mp3", "http://h/m/", "http://h/m/f.mp3"},
        {"a\nb", nullptr, "null"}, // cut over lines
        {"   ", nullptr, "null"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Kept(c.Text, c.Base), c.Expected) << c.Text;
    }
}

TEST(XmlRead, KeptTextsStayWhole) {
    // Short and long texts across the blocks' edges: each stays what it was.
    XmlTexts* texts = nullptr;
    bool failed = false;
    std::vector<std::pair<const char*, std::string>> kept;
    for (size_t i = 0; i < 3000; ++i) {
        size_t length = i % 97 == 0 ? 70000 + i : i % 41;
        std::string text(length, static_cast<char>('a' + i % 26));
        kept.push_back({XmlInternal::KeepText(&texts, text.data(), text.size(), &failed), text});
    }
    EXPECT_FALSE(failed);
    for (const auto& k : kept) {
        ASSERT_NE(k.first, nullptr);
        EXPECT_EQ(std::string(k.first), k.second);
    }
    XmlInternal::FreeTexts(texts);
}

const std::string Rich =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!-- made by hand -->\n"
    "<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\" "
    "xmlns:vlc=\"http://www.videolan.org/vlc/playlist/ns/0/\">\n"
    "  <title>Mix &amp; more</title>\n"
    "  <trackList xml:base=\"music/\">\n"
    "    <track>\n"
    "      <location>a%20b/f1.mp3</location>\n"
    "      <title> One &lt;1&gt; </title>\n"
    "      <creator>\xC3\x89mile</creator>\n"
    "      <duration>1000</duration>\n"
    "      <extension application=\"http://www.videolan.org/vlc/playlist/0\">\n"
    "        <vlc:id>0</vlc:id>\n"
    "      </extension>\n"
    "    </track>\n"
    "    <track><location>http://h/x?a=1&amp;b=2</location><vlc:x a='\"'/></track>\n"
    "    <track xml:base=\"../up/\">\r\n"
    "      <location>\r\n f2.ogg\r\n </location>\r\n"
    "      <extension application=\"http://www.videolan.org/vlc/playlist/0\">"
    "<vlc:id>1</vlc:id></extension>\n"
    "    </track>\n"
    "    <track/>\n"
    "  </trackList>\n"
    "  <extension application=\"http://www.videolan.org/vlc/playlist/0\">\n"
    "    <vlc:item tid=\"0\"/>\n"
    "    <vlc:node title=\"n\"><vlc:item tid=\"1\" /></vlc:node>\n"
    "  </extension>\n"
    "</playlist>\n"
    "<!-- after -->\n";

// Whatever the reader makes of a file: a file read whole is well-formed and its rewrites
// without changes give it back; its entries' spans lie in the file, in order.
void Sound(const std::string& bytes, const std::string& what) {
    SCOPED_TRACE(what);
    Parsed p(bytes);
    size_t last = 0;
    for (size_t i = 0; i < p.P.Count; ++i) {
        const XmlEntry& e = p.P.Entries[i];
        EXPECT_LE(last, e.Start);
        EXPECT_LE(e.Start, e.End);
        EXPECT_LE(e.End, bytes.size());
        last = e.End;
    }
    if (!p.P.Whole) {
        return;
    }
    EXPECT_TRUE(WellFormed(bytes, p.P.Format)) << Show(bytes);
    std::string out;
    EXPECT_TRUE(WriteWithout(p.P, bytes, std::vector<bool>(p.P.Count, false), &out));
    EXPECT_EQ(out, bytes);
}

TEST(XmlRead, RichFileListsWhatItHolds) {
    Parsed p(Rich);
    ASSERT_TRUE(p.P.Whole);
    EXPECT_EQ(Locations(p.P),
              Strings({"music/a b/f1.mp3", "http://h/x?a=1&b=2", "up/f2.ogg", "-"}));
    ASSERT_EQ(p.P.Count, 4u);
    EXPECT_STREQ(p.P.Entries[0].Title, "One <1>");
    EXPECT_STREQ(p.P.Entries[0].Creator, "\xC3\x89mile");
    EXPECT_EQ(p.P.Entries[0].DurationMs, 1000);
    EXPECT_EQ(p.P.Entries[2].VlcId, 1);
    EXPECT_EQ(p.P.Entries[1].Title, nullptr);
}

TEST(XmlRead, EachPrefixIsReadSoundly) {
    for (size_t n = 0; n <= Rich.size(); ++n) {
        Sound(Rich.substr(0, n), "prefix " + std::to_string(n));
    }
}

TEST(XmlRead, AnyByteReplacedIsReadSoundly) {
    const std::string troubles = std::string("<>&;\"'/!?-]=: \t\r\n#%x\x01\x80\xC0\xFF\0", 25);
    for (size_t at = 0; at < Rich.size(); ++at) {
        for (char c : troubles) {
            if (Rich[at] != c) {
                std::string bytes = Rich;
                bytes[at] = c;
                Sound(bytes, "byte " + std::to_string(at) + " as " +
                                 std::to_string(static_cast<unsigned char>(c)));
            }
        }
    }
}

} // namespace
