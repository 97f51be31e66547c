// Listing through the wide exports: which lines become entries, and what each entry reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "playlist/playlist.h"
#include "plugin/exports.h"
#include "platform/conventions.h"
#include "plugin/records.h"
#include "playlist/entries.h"
#include "tests/fuzz/windows_names.h"
#include "tests/support.h"
#include "text/text.h"

namespace {

using namespace std::string_literals;

// Name, PackSize, UnpSize, UnpSizeHigh, FileTime, FileAttr.
using Entry = std::tuple<std::u16string, unsigned, unsigned, unsigned, int, int>;

// Opens a playlist like a host and lists it to the end; the record sits before guard bytes
// that must survive every call, and the end stays the end.
std::vector<Entry> List(const std::string& playlist) {
    std::u16string arc = WidePath(playlist);
    tOpenArchiveDataW open = {&arc[0], 0, 0, nullptr, 0, 0, 0};
    void* handle = OpenArchiveW(&open);
    EXPECT_NE(handle, nullptr) << playlist;
    std::vector<Entry> entries;
    struct {
        tHeaderDataExW Record;
        unsigned char Guard[64];
    } at;
    for (int result = 0; handle && result == 0;) {
        memset(&at, 0xA5, sizeof at);
        result = ReadHeaderExW(handle, &at.Record);
        EXPECT_TRUE(result == 0 || result == E_END_ARCHIVE) << result;
        if (result == 0) {
            const tHeaderDataExW& r = at.Record;
            entries.emplace_back(r.FileName, r.PackSize, r.UnpSize, r.UnpSizeHigh, r.FileTime,
                                 r.FileAttr);
        }
        EXPECT_EQ(std::string(at.Guard, at.Guard + 64), std::string(64, '\xA5'))
            << "written past the record";
    }
    EXPECT_EQ(ReadHeaderExW(handle, &at.Record), E_END_ARCHIVE);
    EXPECT_EQ(CloseArchive(handle), 0);
    return entries;
}

// Sets a file's last-write time through the platform's own stamp units.
void SetWriteTime(const std::string& path, int64_t unixSeconds) {
#ifdef _WIN32
    uint64_t stamp = static_cast<uint64_t>(unixSeconds) * 10000000 + 116444736000000000ULL;
#else
    uint64_t stamp = static_cast<uint64_t>(unixSeconds) * 1000000000ULL;
#endif
    PlatformFile* file = FileOpen(WidePath(path).c_str(), FileForAppending);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(FileSetStamp(file, stamp));
    FileClose(file);
}

const int64_t Moment = 1648907131; // 2022-04-02 13:45:31 UTC, an odd second

std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

struct Row {
    std::string bytes;
    std::vector<std::u16string> names;
    bool legacy = false; // expects Windows-1252 for text that is not UTF-8
};

void ListsAsTable(const std::vector<Row>& rows) {
    std::string folder = TestFolder();
    bool legacy = Legacy1252();
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].legacy && !legacy) {
            continue;
        }
        WriteFile(folder + "/list.m3u", rows[i].bytes);
        std::vector<std::u16string> names;
        for (const Entry& e : List(folder + "/list.m3u")) {
            names.push_back(std::get<0>(e));
            EXPECT_EQ(std::get<1>(e), std::get<0>(e).size()); // UTF-16 units
        }
        EXPECT_EQ(names, Shown(rows[i].names))
            << "row " << i << ": " << rows[i].bytes.substr(0, 40);
    }
}

