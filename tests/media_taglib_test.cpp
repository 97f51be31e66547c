// The media reader beside TagLib on the same generated files: the field's library as the oracle,
// linked into this test program alone. Prints the table of both answers.
#include <gtest/gtest.h>

#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <cstdio>
#include <string>

#include "media/media.h"
#include "tests/media_files.h"
#include "tests/support.h"

namespace {

TEST(MediaTagLib, SameAnswers) {
    std::string dir = TestFolder();
    printf("| file | title | artist | s | TagLib title | TagLib artist | TagLib s |\n");
    printf("|---|---|---|---|---|---|---|\n");
    for (const MediaFile& f : MediaFiles()) {
        SCOPED_TRACE(f.Name);
        std::string path = dir + "/" + f.Name;
        WriteFile(path, f.Bytes);
        MediaInfo ours;
        ReadMediaInfo(WidePath(path).c_str(), &ours);
        std::string title = ours.TitleFromTags ? ours.Title : "";
        TagLib::FileRef ref(path.c_str());
        std::string theirTitle, theirArtist;
        int64_t theirSeconds = -1;
        if (!ref.isNull() && ref.tag()) {
            theirTitle = ref.tag()->title().to8Bit(true);
            theirArtist = ref.tag()->artist().to8Bit(true);
        }
        if (!ref.isNull() && ref.audioProperties()) {
            theirSeconds = ref.audioProperties()->lengthInSeconds();
        }
        printf("| %s | %s | %s | %lld | %s | %s | %lld |%s\n", f.Name, title.c_str(), ours.Artist,
               static_cast<long long>(ours.Seconds), theirTitle.c_str(), theirArtist.c_str(),
               static_cast<long long>(theirSeconds), f.TagLibDiffers ? " (differs)" : "");
        if (f.TagLibDiffers) {
            continue;
        }
        EXPECT_EQ(title, theirTitle);
        EXPECT_EQ(ours.Artist, theirArtist);
        // TagLib says 0 where it finds no length.
        EXPECT_EQ(ours.Seconds < 0 ? 0 : ours.Seconds, theirSeconds < 0 ? 0 : theirSeconds);
    }
}

} // namespace
