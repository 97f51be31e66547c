// Line reader and writer: pieces, line ends, the byte-order mark, the end mark and buffer seams.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "playlist/playlist.h"
#include "tests/support.h"

namespace {

using Strings = std::vector<std::string>;

std::string X(size_t n) {
    return std::string(n, 'x');
}

// Four full pieces, which fill the reader's buffer up to its last byte but one, then `rest`.
Strings AfterFour(const Strings& rest) {
    Strings pieces(4, X(PieceBytes));
    pieces.insert(pieces.end(), rest.begin(), rest.end());
    return pieces;
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

// Every piece, each checked against the reader's promises; the reader stays at its end. The
// piece buffer is exactly LineBytes on the heap, so an overrun is caught.
Strings ReadAll(LineReader* reader) {
    Strings pieces;
    std::vector<char> line(LineBytes, '?');
    bool lineBreak = true;
    while (size_t n = ReadPiece(reader, line.data(), &lineBreak)) {
        pieces.emplace_back(line.data(), n);
        EXPECT_LE(n, size_t{PieceBytes});
        EXPECT_EQ(line[n], 0);
        EXPECT_EQ(lineBreak, line[n - 1] == '\n');
    }
    EXPECT_FALSE(lineBreak);
    EXPECT_EQ(ReadPiece(reader, line.data(), &lineBreak), 0u);
    return pieces;
}

struct ReaderCase {
    std::string Bytes;
    Strings Pieces;
    bool ByteOrderMark;
};

TEST(Lines, PiecesOfEachText) {
    const std::string full(StreamBufferBytes - 1, 'x'); // a CR after it is the buffer's last
    const std::vector<ReaderCase> cases = {
        {"", {}, false},
        {"a\r\nb\n\nc", {"a\n", "b\n", "\n", "c"}, false},
        {"a\rb\r\n", {"a\rb\n"}, false}, // a lone CR stays
        {"a\r\r\n", {"a\r\n"}, false},
        {"a\r", {"a\r"}, false},
        {"a\nb\x1A\nc\n", {"a\n", "b"}, false},
        {"\x1A\n", {}, false},
        {"a\r\x1A\n", {"a\r"}, false},
        {Mark + "x\n", {"x\n"}, true},
        {Mark, {}, true},
        {"\xEF\xBB", {"\xEF\xBB"}, false},
        {"a\n" + Mark, {"a\n", Mark}, false},
        {X(4094) + "\r\n", {X(4094) + "\n"}, false},
        {X(4095) + "\r\n", {X(4095), "\n"}, false},
        {X(4094) + "\ry", {X(4094) + "\r", "y"}, false},
        {X(5000), {X(4095), X(905)}, false},
        {full + "\r\nz", AfterFour({"xxx\n", "z"}), false}, // CR LF split by a refill
        {full + "\r", AfterFour({"xxx\r"}), false},
        {full + "\r\x1A\n", AfterFour({"xxx\r"}), false},
        {Mark + X(16380) + "\r\n", AfterFour({"\n"}), true},
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
            bool mark = askFirst && HasByteOrderMark(reader.get());
            EXPECT_EQ(ReadAll(reader.get()), cases[i].Pieces);
            EXPECT_EQ(askFirst ? mark : HasByteOrderMark(reader.get()), cases[i].ByteOrderMark);
            FileClose(file);
        }
    }
}

TEST(Lines, CutLineStopsAtFirstCrOrLf) {
    for (std::string text : {"", "\n", "abc", "abc\n", "a\rb\n", "\rb"}) {
        std::string expected = text.substr(0, text.find_first_of("\r\n"));
        EXPECT_EQ(CutLine(&text[0]), expected.size());
        EXPECT_STREQ(text.c_str(), expected.c_str());
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

} // namespace