TEST(Listing, WhichLinesBecomeEntries) {
    const std::string mark = "\xEF\xBB\xBF";
    ListsAsTable({
        {"#EXTM3U\r\n#x\r\n#", {}},
        {"a.mp3\n#x\nb.mp3", {u"a.mp3", u"b.mp3"}},
        {"a.mp3\r\n#x\r\nb.mp3\r\n", {u"a.mp3", u"b.mp3"}},
        {"a.mp3\rjunk\n", {u"a.mp3", u"junk"}}, // a lone CR ends a line
        {"a.mp3\rb.mp3\rc.mp3", {u"a.mp3", u"b.mp3", u"c.mp3"}},
        {"a\n\nb\n \t\n\t\r\n", {u"a", u"b"}}, // blank lines are no entries
        {" a \n", {u" a "}},
        // Players skip spaces and tabs before a directive.
        {" #EXTINF:1,A\n\t#EXTVLCOPT:x\n \t#comment\n a.mp3\n", {u" a.mp3"}},
        {"\xC3\xA9.mp3", {u"\u00E9.mp3"}},
        {"\xF0\x9F\x8E\xB5.mp3", {u"\U0001F3B5.mp3"}},
        {"a\0b\n\0b\n"s, {u"a"}}, // a zero byte ends the name
        {std::string(1024, 'a') + "\n" + std::string(1023, 'b'), {Wide(std::string(1023, 'b'))}},
        // A line longer than one read lists no fragment of itself.
        {std::string(5000, 'a'), {}},
        {std::string(4095, 'a') + "\nb", {u"b"}},
        {std::string(4096, 'a') + "\r\nb", {u"b"}},
        // A long comment stays a comment through all its pieces.
        {"#EXTINF:1," + std::string(5000, 't') + "\r\nc.mp3\n#" + std::string(4094, 'u') + "\n",
         {u"c.mp3"}},
        {mark + "#EXTM3U\r\na.mp3", {u"a.mp3"}},
        {mark + "x.mp3", {u"x.mp3"}},
        {"a.mp3\x1A\r\nb.mp3\r\n", {u"a.mp3"}},
    });
}

// Plain ASCII lines take a fast way to their names; it must give each line the name, length and
// verdict that the general way gives, under the build's own host (Windows names natively, POSIX
// names in the Linux build). Lines are made of fragments that each touch one of its rules:
// separators of both kinds, empty parts, trailing dots and spaces, device names, colons and
// drives, URIs, directives, control bytes, non-ASCII, a zero, and lengths around the limit.
TEST(Listing, PlainLinesNameAsTheGeneralWayNamesThem) {
    static const char* const fragments[] = {"a",
                                            "Music",
                                            "x.mp3",
                                            ".",
                                            "..",
                                            "...",
                                            " ",
                                            "\t",
                                            "\\",
                                            "/",
                                            "\\\\",
                                            "//",
                                            ":",
                                            "C:",
                                            "c:\\",
                                            "file://",
                                            "FILE:///C:/a%20b",
                                            "#",
                                            "#EXTINF:1,x",
                                            "con",
                                            "CON",
                                            "nul.txt",
                                            "Aux ",
                                            "prn.",
                                            "com1",
                                            "COM9.mp3",
                                            "lpt1 .x",
                                            "conin$",
                                            "conout$",
                                            "com\xC2\xB9",
                                            "comx",
                                            "lpt0",
                                            "coma",
                                            "printer",
                                            "<",
                                            ">",
                                            "\"",
                                            "|",
                                            "?",
                                            "*",
                                            "\x01",
                                            "\x1F",
                                            "\x7F",
                                            "\x80",
                                            "\xC3\xA9",
                                            "\xFF",
                                            "~",
                                            "$",
                                            "%20",
                                            "-",
                                            "0",
                                            "(..)",
                                            "(C)",
                                            "n",
                                            "l",
                                            "p"};
    std::mt19937 rng(20261209u);
    std::vector<std::string> lines = {"",
                                      " a",
                                      "\ta",
                                      "a\0b"s,
                                      std::string(1023, 'a'),
                                      std::string(1024, 'a'),
                                      std::string(1022, 'a') + ".",
                                      std::string(1020, 'a') + "\\con",
                                      "a/b\\c"};
    for (int i = 0; i < 40000; ++i) {
        std::string line;
        for (uint32_t n = 1 + rng() % 8; n > 0; --n) {
            line += fragments[rng() % (sizeof fragments / sizeof fragments[0])];
        }
        lines.push_back(line);
    }
    size_t plain = 0;
    for (const std::string& line : lines) {
        for (bool whole : {true, false}) {
            for (bool m3uLine : {true, false}) {
                char16_t fast[PathUnits], general[PathUnits];
                size_t units = m3uLine
                                   ? ListedName(line.data(), line.size(), whole, Text8Bit, fast)
                                   : LocationName(line.data(), line.size(), whole, Text8Bit, fast);
                size_t expected = GeneralNameForTests(line.data(), line.size(), whole, Text8Bit,
                                                      general, m3uLine);
                ASSERT_EQ(units, expected) << line << (m3uLine ? " (line)" : " (location)");
                if (units != NotListed) {
                    ASSERT_EQ(std::u16string(fast, units + 1), std::u16string(general, units + 1))
                        << line;
                    plain += std::all_of(line.begin(), line.end(),
                                         [](char c) { return c > 0 && c < 0x7F; });
                }
                // With room for the path, the name is the same and the path the general way's.
                char16_t name[PathUnits], path[PathUnits];
                size_t pathUnits = 0;
                size_t withPath = m3uLine ? ListedName(line.data(), line.size(), whole, Text8Bit,
                                                       name, path, &pathUnits)
                                          : LocationName(line.data(), line.size(), whole, Text8Bit,
                                                         name, path, &pathUnits);
                ASSERT_EQ(withPath, expected) << line;
                if (withPath != NotListed) {
                    ASSERT_EQ(std::u16string(name, withPath), std::u16string(general, units));
                    // The path keeps the line's own slashes, which find the file.
                    char16_t generalPath[PathUnits], generalName[PathUnits];
                    size_t generalUnits = 0;
                    GeneralNameForTests(line.data(), line.size(), whole, Text8Bit, generalName,
                                        m3uLine, generalPath, &generalUnits);
                    ASSERT_EQ(std::u16string(path, pathUnits + 1),
                              std::u16string(generalPath, generalUnits + 1))
                        << line;
                }
            }
        }
    }
    EXPECT_GT(plain, 2000u); // the fast way was taken, not only the general one
}

