#include "path/path.h"
#include "playlist/entries.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Seg(const PathCursor& c) {
    return std::string(c.SegStart, c.SegLength);
}

std::string Slashed(std::string s) {
    for (char& ch : s) {
        if (ch == '\\') {
            ch = '/';
        }
    }
    return s;
}

// Effective segments joined by '|'.
std::string Effective(const char* path, bool rooted) {
    PathCursor c;
    OpenCursor(&c, path, WindowsPaths);
    std::string joined;
    for (bool ok = SkipToEffective(&c, rooted); ok;
         ok = NextSegment(&c) && SkipToEffective(&c, rooted)) {
        joined += (joined.empty() ? "" : "|") + Seg(c);
    }
    return joined;
}

TEST(Path, RootLength) {
    const struct {
        const char* path;
        size_t len;
    } cases[] = {
        {"", 0},
        {"Music\\a.mp3", 0},
        {"\\Music", 1},
        {"C:", 2},
        {"C:Music", 2},
        {"C:\\Music", 3},
        {"C:/Music", 3},
        {"\\\\?\\C:\\Music", 4},
        {"\\\\.\\pipe", 4},
        {"\\\\", 2},
        {"\\\\srv", 5},
        {"\\\\srv\\share", 11},
        {"\\\\srv\\share\\Music", 12},
        {"\\\\srv\\\\\\share\\\\Music", 14},
        {"\\\\?x\\y\\z", 7},
        {"1:x", 2},
        {"\\\\.", 3},
    };
    for (const auto& t : cases) {
        EXPECT_EQ(PathRootLength(t.path, WindowsPaths), t.len) << t.path;
        EXPECT_EQ(PathRootLength(Slashed(t.path).c_str(), WindowsPaths), t.len) << Slashed(t.path);
    }
}

TEST(Path, CursorWithoutSegments) {
    for (const char* path :
         {"", "C:\\", "C:\\\\/\\", "\\", "//", "\\\\srv\\share\\\\\\", "\\\\?\\"}) {
        PathCursor c;
        EXPECT_FALSE(OpenCursor(&c, path, WindowsPaths)) << path;
        EXPECT_EQ(c.SegLength, 0u);
        EXPECT_EQ(c.SegStart, c.BodyStart);
        EXPECT_EQ(c.SegEnd, c.BodyStart);
        EXPECT_FALSE(NextSegment(&c)) << path;
        EXPECT_FALSE(PrevSegment(&c)) << path;
        EXPECT_FALSE(SkipToEffective(&c, false)) << path;
        EXPECT_FALSE(SkipToEffective(&c, true)) << path;
    }
}

TEST(Path, CursorWalksBothWays) {
    const struct {
        const char* path;
        std::vector<std::string> segs;
    } cases[] = {
        {"a\\\\\\b\\\\", {"a", "b"}},
        {"C:\\\\Music", {"Music"}},
        {"\\\\srv\\share\\/x/..\\y", {"x", "..", "y"}},
        {"C:a/b", {"a", "b"}},
        {"\\\\.\\pipe\\p", {"pipe", "p"}},
    };
    for (const auto& t : cases) {
        PathCursor c;
        std::vector<std::string> fwd;
        for (bool ok = OpenCursor(&c, t.path, WindowsPaths); ok; ok = NextSegment(&c)) {
            fwd.push_back(Seg(c));
        }
        EXPECT_EQ(fwd, t.segs) << t.path;
        const PathCursor last = c;
        EXPECT_FALSE(NextSegment(&c));
        EXPECT_EQ(c.SegStart, last.SegStart);
        EXPECT_EQ(c.SegEnd, last.SegEnd);

        std::vector<std::string> back{Seg(c)};
        while (PrevSegment(&c)) {
            back.insert(back.begin(), Seg(c));
        }
        EXPECT_EQ(back, t.segs) << t.path;
        EXPECT_FALSE(PrevSegment(&c));
        EXPECT_EQ(Seg(c), t.segs[0]);
    }
}

