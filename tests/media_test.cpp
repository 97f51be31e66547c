// The media reader over a table of generated files, one or more per container, with and without
// tags and with broken headers; and over every cut of them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "media/media.h"
#include "text/text.h"
#include "tests/media_files.h"
#include "tests/support.h"

namespace {

std::string Stem(const std::string& name) {
    return name.substr(0, name.rfind('.'));
}

MediaInfo ParseWhole(const std::string& bytes) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data());
    MediaBytes b = {{p, bytes.size(), 0}, {}, {p, bytes.size(), 0}, bytes.size()};
    MediaInfo info;
    ParseMedia(b, &info);
    return info;
}

TEST(Media, TableOfFiles) {
    std::string dir = TestFolder();
    for (const MediaFile& f : MediaFiles()) {
        SCOPED_TRACE(f.Name);
        std::string path = dir + "/" + f.Name;
        WriteFile(path, f.Bytes);
        MediaInfo info;
        ASSERT_TRUE(ReadMediaInfo(WidePath(path).c_str(), &info));
        EXPECT_EQ(info.Title, f.Title.empty() ? Stem(f.Name) : f.Title);
        EXPECT_EQ(info.TitleFromTags, !f.Title.empty());
        EXPECT_EQ(info.Artist, f.Artist);
        EXPECT_EQ(info.Seconds, f.Seconds);
        EXPECT_EQ(info.Seconds, info.Milliseconds < 0 ? -1 : info.Milliseconds / 1000);
        // What the bounded reads find is what the whole file says.
        MediaInfo whole = ParseWhole(f.Bytes);
        EXPECT_EQ(std::string(whole.Title), f.Title);
        EXPECT_EQ(whole.Artist, f.Artist);
        EXPECT_EQ(whole.Milliseconds, info.Milliseconds);
    }
}

// Files cut anywhere, and their bytes split between head and tail at any point, stay within
// their bytes (the sanitizers watch) and give text that is UTF-8 and terminated.
TEST(Media, EveryCutStaysInBounds) {
    for (const MediaFile& f : MediaFiles()) {
        SCOPED_TRACE(f.Name);
        size_t size = f.Bytes.size(), step = size / 97 + 1;
        for (size_t cut = 0; cut <= size; cut += step) {
            std::string bytes = f.Bytes.substr(0, cut);
            const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data());
            size_t head = cut / 2;
            MediaBytes b = {{p, head, 0},
                            {p + head, cut - head > 100 ? 100 : cut - head, head},
                            {p + cut / 3, cut - cut / 3, cut / 3},
                            cut};
            MediaInfo info;
            memset(&info, 0x55, sizeof info);
            ParseMedia(b, &info);
            ASSERT_LT(strlen(info.Title), sizeof info.Title);
            ASSERT_LT(strlen(info.Artist), sizeof info.Artist);
            EXPECT_TRUE(IsUtf8Text(info.Title, strlen(info.Title)));
            EXPECT_GE(info.Seconds, -1);
        }
    }
}

// A file with no tags, or none at all, is named by its file name without the extension.
TEST(Media, NameWithoutTags) {
    struct Row {
        const char16_t* Path;
        const char* Title;
    } rows[] = {
        {u"C:\\Music\\b.c.mp3", "b.c"},         {u"/music/Song.flac", "Song"},
        {u"dir\\.hidden", ".hidden"},           {u"no-extension", "no-extension"},
        {u"a/b\\Caf\u00E9.ogg", "Caf\xC3\xA9"}, {u"x.", "x"},
    };
    for (const Row& r : rows) {
        MediaInfo info;
        EXPECT_FALSE(ReadMediaInfo(r.Path, &info)); // none of them exists
        EXPECT_STREQ(info.Title, r.Title);
        EXPECT_FALSE(info.TitleFromTags);
        EXPECT_STREQ(info.Artist, "");
        EXPECT_EQ(info.Seconds, -1);
    }
}

} // namespace
