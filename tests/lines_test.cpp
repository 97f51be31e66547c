// Line reader and writer: pieces, line ends, the byte-order mark, the end mark and buffer seams.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "playlist/playlist.h"
#include "tests/support.h"

namespace {

using namespace std::string_literals;
using Strings = std::vector<std::string>;

std::string X(size_t n) {
    return std::string(n, 'x');
}

const std::string Mark = "\xEF\xBB\xBF";

// Every byte value, zero, CR, LF and 0x1A among them, in a pattern that does not repeat soon.
std::string AllBytes(size_t n) {
    std::string bytes;
    for (size_t i = 0; i < n; ++i) {
        bytes += static_cast<char>(i * 7 % 251);
    }
    return bytes;
}

PlatformFile* Open(const std::string& path, FileMode mode) {
    PlatformFile* file = FileOpen(WidePath(path).c_str(), mode);
    EXPECT_NE(file, nullptr) << path;
    return file;
}

// Every piece, each checked against the reader's promises; the reader stays at its end. A piece
// after which its line goes on is marked with a trailing '>'. The piece buffer is exactly
// LineBytes on the heap, so an overrun is caught.
Strings ReadAll(LineReader* reader) {
    Strings pieces;
    std::vector<char> line(LineBytes, '?');
    size_t n = 0;
    bool lineEnds = true;
    while (ReadPiece(reader, line.data(), &n, &lineEnds)) {
        pieces.push_back(std::string(line.data(), n) + (lineEnds ? "" : ">"));
        EXPECT_LE(n, size_t{PieceBytes});
        EXPECT_EQ(line[n], 0);
    }
    EXPECT_FALSE(ReadPiece(reader, line.data(), &n, &lineEnds));
    return pieces;
}

// UTF-16 text of ASCII: little-endian, or big-endian.
std::string Le(const std::string& ascii) {
    return Utf16Le(std::u16string(ascii.begin(), ascii.end()));
}
std::string Be(const std::string& ascii) {
    return Utf16Be(std::u16string(ascii.begin(), ascii.end()));
}

struct ReaderCase {
    std::string Bytes;
    Strings Pieces;
    std::string Mark;
    TextEncoding Encoding;
};

TEST(Lines, PiecesOfEachText) {
    const std::string full(StreamBufferBytes - 1, 'x'); // a CR after it is the buffer's last
    const std::string L = "\xFF\xFE", B = "\xFE\xFF";
    const std::string x4095 = X(PieceBytes) + ">", u2047 = Le(X(2047)) + ">";
    const std::vector<ReaderCase> cases = {
        {"", {}, "", Text8Bit},
        {"a\r\nb\n\nc", {"a", "b", "", "c"}, "", Text8Bit},
        {"a\rb\r\n", {"a", "b"}, "", Text8Bit}, // a lone CR ends a line too
        {"a\r\r\n\r", {"a", "", ""}, "", Text8Bit},
        {"a\r", {"a"}, "", Text8Bit},
        {"a\nb\x1A\nc\n", {"a", "b"}, "", Text8Bit},
        {"\x1A\n", {}, "", Text8Bit},
        {"a\r\x1A\n", {"a"}, "", Text8Bit},
        {Mark + "x\n", {"x"}, Mark, Text8Bit},
        {Mark, {}, Mark, Text8Bit},
        {"\xEF\xBB", {"\xEF\xBB"}, "", Text8Bit},
        {"a\n" + Mark, {"a", Mark}, "", Text8Bit},
        {"\xFF", {"\xFF"}, "", Text8Bit},
        {X(4095) + "\r\n", {X(4095)}, "", Text8Bit},
        {X(4096) + "\r\n", {x4095, "x"}, "", Text8Bit},
        {X(4094) + "\ry", {X(4094), "y"}, "", Text8Bit},
        {X(5000), {x4095, X(905)}, "", Text8Bit},
        {X(8190) + "\x1A", {x4095, X(4095)}, "", Text8Bit},
        {full + "\r\nz", {x4095, x4095, x4095, x4095, "xxx", "z"}, "", Text8Bit}, // split CR LF
        {full + "\r", {x4095, x4095, x4095, x4095, "xxx"}, "", Text8Bit},
        {full + "\r\x1A\n", {x4095, x4095, x4095, x4095, "xxx"}, "", Text8Bit},
        {Mark + X(16380) + "\r\n", {x4095, x4095, x4095, X(4095)}, Mark, Text8Bit},
        // UTF-16: line ends are units; bytes 0D and 0A inside other units, and 1A, are text.
        {L, {}, L, TextUtf16Le},
        {L + Le("a\r\nb\rc\n\nd"), {Le("a"), Le("b"), Le("c"), "", Le("d")}, L, TextUtf16Le},
        {L + "\n\r\r\x0A" + Le("\x1A\n"), {"\n\r\r\x0A" + Le("\x1A")}, L, TextUtf16Le},
        {L + Le("a\n") + "b", {Le("a"), "b"}, L, TextUtf16Le}, // half a unit is kept
        {B + Be("a\r\nb\rc") + "\0"s, {Be("a"), Be("b"), Be("c") + "\0"s}, B, TextUtf16Be},
        {B + "\r\0\n\0"s, {"\r\0\n\0"s}, B, TextUtf16Be},
        {L + Le(X(3000)), {u2047, Le(X(953))}, L, TextUtf16Le},
        {L + Le(X(8190) + "\r\ny"),
         {u2047, u2047, u2047, u2047, Le("xx"), Le("y")},
         L,
         TextUtf16Le},
        {"\xFF\xFE\xFF\xFE", {"\xFF\xFE"}, L, TextUtf16Le},
        {"\xFE", {"\xFE"}, "", Text8Bit},
        {"\xFE\xFE" + Le("a"), {"\xFE\xFE" + Le("a")}, "", Text8Bit},
    };
    std::string folder = TestFolder();
    for (size_t i = 0; i < cases.size(); ++i) {
        std::string path = folder + "/in" + std::to_string(i);
        WriteFile(path, cases[i].Bytes);
        // The mark is known whether asked before the first piece or after the last.
        for (bool askFirst : {true, false}) {
            SCOPED_TRACE("case " + std::to_string(i) + (askFirst ? ", mark asked first" : ""));
            PlatformFile* file = Open(path, FileForReading);
            auto reader = std::make_unique<LineReader>();
            StartReader(reader.get(), file);
            std::string mark = askFirst ? ByteOrderMark(reader.get()) : "";
            EXPECT_EQ(ReadAll(reader.get()), cases[i].Pieces);
            EXPECT_EQ(askFirst ? mark : ByteOrderMark(reader.get()), cases[i].Mark);
            EXPECT_EQ(ReaderEncoding(reader.get()), cases[i].Encoding);
            FileClose(file);
        }
    }
}

// The pieces of 8-bit text as the reader's rules have them, byte by byte: a line ends at CR LF,
// LF or a lone CR, the text at 0x1A; a piece holds PieceBytes at most, and a full one ends its
// line only when a line end or the text's end comes next. Each piece is marked as ReadAll does.
Strings ModelPieces(const std::string& text) {
    Strings pieces;
    size_t at = text.compare(0, 3, Mark) == 0 ? 3 : 0;
    auto isEnd = [&](size_t i) { return text[i] == '\r' || text[i] == '\n' || text[i] == '\x1A'; };
    while (at < text.size() && text[at] != '\x1A') {
        size_t from = at;
        while (at < text.size() && !isEnd(at) && at - from < size_t{PieceBytes}) {
            ++at;
        }
        std::string piece = text.substr(from, at - from);
        if (at < text.size() && !isEnd(at)) {
            pieces.push_back(piece + ">");
            continue;
        }
        pieces.push_back(piece);
        if (at < text.size() && text[at] != '\x1A') {
            at += text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n' ? 2 : 1;
        }
    }
    return pieces;
}

// A view is the piece ReadPiece gives, whether it lies in the reader's buffer or was copied: the
// same bytes, line ends, first line end, end mark and remainder, on texts whose lines end in
// every way, at and across the buffer's seams (a CR last in a read, a line the size of a piece),
// with views and copies taken in turns from one reader.
TEST(Lines, ViewsArePiecesAsReadPieceGivesThem) {
    const std::string L = "\xFF\xFE";
    const size_t lengths[] = {0,
                              1,
                              7,
                              8,
                              9,
                              15,
                              16,
                              17,
                              PieceBytes - 1,
                              PieceBytes,
                              PieceBytes + 1,
                              StreamBufferBytes - 2,
                              StreamBufferBytes - 1};
    const char* const ends[] = {"\r\n", "\n", "\r", "\r\r\n", "\n\r", ""};
    std::mt19937 rng(20261209u);
    std::vector<std::string> texts = {
        X(StreamBufferBytes - 1) + "\r\nz",
        X(StreamBufferBytes - 2) + "\r\n\r\n",
        X(StreamBufferBytes - 1) + "\r",
        X(StreamBufferBytes - 1) + "\x1A\r\n",
        Mark + X(StreamBufferBytes - 4) + "\r\ny",
        X(PieceBytes) + "\n" + X(PieceBytes) + "\r",
        "a\x1A" + AllBytes(20000),
        L + Le("a\r\nb"),
        "",
        "\x1A",
    };
    for (int i = 0; i < 300; ++i) {
        std::string text = rng() % 4 ? "" : Mark;
        size_t lines = 1 + rng() % 12;
        for (size_t k = 0; k < lines; ++k) {
            size_t n = rng() % 3 ? rng() % 40 : lengths[rng() % (sizeof lengths / sizeof *lengths)];
            for (size_t b = 0; b < n; ++b) {
                // Mostly text, now and then a tab, a zero or a byte beyond ASCII.
                uint32_t r = rng() % 64;
                text += r == 0   ? '\t'
                        : r == 1 ? '\0'
                        : r == 2 ? '\xE9'
                                 : static_cast<char>('a' + r % 26);
            }
            text += ends[rng() % (sizeof ends / sizeof *ends)];
        }
        if (rng() % 8 == 0) {
            text += "\x1A" + AllBytes(rng() % 300);
        }
        texts.push_back(text);
    }
    std::string folder = TestFolder();
    for (size_t t = 0; t < texts.size(); ++t) {
        SCOPED_TRACE("text " + std::to_string(t));
        WriteFile(folder + "/in", texts[t]);
        PlatformFile* inA = Open(folder + "/in", FileForReading);
        PlatformFile* inB = Open(folder + "/in", FileForReading);
        PlatformFile* outA = Open(folder + "/outA", FileForWriting);
        PlatformFile* outB = Open(folder + "/outB", FileForWriting);
        auto a = std::make_unique<LineReader>();
        auto b = std::make_unique<LineReader>();
        StartReader(a.get(), inA);
        StartReader(b.get(), inB);
        if (texts[t].compare(0, 2, L) != 0) {
            // Both ways follow the rules, not only each other.
            PlatformFile* file = Open(folder + "/in", FileForReading);
            auto reader = std::make_unique<LineReader>();
            StartReader(reader.get(), file);
            EXPECT_EQ(ReadAll(reader.get()), ModelPieces(texts[t]));
            FileClose(file);
        }
        std::vector<char> pieceA(LineBytes), pieceB(LineBytes);
        for (size_t call = 0;; ++call) {
            size_t nA = 0, nB = 0;
            bool endsA = false, endsB = false;
            bool readA = ReadPiece(a.get(), pieceA.data(), &nA, &endsA);
            const char* bytes = nullptr;
            bool view = rng() % 5 != 0;
            bool readB = view ? ReadPieceView(b.get(), pieceB.data(), &bytes, &nB, &endsB)
                              : ReadPiece(b.get(), pieceB.data(), &nB, &endsB);
            bytes = view ? bytes : pieceB.data();
            ASSERT_EQ(readA, readB) << "call " << call;
            if (!readA) {
                break;
            }
            ASSERT_LE(nB, size_t{PieceBytes});
            ASSERT_EQ(std::string(bytes, nB), std::string(pieceA.data(), nA)) << "call " << call;
            ASSERT_EQ(endsA, endsB) << "call " << call;
            ASSERT_EQ(a->FirstEnd, b->FirstEnd) << "call " << call;
            ASSERT_EQ(a->AtEndMark, b->AtEndMark) << "call " << call;
        }
        EXPECT_EQ(a->FirstEnd, b->FirstEnd);
        auto writerA = std::make_unique<LineWriter>();
        auto writerB = std::make_unique<LineWriter>();
        StartWriter(writerA.get(), outA);
        StartWriter(writerB.get(), outB);
        WriteRemainder(writerA.get(), a.get());
        WriteRemainder(writerB.get(), b.get());
        EXPECT_TRUE(FinishWriter(writerA.get()) && FinishWriter(writerB.get()));
        for (PlatformFile* file : {inA, inB, outA, outB}) {
            FileClose(file);
        }
        EXPECT_EQ(ReadFile(folder + "/outB"), ReadFile(folder + "/outA"));
    }
}

// How the first line ended, known once it was read through; the Linux build ends the lines it
// writes in CR LF only after FirstEndCrLf.
TEST(Lines, FirstLineEnd) {
    const std::string L = "\xFF\xFE", B = "\xFE\xFF";
    const std::vector<std::pair<std::string, FirstLineEnd>> cases = {
        {"a\r\nb\n", FirstEndCrLf},
        {"\r\n", FirstEndCrLf},
        {"a\nb\r\n", FirstEndOther},
        {"a\rb\r\n", FirstEndOther},
        {"a\r", FirstEndOther},
        {"a", FirstEndOther},
        {"", FirstEndOther},
        {"a\x1A\r\n", FirstEndOther},
        {Mark + "a\r\n", FirstEndCrLf},
        {X(5000) + "\r\nb\n", FirstEndCrLf},
        {X(StreamBufferBytes - 1) + "\r\n", FirstEndCrLf}, // CR and LF in different reads
        {L + Le("a\r\n"), FirstEndCrLf},
        {B + Be("a\n\r\n"), FirstEndOther},
        {L + "a\r\n", FirstEndOther}, // bytes 0D 0A inside units
    };
    std::string folder = TestFolder();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first.substr(0, 20));
        WriteFile(folder + "/in", c.first);
        PlatformFile* file = Open(folder + "/in", FileForReading);
        auto reader = std::make_unique<LineReader>();
        StartReader(reader.get(), file);
        ReadAll(reader.get());
        EXPECT_EQ(reader->FirstEnd, c.second);
        FileClose(file);
    }
}