// Legacy code pages, file:// entries and UTF-16, as other programs write them.
TEST(Listing, ReadsWhatOtherProgramsWrite) {
    const std::string L = "\xFF\xFE", B = "\xFE\xFF";
    auto le = Utf16Le;
    auto be = Utf16Be;
    ListsAsTable({
        // Each line on its own: UTF-8 when it is, else the legacy code page.
        {"caf\xE9 x.mp3\nnext", {u"caf\u00E9 x.mp3", u"next"}, true},
        {"\xE9\n\xC3\xA9\n", {u"\u00E9", u"\u00E9"}, true},
        {"\x80\x81\x8D\x8F\x90\x9D\x9F", {u"\u20AC\u0081\u008D\u008F\u0090\u009D\u0178"}, true},
        {"\xC3\xA9\xA9", {u"\u00C3\u00A9\u00A9"}, true}, // a stray continuation byte
        {"\xC3", {u"\u00C3"}, true},                     // a sequence cut short
        {"\xF8\x88\x80\x80\x80", {u"\u00F8\u02C6\u20AC\u20AC\u20AC"}, true},
        // Lenient UTF-8 stays UTF-8: CESU-8 pairs, overlong forms.
        {"\xED\xA0\xBD\xED\xBE\xB5", {u"\xD83D\xDFB5"}},
        {"\xC1\xBF", {u"\x7F"}},
        // file:// names the file of the URI; other schemes stay as written.
        {"file:///C:/Music/a%20b.mp3", {u"C:\\Music\\a b.mp3"}},
        {"FILE://LocalHost/C:/Music/a%20b.mp3", {u"C:\\Music\\a b.mp3"}},
        {"file://server/share/a.mp3", {u"\\\\server\\share\\a.mp3"}},
        {"file:///home/u/%D0%9A.mp3", {u"\\home\\u\\\u041A.mp3"}},
        {"file:///C:/a%2Fb%zz%4", {u"C:\\a\\b%zz%4"}},
        {"file:///C:/a%00b%", {u"C:\\a%00b%"}},
        {"file:///C:", {u"C:"}},
        {"file:///C:/caf%E9.mp3", {u"C:\\caf\u00E9.mp3"}, true},
        {"file://", {}},
        {"file:/C:/a.mp3\nhttp://h/a%20b.mp3\nrtsp://h/s\n",
         {u"file:/C:/a.mp3", u"http://h/a%20b.mp3", u"rtsp://h/s"}},
        // UTF-16 after its mark, in either byte order; never without one.
        {L + le(u"#EXTM3U\r\na.mp3\r\n\r\n\u00E9\u041A.mp3\rfile:///C:/a%20b\n#x"),
         {u"a.mp3", u"\u00E9\u041A.mp3", u"C:\\a b"}},
        {B + be(u"#EXTINF:1,x\r\n\U0001F3B5\n \t\nb"), {u"\U0001F3B5", u"b"}},
        {L + le(u"\xD83Cx\n") + "\x1A", {u"\xD83Cx"}}, // half a unit lists nothing
        {L + le(std::u16string(1024, u'a') + u"\n" + std::u16string(1023, u'b')),
         {std::u16string(1023, u'b')}},
        {L + le(std::u16string(3000, u'a') + u"\nb"), {u"b"}},
        {L, {}},
        {"a\0.\0m\0"s, {u"a"}},
    });
}

