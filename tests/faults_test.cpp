// Every file open, read, write, lock, flush and replacement of extracting, testing, adding and
// deleting is made to fail in turn. After each failure the result must be an error, the playlist
// must be as before or as intended (or else the intended playlist survives in the kept temporary
// file), and nothing stays open.
#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "platform/faults.h"
#include "playlist/playlist.h"
#include "plugin/exports.h"
#include "tests/support.h"

namespace {

std::u16string List(std::initializer_list<const char16_t*> names) {
    std::u16string list;
    for (const char16_t* n : names) {
        list += n;
        list += u'\0';
    }
    return list + u'\0';
}

// Names in the folder other than the ones the test made itself: temporary files left behind.
std::string Leftovers(const std::string& dir, const std::string& own) {
    std::string all = FolderListing(dir), rest;
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find('|', start);
        std::string name = all.substr(start, end == std::string::npos ? end : end - start);
        if (!name.empty() && ("|" + own + "|").find("|" + name + "|") == std::string::npos) {
            rest += (rest.empty() ? "" : "|") + name;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return rest;
}

struct Rewrite {
    const char* what;
    std::string before, intended;
    std::function<int(const std::string& dir)> run;
    // The playlist has a second name, so that its new version is copied over it.
    bool twin = false;
};

void WalkFaults(const Rewrite& r) {
    for (int n = 1;; ++n) {
        SCOPED_TRACE(std::string(r.what) + ", failing operation " + std::to_string(n));
        std::string dir = TestFolder();
        WriteFile(dir + "/a.mp3", "a");
        WriteFile(dir + "/b.mp3", "b");
        if (!r.before.empty()) {
            WriteFile(dir + "/list.m3u", r.before);
        }
        if (r.twin) {
            std::filesystem::create_hard_link(std::filesystem::u8path(dir + "/list.m3u"),
                                              std::filesystem::u8path(dir + "/twin.m3u"));
        }
        FailNthFileOperation(n);
        int result = r.run(dir);
        bool hit = FaultWasHit();
        FailNthFileOperation(0);
        EXPECT_EQ(OpenStreams(), 0);
        std::string now = ReadFile(dir + "/list.m3u");
        // An empty `before` stands for a playlist that did not exist.
        bool asBefore = r.before.empty() ? !FileExists(dir + "/list.m3u") : now == r.before;
        std::string left = Leftovers(dir, "a.mp3|b.mp3|list.m3u|twin.m3u");
        if (r.twin) {
            EXPECT_EQ(ReadFile(dir + "/twin.m3u"), now) << "the second name parted";
        }
        // Lines the plug-in adds end as this build writes them (the rewrites here keep CR LF).
        const std::string intended = AsWritten(r.before, r.intended, r.before.size());
        // A failure that did not matter (an open that would have failed anyway, a read past
        // what was needed) may end in success, but then with exactly the intended playlist.
        if (result == 0) {
            EXPECT_EQ(now, intended);
            EXPECT_EQ(left, "");
        } else if (asBefore || (now == intended && left.empty())) {
            EXPECT_EQ(left, "");
        } else {
            // The copy back failed part way: the temporary file is the one complete copy.
            ASSERT_NE(left, "") << "playlist damaged and no copy kept: " << now;
            EXPECT_EQ(ReadFile(dir + "/" + left), intended);
        }
        if (!hit) {
            EXPECT_GT(n, 3) << "walked too few operations to mean anything";
            return;
        }
        ASSERT_LT(n, 200);
    }
}

TEST(Faults, DeleteFailsCleanlyAtEveryStep) {
    WalkFaults({"delete", "#EXTM3U\r\n#EXTINF:1,A\r\na.mp3\r\nb.mp3\r\n", "#EXTM3U\r\nb.mp3\r\n",
                [](const std::string& dir) {
                    std::u16string list = List({u"a.mp3"});
                    return DeleteFilesW(&WidePath(dir + "/list.m3u")[0], &list[0]);
                }});
}

TEST(Faults, AddFailsCleanlyAtEveryStep) {
    WalkFaults({"add", "a.mp3", "a.mp3\r\nb.mp3\r\n", [](const std::string& dir) {
                    std::u16string list = List({u"a.mp3", u"b.mp3"});
                    std::u16string source = WidePath(dir) + u"\\";
                    return PackFilesW(&WidePath(dir + "/list.m3u")[0], nullptr, &source[0],
                                      &list[0], 0);
                }});
}

// The new version copied over a playlist that has two names, when the replacement cannot be.
TEST(Faults, CopyOverAPlaylistFailsCleanlyAtEveryStep) {
    WalkFaults({"delete", "#EXTM3U\r\n#EXTINF:1,A\r\na.mp3\r\nb.mp3\r\n", "#EXTM3U\r\nb.mp3\r\n",
                [](const std::string& dir) {
                    std::u16string list = List({u"a.mp3"});
                    return DeleteFilesW(&WidePath(dir + "/list.m3u")[0], &list[0]);
                },
                true});
}

TEST(Faults, AddToNewPlaylistFailsCleanlyAtEveryStep) {
    WalkFaults({"new", "", "#EXTM3U\r\na.mp3\r\n", [](const std::string& dir) {
                    std::u16string list = List({u"a.mp3"});
                    std::u16string source = WidePath(dir) + u"\\";
                    return PackFilesW(&WidePath(dir + "/list.m3u")[0], nullptr, &source[0],
                                      &list[0], 0);
                }});
}

// Lists longer than a batch: delete rewrites once per batch through two temporary files, add
// reads the playlist once per batch.
TEST(Faults, BatchesFailCleanlyAtEveryStep) {
    InTableMode in(TableModes[2]);
    WalkFaults({"delete in batches", "#EXTM3U\r\n#EXTINF:1,A\r\na.mp3\r\nb.mp3\r\nc.mp3\r\n",
                "#EXTM3U\r\nb.mp3\r\n", [](const std::string& dir) {
                    std::u16string list = List({u"x.mp3", u"a.mp3", u"c.mp3", u"y.mp3", u"z.mp3"});
                    return DeleteFilesW(&WidePath(dir + "/list.m3u")[0], &list[0]);
                }});
    // UTF-16: each rewrite of the one before keeps its byte order and mark.
    WalkFaults({"delete UTF-16 in batches",
                "\xFF\xFE" + Utf16Le(u"#EXTINF:1,A\r\na.mp3\r\nb.mp3\r\nc.mp3\r\n"),
                "\xFF\xFE" + Utf16Le(u"b.mp3\r\n"), [](const std::string& dir) {
                    std::u16string list = List({u"x.mp3", u"a.mp3", u"c.mp3", u"y.mp3", u"z.mp3"});
                    return DeleteFilesW(&WidePath(dir + "/list.m3u")[0], &list[0]);
                }});
    // The next batch passes over the blank line that kept a line from reading as a mark (the
    // line's name as code page 1252 reads it).
    if (Legacy1252()) {
        WalkFaults({"delete a guarded line in batches", "a.mp3\r\n\xFF\xFEx.mp3\r\nb.mp3\r\n",
                    "b.mp3\r\n", [](const std::string& dir) {
                        std::u16string list = List({u"a.mp3", u"q", u"\u00FF\u00FEx.mp3"});
                        return DeleteFilesW(&WidePath(dir + "/list.m3u")[0], &list[0]);
                    }});
    }
    WalkFaults({"add in batches", "a.mp3", "a.mp3\r\nb.mp3\r\nc.mp3\r\nb.mp3\r\n",
                [](const std::string& dir) {
                    std::u16string list = List({u"a.mp3", u"b.mp3", u"c.mp3", u"a.mp3", u"b.mp3"});
                    std::u16string source = WidePath(dir) + u"\\";
                    return PackFilesW(&WidePath(dir + "/list.m3u")[0], nullptr, &source[0],
                                      &list[0], 0);
                }});
}

// Copying out and testing: every failure is an error, and a copy that failed, part way through
// included, leaves nothing at the destination; a test writes nothing at all.
TEST(Faults, ExtractAndTestFailWithAnErrorAtEveryStep) {
    std::string song(2 * size_t{FileCopyBlock} + 5, 'x');
    for (int op : {int{PK_EXTRACT}, int{PK_TEST}}) {
        int partWay = 0; // failures after the destination was opened
        for (int n = 1;; ++n) {
            SCOPED_TRACE("operation " + std::to_string(op) + ", failing file operation " +
                         std::to_string(n));
            std::string dir = TestFolder();
            WriteFile(dir + "/song.mp3", song);
            WriteFile(dir + "/list.m3u", "#EXTM3U\r\nsong.mp3\r\n");
            std::u16string playlist = WidePath(dir + "/list.m3u");
            std::u16string dest = WidePath(dir + "/out.mp3");
            tOpenArchiveDataW open = {};
            open.ArcName = &playlist[0];
            FailNthFileOperation(n);
            void* handle = OpenArchiveW(&open);
            static tHeaderDataExW header;
            int result = handle ? ReadHeaderExW(handle, &header) : -1;
            if (result == 0) {
                result = ProcessFileW(handle, op, nullptr, &dest[0]);
                partWay += result == E_EREAD || result == E_EWRITE;
            }
            bool hit = FaultWasHit();
            FailNthFileOperation(0);
            CloseArchive(handle);
            EXPECT_EQ(OpenStreams(), 0);
            EXPECT_EQ(ReadFile(dir + "/song.mp3"), song);
            if (result == 0 && op == PK_EXTRACT) {
                EXPECT_EQ(ReadFile(dir + "/out.mp3"), song);
            } else {
                EXPECT_EQ(FolderListing(dir), "list.m3u|song.mp3") << result;
            }
            if (!hit) {
                // Both a read and (when copying) a write failed after the start.
                EXPECT_GE(partWay, op == PK_EXTRACT ? 2 : 1);
                break;
            }
            ASSERT_LT(n, 200);
        }
    }
}

} // namespace