TEST(Lines, RemainderFromEndMarkOnIsCopiedUnchanged) {
    std::string tail = AllBytes(40000);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a\nb", ""},
        {"a\n\x1A", "\x1A"},
        {"a\x1A" + tail, "\x1A" + tail},             // more than a buffer after the mark
        {X(20000) + "\x1A\r\n\x1A", "\x1A\r\n\x1A"}, // the mark in a later buffer
    };
    std::string folder = TestFolder();
    for (const auto& c : cases) {
        WriteFile(folder + "/in", c.first);
        PlatformFile* in = Open(folder + "/in", FileForReading);
        PlatformFile* out = Open(folder + "/out", FileForWriting);
        auto reader = std::make_unique<LineReader>();
        auto writer = std::make_unique<LineWriter>();
        StartReader(reader.get(), in);
        StartWriter(writer.get(), out);
        ReadAll(reader.get());
        WriteRemainder(writer.get(), reader.get());
        EXPECT_TRUE(FinishWriter(writer.get()));
        FileClose(in);
        FileClose(out);
        EXPECT_EQ(ReadFile(folder + "/out"), c.second) << c.first.size();
    }
}

TEST(Lines, WriterPassesBytesEndsLinesWithCrLfAndReportsFailure) {
    std::string bytes = AllBytes(20000);
    std::string folder = TestFolder();
    WriteFile(folder + "/in", "old");
    // A stream opened for reading refuses every write.
    for (bool failing : {false, true}) {
        PlatformFile* file =
            Open(folder + (failing ? "/in" : "/out"), failing ? FileForReading : FileForWriting);
        auto writer = std::make_unique<LineWriter>();
        StartWriter(writer.get(), file);
        WriteBytes(writer.get(), "a", 1);
        WriteLineEnd(writer.get());
        WriteBytes(writer.get(), bytes.data(), bytes.size());
        WriteLineEnd(writer.get());
        EXPECT_EQ(FinishWriter(writer.get()), !failing);
        FileClose(file);
    }
    EXPECT_EQ(ReadFile(folder + "/out"), "a\r\n" + bytes + "\r\n");
    EXPECT_EQ(ReadFile(folder + "/in"), "old");
}