// Every kind of line, through the wide listing of one playlist as a Windows host reads it.
TEST(Listing, NamesAWindowsHostCanShowAndCreate) {
    if (!HostNames.WindowsParts) {
        GTEST_SKIP() << "Windows conventions only";
    }
    std::string folder = TestFolder(), playlist;
    std::vector<std::u16string> expected;
    for (const LineName& row : WindowsNameTable) {
        playlist += row.Line + "\r\n";
        if (!row.Name.empty()) {
            expected.push_back(row.Name);
        }
    }
    WriteFile(folder + "/list.m3u", playlist);
    std::vector<std::u16string> names;
    for (const Entry& e : List(folder + "/list.m3u")) {
        names.push_back(std::get<0>(e));
    }
    EXPECT_EQ(names, expected);
}

// The lines of the listing fuzz target's seeds and the table's, and lines made of the parts that
// trouble Windows names: every name is one a Windows host can show, create and keep inside its
// destination; and a line needing no change lists, by the quick way, as the full way shows it.
TEST(Listing, EveryNameAWindowsHostCanCreate) {
    std::vector<std::string> lines;
    for (const LineName& row : WindowsNameTable) {
        lines.push_back(row.Line);
    }
    std::filesystem::path seeds = std::filesystem::u8path(M3U_CORPUS_DIR "/../fuzz/corpus/listing");
    for (const auto& seed : std::filesystem::directory_iterator(seeds)) {
        std::string bytes = ReadFile(seed.path().u8string()), line;
        for (size_t i = 1; i <= bytes.size(); ++i) {
            if (i == bytes.size() || bytes[i] == '\r' || bytes[i] == '\n') {
                lines.push_back(line);
                line.clear();
            } else {
                line += bytes[i];
            }
        }
    }
    ASSERT_GT(lines.size(), WindowsNameTable.size() + 5);
    static const char* const parts[] = {
        "a",  "B",  ".",        "..",          "...",     "C:",     "/",       "\\",
        "//", " ",  "x y.",     "nul",         "Com9",    "http:",  "\\\\?\\", "<|>",
        "\t", "?*", "\xC3\xA9", "lpt\xC2\xB3", "CONOUT$", "Concert"};
    std::mt19937 rng(20261209u);
    for (int i = 0; i < 4000; ++i) {
        std::string line;
        for (uint32_t n = rng() % 9; n > 0; --n) {
            line += parts[rng() % (sizeof parts / sizeof parts[0])];
        }
        lines.push_back(line);
    }
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        std::u16string shown;
        bool utf8 = IsUtf8Text(line.data(), line.size()) && line.find('\0') == std::string::npos;
        if (utf8) {
            char tree[64 * 1024];
            ASSERT_LT(TreePath(line.c_str(), tree, sizeof tree, WindowsNames), sizeof tree);
            shown = std::filesystem::u8path(tree).u16string();
            EXPECT_TRUE(shown.empty() || IsWindowsListedName(shown)) << tree;
        }
        if (!HostNames.WindowsParts) {
            continue;
        }
        char16_t listed[PathUnits];
        size_t units = ListedName(line.data(), line.size(), true, Text8Bit, listed);
        std::u16string name = units == NotListed ? u"" : std::u16string(listed, units);
        EXPECT_TRUE(name.empty() || IsWindowsListedName(name));
        std::string scheme = line.substr(0, 7);
        std::transform(scheme.begin(), scheme.end(), scheme.begin(), ::tolower);
        if (utf8 && scheme != "file://" &&
            KindOfLine(line.data(), line.size(), Text8Bit) == LinePath) {
            EXPECT_EQ(name, shown.size() < PathUnits ? shown : u"");
        }
    }
}