TEST(Path, EffectiveSegments) {
    const struct {
        const char* body;
        const char* loose;
        const char* rooted;
    } cases[] = {
        {"a\\.\\b", "a|b", "a|b"},
        {"a\\..\\b", "b", "b"},
        {"a\\b\\..", "a", "a"},
        {"a\\b\\..\\..\\x", "x", "x"},
        {"..\\a", "..|a", "a"},
        {"a\\..\\..\\b", "..|b", "b"},
        {"..\\a\\..\\..", "..|..", ""},
        {".\\.", "", ""},
        {"a\\...\\.x\\..", "a|...", "a|..."},
        {"a\\\\\\b\\\\", "a|b", "a|b"},
        {"a\\b\\..\\c\\..\\..\\..\\d", "..|d", "d"},
    };
    for (const auto& t : cases) {
        EXPECT_EQ(Effective(t.body, false), t.loose) << t.body;
        EXPECT_EQ(Effective(t.body, true), t.rooted) << t.body;
        // A root in front must not change how the body resolves.
        EXPECT_EQ(Effective(("C:\\" + std::string(t.body)).c_str(), true), t.rooted) << t.body;
    }
}

TEST(Path, SameText) {
    const struct {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"MUSIC", "music", true}, {"AZ", "az", true},       {"\xC3\x89", "\xC3\xA9", false},
        {"C:\\", "C:/", false},   {"@[", "`{", false},      {"abc", "abcd", false},
        {"", "", true},           {"a\xFF", "A\xFF", true},
    };
    for (const auto& t : cases) {
        EXPECT_EQ(SameText(t.a, strlen(t.a), t.b, strlen(t.b), WindowsPaths), t.same)
            << t.a << " / " << t.b;
    }
}

TEST(Path, WalkCommonPrefix) {
    const struct {
        const char* a;
        const char* b;
        bool okA, okB;
        const char* segA;
        const char* segB;
    } cases[] = {
        {"C:\\Music\\Rock", "C:\\music\\Jazz\\a.mp3", true, true, "Rock", "Jazz"},
        {"C:\\Music", "C:\\Music\\a.mp3", false, true, "Music", "a.mp3"},
        {"C:\\Music\\a", "C:\\Music\\a", false, false, "a", "a"},
        {"C:\\x\\..\\Music\\.\\b", "C:\\Music\\c\\..\\b\\d", false, true, "b", "d"},
    };
    for (const auto& t : cases) {
        PathCursor a, b;
        OpenCursor(&a, t.a, WindowsPaths);
        OpenCursor(&b, t.b, WindowsPaths);
        WalkResult r = WalkCommonPrefix(&a, &b, true);
        EXPECT_EQ(r.okA, t.okA) << t.a << " / " << t.b;
        EXPECT_EQ(r.okB, t.okB) << t.a << " / " << t.b;
        EXPECT_EQ(Seg(a), t.segA);
        EXPECT_EQ(Seg(b), t.segB);
    }
}