// New text in the playlist's encoding; nothing may follow half a unit, and half a unit before
// an append is completed when the open line is ended.
TEST(Lines, WriterWritesNewLinesInTheFilesEncoding) {
    const std::string text = "a\xC3\xA9\xF0\x9F\x8E\xB5"; // a, U+00E9, U+1F3B5
    const std::string le = Le("a") + "\xE9\0\x3C\xD8\xB5\xDF"s,
                      be = Be("a") + "\0\xE9\xD8\x3C\xDF\xB5"s;
    const struct {
        TextEncoding encoding;
        bool halfBefore;
        std::string after;
        bool crLf = true;
    } cases[] = {
        {Text8Bit, false, "\r\n" + text + "\r\nx\r\n"},
        {Text8Bit, true, "\r\n" + text + "\r\nx\r\n"},
        {TextUtf16Le, false, Le("\r\n") + le + Le("\r\n") + "x"},
        {TextUtf16Be, false, Be("\r\n") + be + Be("\r\n") + "x"},
        {TextUtf16Le, true, "\0"s + Le("\r\n") + le + Le("\r\n") + "x"},
        {TextUtf16Be, true, "\0"s + Be("\r\n") + be + Be("\r\n") + "x"},
        // Lines that end in LF alone.
        {Text8Bit, false, "\n" + text + "\nx\n", false},
        {TextUtf16Le, false, Le("\n") + le + Le("\n") + "x", false},
        {TextUtf16Be, true, "\0"s + Be("\n") + be + Be("\n") + "x", false},
    };
    std::string folder = TestFolder();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.encoding) + (c.halfBefore ? ", half a unit before" : ""));
        PlatformFile* file = Open(folder + "/out", FileForWriting);
        auto writer = std::make_unique<LineWriter>();
        StartWriter(writer.get(), file, c.encoding, c.halfBefore);
        writer->CrLf = c.crLf;
        BreakLine(writer.get());
        WriteText(writer.get(), text.data(), text.size());
        WriteLineEnd(writer.get());
        WriteBytes(writer.get(), "x", 1);
        WriteLineEnd(writer.get());
        EXPECT_TRUE(FinishWriter(writer.get()));
        FileClose(file);
        EXPECT_EQ(ReadFile(folder + "/out"), c.after);
    }
}

} // namespace
