// New entries in the playlist's own style: the majority decision over existing entries, the path
// text written in each style, and the #EXTINF text from what the media reader found.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/conventions.h"
#include "playlist/style.h"
#include "text/text.h"

namespace {

struct Entry {
    const char* Location;
    EntryFields Fields;
};
const EntryFields None = {false, false, false}, Extinf = {true, true, false},
                  All = {true, true, true};

struct DecisionRow {
    const char* Case;
    bool M3u, Header, NewM3u;
    std::vector<Entry> Entries;
    // The style expected, in letters: A absolute, U file:/// URI, the separator when not the
    // build's own, T title, L length, C creator, H the #EXTM3U header first.
    const char* Expected;
};

std::string Letters(const EntryStyle& s) {
    std::string out;
    out += s.Absolute ? "A" : "";
    out += s.Uri ? "U" : "";
    out += s.Separator != HostPaths.Separator ? std::string(1, s.Separator) : "";
    out += s.Title ? "T" : "";
    out += s.Length ? "L" : "";
    out += s.Creator ? "C" : "";
    out += s.Header ? "H" : "";
    return out;
}

// A separator written as the other system's: the row's '\\' on a POSIX build, '/' on Windows.
std::string Other(std::string expected) {
    for (char& c : expected) {
        if (c == '\\' || c == '/') {
            c = c == HostPaths.Separator ? 0 : c;
        }
    }
    expected.erase(std::remove(expected.begin(), expected.end(), 0), expected.end());
    return expected;
}

TEST(Style, DecidedByMajority) {
    // clang-format off
    const DecisionRow rows[] = {
        {"new M3U: #EXTM3U and #EXTINF", true, false, true, {}, "TLH"},
        {"existing, no entries: plain", true, false, false, {}, ""},
        {"extended header, no entries yet", true, true, false, {}, "TL"},
        {"relative with backslashes", true, false, false,
         {{"a.mp3", None}, {"Rock\\b.mp3", None}, {"..\\Jazz\\c.mp3", None}}, "\\"},
        {"relative with slashes", true, false, false,
         {{"Rock/a.mp3", None}, {"Pop/b.mp3", None}, {"Jazz\\c.mp3", None}}, "/"},
        {"a tie of separators keeps the build's", true, false, false,
         {{"Rock/a.mp3", None}, {"Jazz\\c.mp3", None}}, ""},
        {"drive paths", true, false, false,
         {{"C:\\Music\\a.mp3", None}, {"D:\\b.mp3", None}, {"E:/c.mp3", None}}, "A\\"},
        {"shares and POSIX roots are absolute", true, false, false,
         {{"\\\\server\\share\\a.mp3", None}, {"/home/u/b.mp3", None}, {"c.mp3", None}}, "A"},
        {"half absolute is no majority", true, false, false,
         {{"C:\\a.mp3", None}, {"b.mp3", None}}, "\\"},
        {"VLC's URIs", true, true, false,
         {{"file:///C:/Music/a%20b.mp3", Extinf}, {"FILE:///C:/Music/c.mp3", Extinf},
          {"d.mp3", Extinf}}, "AUTL"},
        {"streams vote on nothing", true, false, false,
         {{"http://radio/a", None}, {"https://radio/b", None}, {"mms://x/y", None},
          {"C:\\a.mp3", None}}, "A\\"},
        {"#EXTINF on most", true, true, false,
         {{"a.mp3", Extinf}, {"b.mp3", Extinf}, {"c.mp3", None}}, "TL"},
        {"#EXTINF on too few", true, true, false,
         {{"a.mp3", Extinf}, {"b.mp3", None}, {"c.mp3", None}}, ""},
        {"#EXTINF without the header: plain", true, false, false,
         {{"a.mp3", Extinf}, {"b.mp3", Extinf}}, ""},
        {"XSPF with titles, creators and durations", false, false, false,
         {{"a.mp3", All}, {"b.mp3", All}, {"c.mp3", {true, false, false}}}, "TLC"},
        {"PLS with titles, without lengths", false, false, false,
         {{"a.mp3", {true, false, false}}, {"b.mp3", {true, false, false}}}, "T"},
        {"WPL: nothing beside the path", false, false, false,
         {{"a.mp3", None}, {"b.mp3", None}}, ""},
        {"any byte before a colon roots, as a drive does", true, false, false,
         {{"1:a.mp3", None}, {"#:b", None}, {"C:", None}}, "A"},
        {"a lone drive letter, a colon first or late root nothing", true, false, false,
         {{"C", None}, {":a", None}, {"ab:c", None}, {"a.mp3", None}}, ""},
    };
    // clang-format on
    for (const DecisionRow& r : rows) {
        SCOPED_TRACE(r.Case);
        StyleTally tally;
        StartTally(&tally, r.M3u, r.Header);
        for (const Entry& e : r.Entries) {
            TallyEntry(&tally, e.Location, strlen(e.Location), e.Fields);
        }
        EXPECT_EQ(Letters(DecideStyle(&tally, r.NewM3u)), Other(r.Expected));
    }
    // A location is its bytes: a zero first roots nothing, whatever follows it.
    StyleTally zero;
    StartTally(&zero, true, false);
    TallyEntry(&zero, "\0:\\a", 4, None);
    TallyEntry(&zero, "\0\\a", 3, None);
    EXPECT_EQ(zero.Entries, 2u);
    EXPECT_EQ(zero.Absolute, 0u);
}

enum Rules { Both, WindowsOnly, PosixOnly };

struct PathRow {
    Rules Holds;
    bool Absolute, Uri;
    char Separator;
    const char* File;
    const char* Folder;
    const char* Text;
    bool OtherRoot = false; // written whole, though relative was asked for
};

TEST(Style, PathTextInEachStyle) {
    const PathRow rows[] = {
        {WindowsOnly, false, false, '\\', "C:\\Music\\Rock\\a.mp3", "C:\\Music\\", "Rock\\a.mp3"},
        {WindowsOnly, false, false, '/', "C:\\Music\\Rock\\a.mp3", "C:\\Music\\", "Rock/a.mp3"},
        {WindowsOnly, false, false, '\\', "c:\\music\\Jazz\\x.mp3", "C:\\Music\\List\\",
         "..\\Jazz\\x.mp3"},
        {WindowsOnly, false, false, '/', "D:\\x.mp3", "C:\\Music\\", "D:/x.mp3", true},
        {WindowsOnly, true, false, '\\', "C:\\Music\\Rock\\a.mp3", "C:\\Music\\",
         "C:\\Music\\Rock\\a.mp3"},
        {WindowsOnly, true, false, '/', "C:\\Music\\Rock\\a.mp3", "C:\\Music\\",
         "C:/Music/Rock/a.mp3"},
        {WindowsOnly, true, true, '\\', "C:\\Music\\a b (1)#\xC3\xA9+%.mp3", "C:\\Music\\",
         "file:///C:/Music/a%20b%20%281%29%23%C3%A9%2B%25.mp3"},
        {WindowsOnly, true, true, '\\', "\\\\server\\share\\x y.mp3", "C:\\Music\\",
         "file://server/share/x%20y.mp3"},
        {PosixOnly, false, false, '/', "/home/u/music/Rock/a.mp3", "/home/u/music/", "Rock/a.mp3"},
        {PosixOnly, false, false, '\\', "/home/u/music/Rock/a.mp3", "/home/u/music/",
         "Rock\\a.mp3"},
        {PosixOnly, false, false, '/', "/home/u/Jazz/x.mp3", "/home/u/music/", "../Jazz/x.mp3"},
        {PosixOnly, true, false, '/', "/home/u/music/a.mp3", "/home/u/music/",
         "/home/u/music/a.mp3"},
        {PosixOnly, true, true, '/', "/home/u/music/a b~\xD0\x9A.mp3", "/home/u/music/",
         "file:///home/u/music/a%20b~%D0%9A.mp3"},
    };
    for (const PathRow& r : rows) {
        if (r.Holds == (HostPaths.DriveRoots ? PosixOnly : WindowsOnly)) {
            continue;
        }
        SCOPED_TRACE(r.Text);
        EntryStyle s = {r.Absolute, r.Uri, r.Separator, false, false, false, false};
        char out[512];
        ASSERT_TRUE(EntryPathText(s, r.File, r.Folder, out, sizeof out));
        EXPECT_STREQ(out, r.Text);
        // Too little room: nothing half written.
        size_t need = strlen(r.Text);
        EXPECT_FALSE(EntryPathText(s, r.File, r.Folder, out, need));
        EXPECT_STREQ(out, "");
        // The entry written in a style tallies to that style again.
        StyleTally tally;
        StartTally(&tally, false, false);
        for (int i = 0; i < 3; ++i) {
            TallyEntry(&tally, r.Text, need, None);
        }
        EntryStyle again = DecideStyle(&tally, false);
        EXPECT_EQ(again.Uri, r.Uri);
        if (!r.Uri) {
            EXPECT_EQ(again.Absolute, r.Absolute || r.OtherRoot);
            if (strchr(r.Text, '\\') || strchr(r.Text, '/')) {
                EXPECT_EQ(again.Separator, r.Separator);
            }
        }
    }
}

MediaInfo Info(const char* title, bool tagged, const char* artist, int64_t seconds) {
    MediaInfo info = {};
    strcpy(info.Title, title);
    strcpy(info.Artist, artist);
    info.TitleFromTags = tagged;
    info.Seconds = seconds;
    info.Milliseconds = seconds < 0 ? -1 : seconds * 1000;
    return info;
}

TEST(Style, ExtinfText) {
    struct Row {
        MediaInfo Info;
        size_t Room;
        const char* Line;
    } rows[] = {
        {Info("Title", true, "Artist", 215), 256, "#EXTINF:215,Artist - Title"},
        {Info("Title", true, "", 215), 256, "#EXTINF:215,Title"},
        {Info("song", false, "", 215), 256, "#EXTINF:215,song"},
        {Info("song", false, "Artist", 3), 256, "#EXTINF:3,Artist - song"},
        {Info("Title", true, "Artist", -1), 256, "#EXTINF:-1,Artist - Title"},
        {Info("song", false, "Artist", -1), 256, ""},
        {Info("Line\r\nTwo", true, "A\tB", 0), 256, "#EXTINF:0,A B - Line  Two"},
        // Cut to the room, never inside a character.
        {Info("Caf\xC3\xA9", true, "", 7), 16, "#EXTINF:7,Caf\xC3\xA9"},
        {Info("Caf\xC3\xA9", true, "", 7), 15, "#EXTINF:7,Caf"},
        {Info("T", true, "", 123456), 8, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.Line);
        char out[300];
        memset(out, 'x', sizeof out);
        ExtinfLine(r.Info, out, r.Room);
        EXPECT_STREQ(out, r.Line);
        EXPECT_TRUE(IsUtf8Text(out, strlen(out)));
        EXPECT_EQ(out[r.Room], 'x'); // nothing past the room
    }
}

} // namespace
