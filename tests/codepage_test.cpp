// The narrow exports under a Cyrillic ANSI code page (1251): names in, names out, files found.
// CTest runs this suite with LC_ALL=ru_RU.UTF-8, which makes Wine's ANSI code page 1251.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/exports.h"
#include "tests/support.h"

namespace {

// "Кино" and "Песня" in code page 1251, and in UTF-8 as a playlist holds them.
const std::string Kino1251 = "\xCA\xE8\xED\xEE";
const std::string Pesnya1251 = "\xCF\xE5\xF1\xED\xFF";
const std::string KinoUtf8 = "\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE";
const std::string PesnyaUtf8 = "\xD0\x9F\xD0\xB5\xD1\x81\xD0\xBD\xD1\x8F";

class CodePage : public testing::Test {
  protected:
    void SetUp() override {
        if (GetACP() != 1251) {
            GTEST_SKIP() << "needs the ANSI code page 1251 (LC_ALL=ru_RU.UTF-8 under Wine)";
        }
        dir = TestFolder();
        WriteFile(dir + "/" + KinoUtf8 + ".mp3", "kino!");
        WriteFile(dir + "/" + PesnyaUtf8 + ".mp3", "song");
        WriteFile(dir + "/list.m3u", "#EXTINF:1,K\r\n" + KinoUtf8 + ".mp3\r\n");
        narrowDir = NarrowPath(dir);
    }
    std::string dir, narrowDir;
};

TEST_F(CodePage, NarrowPathsAreTheCodePagesBytes) {
    EXPECT_EQ(NarrowPath(dir + "/" + KinoUtf8), narrowDir + "\\" + Kino1251);
}

TEST_F(CodePage, ListsAndExtractsThroughNarrowNames) {
    std::string playlist = narrowDir + "\\list.m3u";
    tOpenArchiveData open = {};
    open.ArcName = &playlist[0];
    void* handle = OpenArchive(&open);
    ASSERT_NE(handle, nullptr);
    tHeaderDataEx header;
    ASSERT_EQ(ReadHeaderEx(handle, &header), 0);
    EXPECT_EQ(std::string(header.FileName), Kino1251 + ".mp3");
    EXPECT_EQ(header.UnpSize, 5u);
    std::string dest = narrowDir + "\\" + Kino1251 + "-copy.mp3";
    EXPECT_EQ(ProcessFile(handle, PK_EXTRACT, nullptr, &dest[0]), 0);
    EXPECT_EQ(ReadHeaderEx(handle, &header), E_END_ARCHIVE);
    CloseArchive(handle);
    EXPECT_EQ(ReadFile(dir + "/" + KinoUtf8 + "-copy.mp3"), "kino!");
}

TEST_F(CodePage, PacksAndDeletesNarrowNames) {
    std::string playlist = narrowDir + "\\list.m3u";
    std::string source = narrowDir + "\\";
    std::string add = Pesnya1251 + ".mp3" + std::string(2, '\0');
    ASSERT_EQ(PackFiles(&playlist[0], nullptr, &source[0], &add[0], 0), 0);
    EXPECT_EQ(ReadFile(dir + "/list.m3u"),
              "#EXTINF:1,K\r\n" + KinoUtf8 + ".mp3\r\n" + PesnyaUtf8 + ".mp3\r\n");
    std::string del = Kino1251 + ".mp3" + std::string(2, '\0');
    ASSERT_EQ(DeleteFiles(&playlist[0], &del[0]), 0);
    EXPECT_EQ(ReadFile(dir + "/list.m3u"), PesnyaUtf8 + ".mp3\r\n");
}

// Lines that are not UTF-8 are text in this code page: they list, delete and count as
// duplicates under the names the code page gives them.
TEST_F(CodePage, LegacyLinesReadInTheCodePage) {
    const std::u16string kino = u"\u041A\u0438\u043D\u043E.mp3";
    const std::string legacy = Kino1251 + ".mp3\r\n", utf8 = KinoUtf8 + ".mp3\r\n";
    const std::string pesnya = PesnyaUtf8 + ".mp3\r\n";
    const struct {
        std::string before;
        std::vector<std::u16string> listed;
        const char* operation; // "delete" or "pack", with the narrow name
        std::string name, after;
    } rows[] = {
        {legacy + utf8, {kino, kino}, "delete", Kino1251 + ".mp3", ""},
        {"#EXTINF:1,K\r\n" + legacy + "b.mp3\r\n",
         {kino, u"b.mp3"},
         "delete",
         Kino1251 + ".mp3",
         "b.mp3\r\n"},
        {legacy, {kino}, "pack", Kino1251 + ".mp3", legacy},
        // New lines of a playlist in the code page are written in it.
        {legacy, {kino}, "pack", Pesnya1251 + ".mp3", legacy + Pesnya1251 + ".mp3\r\n"},
        {"file:///C:/%CA%E8%ED%EE.mp3\r\n",
         {u"(C)\\" + kino},
         "delete",
         "(C)\\" + Kino1251 + ".mp3",
         ""},
        // A valid UTF-8 start does not make the line UTF-8.
        {"\xD0\x9A\xC0\r\n", {u"\u0420\u0459\u0410"}, "delete", "x", "\xD0\x9A\xC0\r\n"},
    };
    std::string playlist = narrowDir + "\\list.m3u", source = narrowDir + "\\";
    std::u16string wide = WidePath(dir + "/list.m3u");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.before);
        WriteFile(dir + "/list.m3u", row.before);
        tOpenArchiveDataW open = {};
        open.ArcName = &wide[0];
        void* handle = OpenArchiveW(&open);
        ASSERT_NE(handle, nullptr);
        std::vector<std::u16string> listed;
        tHeaderDataExW header;
        while (ReadHeaderExW(handle, &header) == 0) {
            listed.push_back(header.FileName);
            if (listed.back() == kino) { // the file on disk has the same name in UTF-8
                std::u16string copy = WidePath(dir + "/copy.mp3");
                EXPECT_EQ(ProcessFileW(handle, PK_EXTRACT, nullptr, &copy[0]), 0);
                EXPECT_EQ(ReadFile(dir + "/copy.mp3"), "kino!");
            }
        }
        CloseArchive(handle);
        EXPECT_EQ(listed, row.listed);
        std::string names = NarrowList({row.name});
        int result = std::string(row.operation) == "pack"
                         ? PackFiles(&playlist[0], nullptr, &source[0], &names[0], 0)
                         : DeleteFiles(&playlist[0], &names[0]);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(ReadFile(dir + "/list.m3u"), row.after);
    }
}