TEST(Path, RelativePath) {
    const struct {
        const char* base;
        const char* target;
        const char* out;
    } cases[] = {
        {"C:\\Music", "C:\\Music\\a.mp3", "a.mp3"},
        {"C:\\Music\\Rock", "C:\\Music\\Jazz\\b.mp3", "..\\Jazz\\b.mp3"},
        {"C:\\a\\b\\c", "C:\\x.mp3", "..\\..\\..\\x.mp3"},
        {"C:\\Music\\Rock", "C:\\Music", ".."},
        {"C:\\Music\\Rock", "C:\\", "..\\.."},
        {"C:\\Music\\Rock", "C:\\Music\\Rocks\\a.mp3", "..\\Rocks\\a.mp3"},
        {"C:\\Music", "C:\\Music", "."},
        {"C:\\Music\\", "c:\\MUSIC", "."},
        {"C:\\Music", "c:\\MUSIC\\A.MP3", "A.MP3"},
        {"C:\\", "C:\\a.mp3", "a.mp3"},
        {"C:\\Music\\Rock", "C:\\Music\\Rock\\.\\a.mp3", "a.mp3"},
        {"C:\\a\\b", "C:\\a\\b\\..\\c\\x.mp3", "..\\c\\x.mp3"},
        {"C:\\..\\a", "C:\\a\\x.mp3", "x.mp3"},
        {"C:/Music", "C:/music/x/a.mp3", "x\\a.mp3"},
        {"\\\\srv\\share\\m", "\\\\SRV\\Share\\m\\a.mp3", "a.mp3"},
        {"a\\b", "a\\c", "..\\c"},
        {"a", "..\\x", "..\\..\\x"},
        {"C:\\Music", "D:\\a.mp3", ""},
        {"C:\\Music", "C:/Music/a.mp3", ""},
        {"C:", "C:\\a.mp3", ""},
        {"\\\\srv\\share", "\\\\srv\\share\\a.mp3", ""},
        {"\\\\?\\C:\\m", "C:\\m\\a.mp3", ""},
        {"C:\\M\xC3\x89", "C:\\m\xC3\xA9\\a", "..\\m\xC3\xA9\\a"},
        // Dots that make no "." or ".." segment resolve nothing; one segment that does, at the
        // start, the end or after a run of separators, is resolved wherever it stands.
        {"C:\\m", "C:\\m\\...\\..a\\a..\\.b.\\x", "...\\..a\\a..\\.b.\\x"},
        {"C:\\m\\...", "C:\\m\\x", "..\\x"},
        {"C:\\m", "C:\\m\\x\\..", "."},
        {"C:\\m", "C:\\m\\x\\\\/.", "x"},
        {"C:\\m\\x.\\..", "C:\\m\\y", "y"},
        {"..\\m", "..\\m\\a.b", "a.b"},
        {"C:.", "C:a", "a"},
    };
    for (const auto& t : cases) {
        char out[64];
        memset(out, 'Z', sizeof out);
        EXPECT_EQ(RelativePath(t.base, t.target, out, sizeof out, WindowsPaths), strlen(t.out))
            << t.base;
        EXPECT_STREQ(out, t.out) << t.base << " / " << t.target;
    }
}

TEST(Path, RelativePathSmallBuffer) {
    const struct {
        const char* target;
        size_t size;
        const char* out;
        size_t result;
    } cases[] = {
        {"C:\\Music\\ab", 5, "..\\a", 5}, {"C:\\Music\\ab", 4, "..\\", 5},
        {"C:\\Music\\ab", 1, "", 5},      {"C:\\Music\\ab", 0, nullptr, 5},
        {"C:\\Music\\Rock", 1, "", 1},    {"C:\\Music\\Rock", 0, nullptr, 1},
        {"D:\\x", 0, nullptr, 0},
    };
    for (const auto& t : cases) {
        char buf[16];
        memset(buf, 'Z', sizeof buf);
        EXPECT_EQ(RelativePath("C:\\Music\\Rock", t.target, buf, t.size, WindowsPaths), t.result);
        if (t.out) {
            EXPECT_STREQ(buf, t.out) << t.target << " size " << t.size;
        }
        for (size_t i = t.size; i < sizeof buf; ++i) {
            EXPECT_EQ(buf[i], 'Z') << t.target << " size " << t.size << " index " << i;
        }
    }
}