TEST(Listing, EntriesReportTheirFilesSizeAndTime) {
    if (!HostPaths.DriveRoots) {
        GTEST_SKIP() << "Windows conventions; the Linux host's names are listed below";
    }
    std::string folder = TestFolder();
    std::filesystem::create_directories(std::filesystem::u8path(folder + "/list/sub"));
    WriteFile(folder + "/list/sub/song.mp3", "12345");
    WriteFile(folder + "/x.mp3", "abc");
    SetWriteTime(folder + "/list/sub/song.mp3", Moment);
    SetWriteTime(folder + "/x.mp3", Moment + 60);
    // Full paths stand as they are. Natively the folder is "\tmp\..."; a second backslash makes
    // it a share-style path, which the stand-in reads as "//tmp/...". Windows has a drive.
    std::string full = folder + "/x.mp3";
    for (char& c : full) {
        c = c == '/' ? '\\' : c;
    }
    full = (full[0] == '\\' ? "\\" : "") + full;
    std::string slashes = full;
    for (char& c : slashes) {
        c = c == '\\' ? '/' : c;
    }
    WriteFile(folder + "/list/l.m3u",
              "sub\\song.mp3\r\nmissing.mp3\r\nsub/song.mp3\r\n" + full + "\n" + slashes);
    int song = static_cast<int>(TimeToDosDateTime(Moment));
    int x = static_cast<int>(TimeToDosDateTime(Moment + 60));
    // Both full paths list under the marker of their root.
    std::u16string shown = Shown(Wide(full));
    unsigned n = static_cast<unsigned>(shown.size());
    std::vector<Entry> expected = {
        {u"sub\\song.mp3", 12, 5, 0, song, 0},
        {u"missing.mp3", 11, 0, 0, 0, 0},
        {u"sub\\song.mp3", 12, 5, 0, song, 0},
        {shown, n, 3, 0, x, 0},
        {shown, n, 3, 0, x, 0},
    };
    EXPECT_EQ(List(folder + "/list/l.m3u"), expected);
}

// The Linux host splits names at '/', shows no name that begins with one and takes "../" for its
// own way up: every line still shows, under a name that maps back to it. Times are Unix times,
// modes a regular file's with the file's permission bits.
TEST(Listing, EntriesAsTheLinuxHostShowsThem) {
    if (HostPaths.DriveRoots) {
        GTEST_SKIP() << "POSIX conventions only";
    }
    namespace fs = std::filesystem;
    std::string folder = TestFolder();
    fs::create_directories(fs::u8path(folder + "/list/sub"));
    WriteFile(folder + "/list/sub/song.mp3", "12345");
    WriteFile(folder + "/x.mp3", "abc");
    SetWriteTime(folder + "/list/sub/song.mp3", Moment);
    SetWriteTime(folder + "/x.mp3", Moment + 60);
    fs::permissions(fs::u8path(folder + "/list/sub/song.mp3"), fs::perms(0640));
    fs::permissions(fs::u8path(folder + "/x.mp3"), fs::perms(0755));
    const int song = Moment, x = Moment + 60, file = 0100000;
    const std::vector<std::pair<std::string, Entry>> lines = {
        {"sub\\song.mp3", {u"sub/song.mp3", 0, 5, 0, song, file | 0640}},
        {"./sub//song.mp3", {u"sub/song.mp3", 0, 5, 0, song, file | 0640}},
        {"sub/../sub/song.mp3", {u"sub/song.mp3", 0, 5, 0, song, file | 0640}},
        {"missing.mp3", {u"missing.mp3", 0, 0, 0, 0, file}},
        {"../x.mp3", {u"(..)/x.mp3", 0, 3, 0, x, file | 0755}},
        {"..\\list\\..\\x.mp3", {u"(..)/x.mp3", 0, 3, 0, x, file | 0755}},
        {folder + "/x.mp3", {u"(root)" + WidePath(folder) + u"/x.mp3", 0, 3, 0, x, file | 0755}},
        {"C:\\Music\\x.mp3", {u"(C:)/Music/x.mp3", 0, 0, 0, 0, file}},
        {"sub", {u"sub", 0, 0, 0, 0, file}}, // a folder names no file
    };
    std::string playlist;
    for (const auto& line : lines) {
        playlist += line.first + "\r\n";
    }
    WriteFile(folder + "/list/l.m3u", playlist);
    fs::permissions(fs::u8path(folder + "/list/sub"), fs::perms(0755));
    std::vector<Entry> entries = List(folder + "/list/l.m3u");
    ASSERT_EQ(entries.size(), lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        Entry want = lines[i].second;
        std::get<1>(want) = static_cast<unsigned>(std::get<0>(want).size()); // PackSize
        EXPECT_EQ(entries[i], want) << lines[i].first;
    }
}

