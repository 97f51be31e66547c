// The PLS module's shorter paths held to its general ones and to what it made before: a delete
// that marks while it indexes, a walk over the entries in one reading, the line parse per
// encoding and the scan for line ends, on generated texts of every awkward kind.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "formats/pls.h"
#include "tests/pls_digests.h"
#include "tests/pls_generated.h"

namespace {

using namespace plsgen;

TEST(PlsPaths, RewritesAsBeforeWhicheverWayTheyMark) {
    static_assert(sizeof Digests / sizeof Digests[0] >= 200, "enough cases");
    for (uint32_t seed = 0; seed < sizeof Digests / sizeof Digests[0]; ++seed) {
        EXPECT_EQ(Digest(seed, MarkApart), Digests[seed]) << "case " << seed;
        EXPECT_EQ(Digest(seed, MarkWhileIndexing), Digests[seed]) << "case " << seed;
    }
}

TEST(PlsPaths, TheCasesReachEveryKindOfIndex) {
    // The digests mean little unless the cases reach each way an index can go.
    std::unique_ptr<PlsIndex> index(new PlsIndex);
    int listed = 0, bits = 0, tooMany = 0, marked = 0;
    for (uint32_t seed = 0; seed < sizeof Digests / sizeof Digests[0]; ++seed) {
        Memory m;
        m.Bytes = Text(seed);
        ByteSource source = {Read, Seek, Failed, &m};
        PlsIndexed indexed = IndexAndMarkPls(&source, index.get(), "\n", Named, nullptr);
        tooMany += indexed == PlsIndexTooMany;
        listed += indexed == PlsIndexRead && index->Listed && index->Count > 0;
        bits += indexed == PlsIndexRead && !index->Listed;
        marked += indexed == PlsIndexRead && AnyMarked(index.get());
    }
    EXPECT_GE(listed, 100);
    EXPECT_GE(bits, 3);
    EXPECT_GE(tooMany, 2);
    EXPECT_GE(marked, 100);
}

struct Visited {
    std::vector<std::string> Locations;
};

void Visit(void* context, const char* location, size_t length, TextEncoding encoding, bool whole) {
    static_cast<Visited*>(context)->Locations.push_back(std::string(location, length) + "|" +
                                                        std::to_string(encoding) + "|" +
                                                        std::to_string(whole));
}

// The index IndexPls made, and the one made from a walk's shape, alike in all a rewrite reads.
void ExpectSameIndex(const PlsIndex& read, const PlsIndex& shaped, uint32_t seed) {
    EXPECT_EQ(read.Count, shaped.Count) << "case " << seed;
    EXPECT_EQ(read.Kept, shaped.Kept) << "case " << seed;
    EXPECT_EQ(read.Listed, shaped.Listed) << "case " << seed;
    EXPECT_EQ(read.LastEntryLine, shaped.LastEntryLine) << "case " << seed;
    EXPECT_EQ(read.HeaderLine, shaped.HeaderLine) << "case " << seed;
    EXPECT_STREQ(read.FileKey, shaped.FileKey) << "case " << seed;
    EXPECT_STREQ(read.NewLineEnd, shaped.NewLineEnd) << "case " << seed;
    EXPECT_EQ(read.Encoding, shaped.Encoding) << "case " << seed;
    size_t words = read.Listed ? read.Count : (read.Count + 31) / 32;
    EXPECT_EQ(memcmp(read.N, shaped.N, words * sizeof read.N[0]), 0) << "case " << seed;
}

TEST(PlsPaths, AWalkVisitsWhatTheCursorListsAndCountsAsCountPlsKeys) {
    std::unique_ptr<PlsCursor> cursor(new PlsCursor);
    std::unique_ptr<PlsIndex> read(new PlsIndex), shaped(new PlsIndex);
    int rising = 0, unordered = 0, known = 0;
    for (uint32_t seed = 0; seed < sizeof Digests / sizeof Digests[0]; ++seed) {
        Memory m;
        m.Bytes = Text(seed);
        m.Most = seed % 2 ? 3 : ~size_t{0};
        ByteSource source = {Read, Seek, Failed, &m};
        Visited walked, fileKeysOnly;
        PlsKeyCounts counts = {9, 9, 9};
        PlsShape shape;
        const char* lineEnd = seed % 2 ? "\n" : "\r\n";
        PlsWalked walk = WalkPls(&source, Visit, &walked, &counts, &shape, lineEnd);
        ASSERT_NE(walk, PlsWalkUnreadable) << "case " << seed;
        // Without counts, only lines that may be FileN keys or headers are parsed: the same.
        EXPECT_EQ(WalkPls(&source, Visit, &fileKeysOnly, nullptr), walk) << "case " << seed;
        EXPECT_EQ(fileKeysOnly.Locations, walked.Locations) << "case " << seed;
        if (walk == PlsWalkUnordered) {
            ++unordered;
            continue;
        }
        ++rising;
        if (shape.Known) {
            ++known;
            PlsIndexed indexed = IndexPls(&source, read.get(), lineEnd);
            EXPECT_EQ(IndexFromShape(&shape, shaped.get()), indexed) << "case " << seed;
            if (indexed == PlsIndexRead) {
                ExpectSameIndex(*read, *shaped, seed);
            }
        }
        // Numbers that rise as they stand: the walk's order is the listing's.
        Visited listed;
        StartPlsCursor(cursor.get(), &source);
        char location[PlsLineBytes + 1];
        size_t length = 0;
        TextEncoding encoding = Text8Bit;
        bool whole = false;
        while (NextPlsLocation(cursor.get(), location, &length, &encoding, &whole) == 1) {
            Visit(&listed, location, length, encoding, whole);
        }
        EXPECT_EQ(walked.Locations, listed.Locations) << "case " << seed;
        uint32_t files = 0, titles = 0, lengths = 0;
        ASSERT_TRUE(CountPlsKeys(&source, &files, &titles, &lengths));
        EXPECT_EQ(counts.Files, files) << "case " << seed;
        EXPECT_EQ(counts.Titles, titles) << "case " << seed;
        EXPECT_EQ(counts.Lengths, lengths) << "case " << seed;
    }
    EXPECT_GE(rising, 100);
    EXPECT_GE(known, 80);
    EXPECT_GE(unordered, 20);
}

TEST(PlsPaths, AWalkGivesUpWhereOnlyTheCursorKnows) {
    struct Row {
        const char* text;
        PlsWalked walked;
        size_t visits;
    } rows[] = {
        {"[playlist]\nFile1=a\nFile2=b\nFile2=x\nFile3=c\n", PlsWalkRead, 3}, // a repeat, dense
        {"[playlist]\nFile2=a\nFile5=b\nFile9=c\n", PlsWalkRead, 3},          // gaps, rising
        {"[playlist]\nFile2=a\nFile5=b\nFile3=c\n", PlsWalkUnordered, 2},     // a gap filled late
        {"[playlist]\nFile2=a\nFile5=b\nFile5=c\n", PlsWalkUnordered, 2},     // a repeat past a gap
        {"[playlist]\nFile1=a\n[other]\nFile1=b\n[playlist]\nfile2=c\n", PlsWalkRead, 2},
        {"File1=a\n", PlsWalkRead, 0}, // no section: no entry
        {"", PlsWalkRead, 0},
    };
    for (const Row& row : rows) {
        Memory m;
        m.Bytes = row.text;
        ByteSource source = {Read, Seek, Failed, &m};
        Visited walked;
        PlsKeyCounts counts;
        EXPECT_EQ(WalkPls(&source, Visit, &walked, &counts), row.walked) << row.text;
        EXPECT_EQ(walked.Locations.size(), row.visits) << row.text;
    }
}

bool SameLine(const PlsLine& a, const PlsLine& b) {
    return a.Kind == b.Kind && a.Key == b.Key && a.N == b.N && a.KeyStart == b.KeyStart &&
           a.DigitsStart == b.DigitsStart && a.DigitsEnd == b.DigitsEnd &&
           a.ValueStart == b.ValueStart && a.ValueEnd == b.ValueEnd;
}

TEST(PlsPaths, LinesParseAlikeInEveryEncoding) {
    // 8-bit text is parsed apart from UTF-16: the units must say the same either way.
    const char* lines[] = {
        "File1=a.mp3",
        " file12 = \"b.mp3\" ",
        "FILE999999999=c",
        "File1000000000=d",
        "File0=e",
        "Title3=",
        "Length3=-1",
        "NumberOfEntries=3",
        "numberofentries",
        "[playlist]",
        " [PlayList]\t",
        "[other]",
        "[playlist",
        "# File1=x",
        "; File1=x",
        "",
        "   ",
        "=v",
        "File=v",
        "1=v",
        "File1 =\"\"",
        "File1=\"",
        "Fil\xC3\xA9"
        "1=x",
        "\tTitle2\t=\tT\t",
    };
    for (const char* line : lines) {
        std::string text = line;
        PlsLine narrow = ParsePlsLine(reinterpret_cast<const unsigned char*>(text.data()),
                                      text.size(), Text8Bit);
        for (bool big : {false, true}) {
            std::string wide = Widen(text, big);
            PlsLine parsed = ParsePlsLine(reinterpret_cast<const unsigned char*>(wide.data()),
                                          wide.size(), big ? TextUtf16Be : TextUtf16Le);
            EXPECT_TRUE(SameLine(narrow, parsed)) << line << (big ? " BE" : " LE");
        }
    }
}

TEST(PlsPaths, PiecesEndAtTheFirstLineEndWhereverItFalls) {
    // Line ends are looked for eight bytes at a time: one at each place in a word, after any
    // byte value, and none at all up to the piece's limit.
    for (size_t at = 0; at < 20; ++at) {
        for (const char* end : {"\n", "\r", "\r\n"}) {
            for (unsigned char fill : {'a', '\x0b', '\x8d', '\xff', '\x00'}) {
                Memory m;
                m.Bytes = std::string(at, static_cast<char>(fill)) + end + "next";
                ByteSource source = {Read, Seek, Failed, &m};
                std::unique_ptr<PlsReader> reader(new PlsReader);
                ASSERT_TRUE(StartPlsReader(reader.get(), &source));
                PlsPiece piece;
                ASSERT_TRUE(ReadPlsPiece(reader.get(), &piece));
                EXPECT_EQ(piece.Length, at) << at;
                EXPECT_EQ(piece.EndBytes, strlen(end)) << at;
                EXPECT_TRUE(piece.LineEnds);
            }
        }
    }
    Memory m;
    m.Bytes = std::string(PlsLineBytes + 3, 'x') + "\n";
    ByteSource source = {Read, Seek, Failed, &m};
    std::unique_ptr<PlsReader> reader(new PlsReader);
    ASSERT_TRUE(StartPlsReader(reader.get(), &source));
    PlsPiece piece;
    ASSERT_TRUE(ReadPlsPiece(reader.get(), &piece));
    EXPECT_EQ(piece.Length, size_t{PlsLineBytes});
    EXPECT_FALSE(piece.LineEnds);
    ASSERT_TRUE(ReadPlsPiece(reader.get(), &piece));
    EXPECT_EQ(piece.Length, 3u);
    EXPECT_TRUE(piece.LineEnds);
}

} // namespace