// Independent resolver for rooted paths: splits the body and applies "." and ".." on a stack,
// dropping ".." at the top. Names are folded to ASCII lower case for comparison.
void Resolve(const std::string& body, std::vector<std::string>* stack) {
    std::string name;
    for (size_t i = 0; i <= body.size(); ++i) {
        if (i < body.size() && body[i] != '\\' && body[i] != '/') {
            char ch = body[i];
            name += (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch;
            continue;
        }
        if (name == "..") {
            if (!stack->empty()) {
                stack->pop_back();
            }
        } else if (!name.empty() && name != ".") {
            stack->push_back(name);
        }
        name.clear();
    }
}

TEST(Path, RelativePathProperties) {
    static const char* const roots[] = {
        "C:\\",         "c:/",     "C:",     "\\", "/", "", "\\\\srv\\share\\",
        "//SRV/Share/", "\\\\?\\", "\\\\srv"};
    static const char* const names[] = {"a",  "A",   "b",  "Music", "mUSIC",    ".",
                                        "..", "...", ".x", "x.mp3", "\xC3\xA9", "\xC3\x89"};
    static const char* const seps[] = {"\\", "/", "\\\\", "/\\/"};
    std::mt19937 rng(20240611u);
    auto pick = [&rng](const auto& arr) { return arr[rng() % (sizeof arr / sizeof arr[0])]; };
    auto flipCase = [&rng](std::string s) {
        for (char& ch : s) {
            if (((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z')) && rng() % 2) {
                ch = static_cast<char>(ch ^ 0x20);
            }
        }
        return s;
    };

    int resolved = 0;
    for (int iter = 0; iter < 3000; ++iter) {
        std::vector<std::string> segs;
        for (uint32_t n = rng() % 6; n > 0; --n) {
            segs.push_back(pick(names));
        }
        // The target mostly shares a prefix of the base's names, with case and separators varied.
        std::string base = pick(roots);
        std::string target = rng() % 8 ? flipCase(base) : pick(roots);
        size_t shared = rng() % (segs.size() + 1);
        for (size_t i = 0; i < segs.size(); ++i) {
            base += segs[i] + (i + 1 < segs.size() || rng() % 3 == 0 ? pick(seps) : "");
        }
        for (size_t i = 0; i < shared; ++i) {
            target += flipCase(segs[i]) + pick(seps);
        }
        for (uint32_t n = rng() % 4; n > 0; --n) {
            target += std::string(pick(names)) + pick(seps);
        }
        SCOPED_TRACE(base + " | " + target);

        char full[256];
        const size_t complete =
            RelativePath(base.c_str(), target.c_str(), full, sizeof full, WindowsPaths);
        ASSERT_LT(complete, sizeof full);
        for (size_t size = 0; size <= complete + 1; ++size) {
            char buf[sizeof full + 8];
            memset(buf, 0x7F, sizeof buf);
            ASSERT_EQ(RelativePath(base.c_str(), target.c_str(), buf, size, WindowsPaths),
                      complete);
            if (size > 0) {
                ASSERT_EQ(std::string(buf, size - 1), std::string(full, size - 1));
                ASSERT_EQ(buf[size - 1], 0);
            }
            for (size_t i = size; i < sizeof buf; ++i) {
                ASSERT_EQ(buf[i], 0x7F) << "size " << size << " index " << i;
            }
        }

        const size_t root = PathRootLength(base.c_str(), WindowsPaths);
        if (complete == 0 || root == 0 || (base[root - 1] != '\\' && base[root - 1] != '/')) {
            continue;
        }
        std::vector<std::string> viaBase, direct;
        Resolve(base.substr(root), &viaBase);
        Resolve(full, &viaBase);
        Resolve(target.substr(root), &direct);
        ASSERT_EQ(viaBase, direct) << full;
        ++resolved;
    }
    EXPECT_GT(resolved, 1000);
}

// A target below its base takes a shorter way than the walk; both must give the same bytes and
// length under both systems' rules, for any size of output, whatever the names hold: dots that
// are segments and dots that are not, runs of separators, roots the base and target share or
// only seem to share.
TEST(Path, RelativePathBelowTheBaseAsTheWalkGivesIt) {
    static const char* const roots[] = {"C:\\",    "c:/", "C:", "\\", "/", "", "\\\\srv\\share\\",
                                        "\\\\?\\", "//"};
    static const char* const names[] = {"a",  "Music", ".",    "..",       "...",
                                        ".x", "x.",    "x..y", "\xC3\xA9", "A"};
    static const char* const seps[] = {"\\", "/", "\\\\", "/\\/"};
    std::mt19937 rng(20261209u);
    auto pick = [&rng](const auto& arr) { return arr[rng() % (sizeof arr / sizeof arr[0])]; };
    int below = 0;
    for (int iter = 0; iter < 20000; ++iter) {
        std::string base = pick(roots);
        for (uint32_t n = rng() % 4; n > 0; --n) {
            base += std::string(pick(names)) + pick(seps);
        }
        if (rng() % 4 == 0) {
            base += pick(names); // a base without its last separator
        }
        std::string target = rng() % 6 ? base : std::string(pick(roots));
        for (uint32_t n = rng() % 4; n > 0; --n) {
            target += std::string(rng() % 3 ? pick(seps) : "") + pick(names);
        }
        if (rng() % 4 == 0) {
            target += pick(seps);
        }
        below += target.compare(0, base.size(), base) == 0;
        for (const PathStyle* style : {&WindowsPaths, &PosixPaths}) {
            char full[256], general[256];
            size_t complete = RelativePath(base.c_str(), target.c_str(), full, sizeof full, *style);
            ASSERT_EQ(complete, GeneralRelativePathForTests(base.c_str(), target.c_str(), general,
                                                            sizeof general, *style))
                << base << " | " << target;
            ASSERT_STREQ(full, general) << base << " | " << target;
            size_t size = rng() % (complete + 2);
            char cut[256], cutGeneral[256];
            memset(cut, 0x7F, sizeof cut);
            memset(cutGeneral, 0x7F, sizeof cutGeneral);
            RelativePath(base.c_str(), target.c_str(), cut, size, *style);
            GeneralRelativePathForTests(base.c_str(), target.c_str(), cutGeneral, size, *style);
            ASSERT_EQ(memcmp(cut, cutGeneral, sizeof cut), 0) << base << " | " << target;
        }
    }
    EXPECT_GT(below, 10000);
}

// The same routines under POSIX rules: one root, exact case, '/' written.
TEST(PathPosix, RootsAndRelativePaths) {
    const struct {
        const char* base;
        const char* target;
        const char* out;
    } cases[] = {
        {"/home/u", "/home/u/a.mp3", "a.mp3"},
        {"/home/u/Rock", "/home/u/Jazz/b.mp3", "../Jazz/b.mp3"},
        {"/home/u", "/home/U/a.mp3", "../U/a.mp3"}, // case tells names apart
        {"/home/u", "/HOME/u/a", "../../HOME/u/a"},
        {"/", "/a.mp3", "a.mp3"},
        {"/m", "//m/./a.mp3", "a.mp3"}, // more slashes are the same root
        {"/m/", "/m", "."},
        {"/m", "m/a.mp3", ""},
        {"/m", "C:/m/a.mp3", ""}, // no drives here: a relative path
        {"/a/b", "/a/b\\c/x.mp3", "c/x.mp3"},
    };
    for (const auto& t : cases) {
        char out[64];
        EXPECT_EQ(RelativePath(t.base, t.target, out, sizeof out, PosixPaths), strlen(t.out));
        EXPECT_STREQ(out, t.out) << t.base << " / " << t.target;
    }
    EXPECT_FALSE(SameText("a", 1, "A", 1, PosixPaths));
    for (const auto& [path, length] : std::vector<std::pair<const char*, size_t>>{
             {"/x", 1}, {"//x", 1}, {"\\x", 1}, {"C:\\x", 0}, {"x", 0}, {"", 0}}) {
        EXPECT_EQ(PathRootLength(path, PosixPaths), length) << path;
    }
}

TEST(Path, FullPathsByStyle) {
    const struct {
        const char* path;
        bool windows, posix;
    } cases[] = {
        {"C:\\x", true, false},     {"C:/x", true, false}, {"C:x", false, false},
        {"\\\\srv\\s", true, true}, {"//x", true, true},   {"/x", false, true},
        {"\\x", false, true},       {"x/y", false, false}, {"", false, false},
    };
    for (const auto& t : cases) {
        EXPECT_EQ(IsFullPath(t.path, WindowsPaths), t.windows) << t.path;
        EXPECT_EQ(IsFullPath(t.path, PosixPaths), t.posix) << t.path;
    }
}

TEST(Path, TreePathNamesForAHostThatSplitsAtSlashes) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"a.mp3", "a.mp3"},
        {"sub\\b.mp3", "sub/b.mp3"},
        {".//sub/./b.mp3", "sub/b.mp3"},
        {"sub/../x.mp3", "x.mp3"},
        {"../Jazz/x.mp3", "(..)/Jazz/x.mp3"},
        {"..\\..\\x.mp3", "(..)/(..)/x.mp3"},
        {"a/../../x.mp3", "(..)/x.mp3"},
        {"/srv/music/x.mp3", "(root)/srv/music/x.mp3"},
        {"//srv/x", "(root)/srv/x"},
        {"/../x", "(root)/x"},
        {"\\Music\\x.mp3", "(root)/Music/x.mp3"},
        {"C:\\Music\\x.mp3", "(C:)/Music/x.mp3"},
        {"c:/Music/../x.mp3", "(c:)/x.mp3"},
        {"C:x.mp3", "(C:)/x.mp3"},
        {"C:..\\x.mp3", "(C:)/(..)/x.mp3"},
        {"\\\\srv\\share\\x.mp3", "(\\\\srv\\share)/x.mp3"},
        {"\\\\?\\C:\\x.mp3", "(\\\\?)/C:/x.mp3"},
        {"", ""},
        {".", ""},
        {"..", "(..)"},
        {"/", "(root)"},
    };
    for (const auto& [path, name] : cases) {
        char out[64];
        memset(out, 'Z', sizeof out);
        EXPECT_EQ(TreePath(path, out, sizeof out, PosixNames), strlen(name)) << path;
        EXPECT_STREQ(out, name) << path;
    }
}