TEST(Listing, SizesOver4GiBFillTheHighWord) {
    std::string folder = TestFolder();
    WriteFile(folder + "/big.bin", "");
    std::error_code error;
    std::filesystem::resize_file(std::filesystem::u8path(folder + "/big.bin"), 5ULL << 30, error);
    if (error) {
        GTEST_SKIP() << "no sparse 5 GiB file here: " << error.message();
    }
    WriteFile(folder + "/list.m3u", "big.bin");
    std::vector<Entry> entries = List(folder + "/list.m3u");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(std::get<2>(entries[0]), 1u << 30);
    EXPECT_EQ(std::get<3>(entries[0]), 1u);
    std::filesystem::remove(std::filesystem::u8path(folder + "/big.bin"));
}

// DOS date and time; the literal moments are UTC, so natively the zone is set to UTC for the
// test, and elsewhere the test needs a UTC zone.
TEST(ListingTime, PacksFieldsAndRoundsOddSecondsUp) {
    EXPECT_EQ(PackDosDateTime(2022, 4, 2, 13, 45, 32), 0x54826DB0u);
    EXPECT_EQ(PackDosDateTime(1975, 6, 1, 12, 30, 0), 0x00210000u);
    EXPECT_EQ(PackDosDateTime(2110, 6, 15, 12, 0, 0), 0x04CF6000u); // the year field wraps
#ifndef _WIN32
    const char* zone = getenv("TZ");
    std::string saved = zone ? zone : "";
    bool hadZone = zone != nullptr;
    setenv("TZ", "UTC", 1);
    tzset();
#endif
    CalendarTime winter, summer;
    if (!ToLocalCalendar(0, &winter) || !ToLocalCalendar(1656000000, &summer) || winter.Hour != 0 ||
        summer.Hour != 16) {
        GTEST_SKIP() << "the local zone is not UTC";
    }
    const std::vector<std::pair<int64_t, uint32_t>> cases = {
        {Moment, 0x54826DB0u},     // 13:45:31 -> :32
        {Moment + 1, 0x54826DB0u}, // 13:45:32 stays
        {Moment - 1, 0x54826DAFu}, // 13:45:30 stays
        {1672531199, 0x56210000u}, // 2022-12-31 23:59:59 -> 2023-01-01 00:00:00
        {170812800, 0x00210000u},  // 1975
        {315532799, 0x00210000u},  // 1979-12-31 23:59:59 -> 1980-01-01
        {4354819198, 0xFF9FBF7Du}, // 2107-12-31 23:59:58
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TimeToDosDateTime(c.first), c.second) << c.first;
    }
#ifndef _WIN32
    hadZone ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
#endif
}

// A listing takes the zone's rules once and keeps them: every moment, on either side of the
// daylight saving changes of the years around it, converts as it does with the rules of the hour.
TEST(ListingTime, RulesTakenOnceConvertAsTheRulesOfTheHour) {
    LocalZone zone = {};
    for (int64_t t = 1600000000; t < 1700000000; t += 86400 * 7 + 3599) {
        EXPECT_EQ(TimeToDosDateTime(t, &zone), TimeToDosDateTime(t)) << t;
    }
    EXPECT_EQ(TimeToDosDateTime(0, &zone), TimeToDosDateTime(0));
}

} // namespace