// Packing into ANSI, UTF-8 and ASCII playlists: a new line goes in the code page only into an
// ANSI playlist, and only when the code page holds every character of it ("é" it does not).
TEST_F(CodePage, NewLinesOfAnAnsiPlaylistInTheCodePage) {
    const std::string legacy = Kino1251 + ".mp3\r\n", utf8 = KinoUtf8 + ".mp3\r\n";
    const struct {
        std::string before;
        std::u16string name;
        std::string added;
    } rows[] = {
        {legacy, u"\u041F\u0435\u0441\u043D\u044F.mp3", Pesnya1251 + ".mp3"},
        {legacy, u"caf\u00E9.mp3", "caf\xC3\xA9.mp3"},
        {"#EXTINF:1," + Kino1251 + "\r\na.mp3\r\n", u"\u041A.mp3", "\xCA.mp3"},
        {utf8, u"\u041F\u0435\u0441\u043D\u044F.mp3", PesnyaUtf8 + ".mp3"},
        {legacy + utf8, u"\u041A.mp3", "\xD0\x9A.mp3"},
        {"a.mp3\r\n", u"\u041A.mp3", "\xD0\x9A.mp3"},
    };
    std::u16string playlist = WidePath(dir + "/list.m3u"), source = WidePath(dir) + u"\\";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.added);
        WriteFile(dir + "/list.m3u", row.before);
        std::u16string names = WideList({row.name});
        EXPECT_EQ(PackFilesW(&playlist[0], nullptr, &source[0], &names[0], 0), 0);
        EXPECT_EQ(ReadFile(dir + "/list.m3u"), row.before + row.added + "\r\n");
    }
}

} // namespace