// Whatever the path, the name never starts at a root or with a step up, holds no empty, "." or
// ".." segment, and a short buffer gets the complete name's prefix.
TEST(Path, TreePathProperties) {
    static const char* const parts[] = {"a", "B", ".", "..", "...", "C:", "/", "\\", "//", "x y"};
    std::mt19937 rng(20261208u);
    for (int iter = 0; iter < 3000; ++iter) {
        std::string path;
        for (uint32_t n = rng() % 8; n > 0; --n) {
            path += parts[rng() % (sizeof parts / sizeof parts[0])];
        }
        SCOPED_TRACE(path);
        char full[128];
        size_t complete = TreePath(path.c_str(), full, sizeof full, PosixNames);
        ASSERT_LT(complete, sizeof full);
        std::string name(full);
        ASSERT_EQ(name.size(), complete);
        EXPECT_TRUE(name.empty() || (name[0] != '/' && name.back() != '/'));
        size_t start = 0;
        while (start <= name.size() && !name.empty()) {
            size_t end = name.find('/', start);
            std::string seg = name.substr(start, end == std::string::npos ? end : end - start);
            EXPECT_TRUE(seg != "" && seg != "." && seg != "..") << name;
            if (end == std::string::npos) {
                break;
            }
            start = end + 1;
        }
        for (size_t size = 0; size <= complete + 1; ++size) {
            char buf[sizeof full + 4];
            memset(buf, 0x7F, sizeof buf);
            ASSERT_EQ(TreePath(path.c_str(), buf, size, PosixNames), complete);
            if (size > 0) {
                ASSERT_EQ(std::string(buf, size - 1), name.substr(0, size - 1));
                ASSERT_EQ(buf[std::min(size - 1, complete)], 0);
            }
            ASSERT_EQ(buf[size], 0x7F);
        }
    }
}

} // namespace
