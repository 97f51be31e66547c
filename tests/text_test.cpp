#include "text/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using Converter = std::intptr_t (*)(const void* const&, std::size_t&, void* const&, std::size_t&);

constexpr std::size_t kGuard = 16;
constexpr unsigned char kGuardByte = 0xA5;

struct Outcome {
    std::intptr_t result;
    int error;
    std::size_t inLeft;
    std::size_t outLeft;
    Bytes written;
};

// Converts into a buffer of exactly `room` bytes followed by guard bytes that must survive.
Outcome Convert(Converter convert, const Bytes& in, std::size_t room) {
    Bytes buffer(room + kGuard, kGuardByte);
    std::size_t inCount = in.size();
    std::size_t outCount = room;
    errno = 0;
    Outcome o{convert(in.data(), inCount, buffer.data(), outCount), errno, inCount, outCount, {}};
    EXPECT_EQ(Bytes(buffer.begin() + room, buffer.end()), Bytes(kGuard, kGuardByte))
        << "written past the room of " << room;
    if (outCount <= room) {
        o.written.assign(buffer.begin(), buffer.begin() + (room - outCount));
    }
    return o;
}

Bytes Units(std::initializer_list<std::uint32_t> units) {
    Bytes b;
    for (std::uint32_t u : units) {
        b.push_back(static_cast<unsigned char>(u & 0xFF));
        b.push_back(static_cast<unsigned char>(u >> 8));
    }
    return b;
}

Bytes Ascii(std::size_t n) {
    Bytes b(n, 'a');
    b.push_back(0);
    return b;
}

// ASCII as UTF-16: each byte followed by a zero high byte.
Bytes Widen(const Bytes& ascii) {
    Bytes b;
    for (unsigned char c : ascii) {
        b.insert(b.end(), {c, 0});
    }
    return b;
}

struct Case {
    const char* name;
    Bytes in;
    std::size_t room;
    std::intptr_t result;
    int error;
    std::size_t inLeft;
    Bytes out;
};

void Check(Converter convert, const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = Convert(convert, c.in, c.room);
        EXPECT_EQ(o.result, c.result);
        EXPECT_EQ(o.error, c.error);
        EXPECT_EQ(o.inLeft, c.inLeft);
        EXPECT_EQ(o.outLeft, c.room - c.out.size());
        EXPECT_EQ(o.written, c.out);
    }
}

TEST(Utf8ToUtf16, Cases) {
    Check(Utf8ToUtf16,
          {
              {"ascii", {0x41, 0x00}, 4, 0, 0, 0, {0x41, 0, 0, 0}},
              {"e acute", {0xC3, 0xA9, 0x00}, 4, 0, 0, 0, {0xE9, 0, 0, 0}},
              {"two-byte low", {0xC2, 0xBF, 0x00}, 4, 0, 0, 0, {0xBF, 0, 0, 0}},
              {"cyrillic", {0xD0, 0xBF, 0x00}, 4, 0, 0, 0, {0x3F, 0x04, 0, 0}},
              {"euro", {0xE2, 0x82, 0xAC, 0x00}, 4, 0, 0, 0, {0xAC, 0x20, 0, 0}},
              {"stray continuation", {0xA9, 0x00}, 4, 0, 0, 0, {0xA9, 0, 0, 0}},
              {"pair", {0xF0, 0x9F, 0x8E, 0xB5, 0}, 6, 0, 0, 0, {0x3C, 0xD8, 0xB5, 0xDF, 0, 0}},
              {"lowest pair", {0xF0, 0x90, 0x80, 0x80}, 4, 0, 0, 0, {0x00, 0xD8, 0x00, 0xDC}},
              {"highest pair", {0xF4, 0x8F, 0xBF, 0xBF}, 4, 0, 0, 0, {0xFF, 0xDB, 0xFF, 0xDF}},
              {"overlong C0 80", {0xC0, 0x80}, 2, 0, 0, 0, {0, 0}},
              {"overlong C1 BF", {0xC1, 0xBF}, 2, 0, 0, 0, {0x7F, 0}},
              {"overlong E0 80 80", {0xE0, 0x80, 0x80}, 2, 0, 0, 0, {0, 0}},
              {"encoded surrogate", {0xED, 0xA0, 0x80}, 2, 0, 0, 0, {0x00, 0xD8}},
              {"empty", {}, 4, 0, 0, 0, {}},
              {"fits exactly", Ascii(1023), 2048, 0, 0, 0, Widen(Ascii(1023))},
              {"one too many", Ascii(1024), 2048, -1, E2BIG, 1, Widen(Bytes(1024, 'a'))},
              {"no room", {0x41}, 0, -1, E2BIG, 1, {}},
              {"odd room", {0x41, 0x42}, 3, -1, E2BIG, 1, {0x41, 0}},
              {"pair needs 4", {0xF0, 0x9F, 0x8E, 0xB5}, 2, -1, E2BIG, 4, {}},
              {"pair after ascii, room 5",
               {0x41, 0xF0, 0x9F, 0x8E, 0xB5},
               5,
               -1,
               E2BIG,
               4,
               {0x41, 0}},
              {"lead F5", {0xF5, 0x80, 0x80, 0x80}, 8, -1, EINVAL, 4, {}},
              {"lead F8", {0xF8, 0x80, 0x80, 0x80, 0x80}, 8, -1, EINVAL, 5, {}},
              {"four-byte overlong", {0xF0, 0x8F, 0xBF, 0xBF}, 8, -1, EINVAL, 4, {}},
              {"above 10FFFF", {0xF4, 0x90, 0x80, 0x80}, 8, -1, EINVAL, 4, {}},
              {"four-byte cut", {0xF0, 0x9F, 0x8E}, 8, -1, EINVAL, 3, {}},
              {"three-byte cut", {0x41, 0xE2, 0x82}, 8, -1, EINVAL, 2, {0x41, 0}},
              {"two-byte cut", {0xC3}, 8, -1, EINVAL, 1, {}},
              {"bad second byte", {0xC3, 0x00}, 8, -1, EINVAL, 2, {}},
              {"bad third byte", {0xE2, 0x82, 0x28}, 8, -1, EINVAL, 3, {}},
              {"bad fourth byte", {0xF0, 0x9F, 0x8E, 0x41}, 8, -1, EINVAL, 4, {}},
              {"stops after good", {0x41, 0xC3, 0x28, 0x00}, 8, -1, EINVAL, 3, {0x41, 0}},
          });
}

TEST(Utf16ToUtf8, Cases) {
    Check(Utf16ToUtf8,
          {
              {"7F", Units({0x7F}), 8, 0, 0, 0, {0x7F}},
              {"80", Units({0x80}), 8, 0, 0, 0, {0xC2, 0x80}},
              {"7FF", Units({0x7FF}), 8, 0, 0, 0, {0xDF, 0xBF}},
              {"800", Units({0x800}), 8, 0, 0, 0, {0xE0, 0xA0, 0x80}},
              {"FFFF", Units({0xFFFF}), 8, 0, 0, 0, {0xEF, 0xBF, 0xBF}},
              {"e acute", Units({0xE9}), 8, 0, 0, 0, {0xC3, 0xA9}},
              {"euro", Units({0x20AC}), 8, 0, 0, 0, {0xE2, 0x82, 0xAC}},
              {"pair", Units({0xD83C, 0xDFB5}), 8, 0, 0, 0, {0xF0, 0x9F, 0x8E, 0xB5}},
              {"lowest pair", Units({0xD800, 0xDC00}), 8, 0, 0, 0, {0xF0, 0x90, 0x80, 0x80}},
              {"highest pair", Units({0xDBFF, 0xDFFF}), 8, 0, 0, 0, {0xF4, 0x8F, 0xBF, 0xBF}},
              {"lone high", Units({0xD800}), 8, 0, 0, 0, {0xED, 0xA0, 0x80}},
              {"lone low", Units({0xDC00}), 8, 0, 0, 0, {0xED, 0xB0, 0x80}},
              {"high at end", Units({0x41, 0xD800}), 8, 0, 0, 0, {0x41, 0xED, 0xA0, 0x80}},
              {"high, then ascii", Units({0xD800, 0x41}), 8, 0, 0, 0, {0xED, 0xA0, 0x80, 0x41}},
              {"low before high",
               Units({0xDC00, 0xD800}),
               8,
               0,
               0,
               0,
               {0xED, 0xB0, 0x80, 0xED, 0xA0, 0x80}},
              {"high before pair",
               Units({0xD800, 0xD83C, 0xDFB5}),
               8,
               0,
               0,
               0,
               {0xED, 0xA0, 0x80, 0xF0, 0x9F, 0x8E, 0xB5}},
              {"low half past count", {0x3C, 0xD8, 0xB5}, 8, 0, 0, 1, {0xED, 0xA0, 0xBC}},
              {"odd count", {0x41, 0x00, 0x42}, 8, 0, 0, 1, {0x41}},
              {"one byte", {0x41}, 8, 0, 0, 1, {}},
              {"empty", {}, 8, 0, 0, 0, {}},
              {"no room for terminator", Units({0xE9, 0}), 2, -1, E2BIG, 2, {0xC3, 0xA9}},
              {"pair needs 4", Units({0xD83C, 0xDFB5}), 3, -1, E2BIG, 4, {}},
          });
}

// Converts everything with ample room; the reference for the sweeps below.
Bytes Full(Converter convert, const Bytes& in) {
    const Outcome o = Convert(convert, in, 4 * in.size() + 4);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.inLeft, 0u);
    return o.written;
}

// Encodes one or two units into exactly `utf8Size` bytes of room and decodes them back into
// exactly their own size; true when every byte was used and the units came back. Allocation
// free, for the sweeps over all units and pairs.
bool RoundTrips(std::uint32_t first, std::uint32_t second, std::size_t units,
                std::size_t utf8Size) {
    const unsigned char utf16[4] = {
        static_cast<unsigned char>(first & 0xFF), static_cast<unsigned char>(first >> 8),
        static_cast<unsigned char>(second & 0xFF), static_cast<unsigned char>(second >> 8)};
    unsigned char utf8[4];
    unsigned char back[4];
    std::size_t inCount = 2 * units;
    std::size_t room = utf8Size;
    if (Utf16ToUtf8(utf16, inCount, utf8, room) != 0 || inCount != 0 || room != 0) {
        return false;
    }
    inCount = utf8Size;
    room = 2 * units;
    return Utf8ToUtf16(utf8, inCount, back, room) == 0 && inCount == 0 && room == 0 &&
           std::equal(back, back + 2 * units, utf16);
}

TEST(RoundTrip, EveryUnitAlone) {
    for (std::uint32_t u = 0; u <= 0xFFFF; ++u) {
        ASSERT_TRUE(RoundTrips(u, 0, 1, u < 0x80 ? 1 : u < 0x800 ? 2 : 3)) << std::hex << u;
    }
}

TEST(RoundTrip, EverySurrogatePair) {
    for (std::uint32_t high = 0xD800; high <= 0xDBFF; ++high) {
        for (std::uint32_t low = 0xDC00; low <= 0xDFFF; ++low) {
            ASSERT_TRUE(RoundTrips(high, low, 2, 4)) << std::hex << high << ' ' << low;
        }
    }
}

TEST(RoundTrip, LoneSurrogatesMixedWithPairs) {
    // Every sequence of four drawn from these exercises each neighbourhood of paired and
    // unpaired halves.
    const std::uint32_t pick[] = {0x41, 0xE9, 0xFFFF, 0xD800, 0xDBFF, 0xDC00, 0xDFFF};
    for (std::uint32_t a : pick) {
        for (std::uint32_t b : pick) {
            for (std::uint32_t c : pick) {
                for (std::uint32_t d : pick) {
                    const Bytes utf16 = Units({a, b, c, d});
                    ASSERT_EQ(Full(Utf8ToUtf16, Full(Utf16ToUtf8, utf16)), utf16)
                        << std::hex << a << ' ' << b << ' ' << c << ' ' << d;
                }
            }
        }
    }
}

// Every room from none to full: guards intact (checked in Convert), output is a prefix of the full
// conversion, and resuming from the reported counts completes it.
TEST(RoundTrip, EveryRoomSize) {
    const Bytes utf16 = Units({0x41, 0xE9, 0x20AC, 0xD83C, 0xDFB5, 0xD800, 0x7FF, 0});
    const struct {
        Converter convert;
        Bytes in;
    } inputs[] = {{Utf16ToUtf8, utf16}, {Utf8ToUtf16, Full(Utf16ToUtf8, utf16)}};
    for (const auto& input : inputs) {
        const Bytes full = Full(input.convert, input.in);
        for (std::size_t room = 0; room <= full.size(); ++room) {
            SCOPED_TRACE(room);
            const Outcome o = Convert(input.convert, input.in, room);
            ASSERT_EQ(o.result, room == full.size() ? 0 : -1);
            ASSERT_EQ(o.error, room == full.size() ? 0 : E2BIG);
            ASSERT_EQ(o.written, Bytes(full.begin(), full.begin() + o.written.size()));
            Bytes joined = o.written;
            const Bytes rest =
                Full(input.convert, Bytes(input.in.end() - o.inLeft, input.in.end()));
            joined.insert(joined.end(), rest.begin(), rest.end());
            ASSERT_EQ(joined, full);
        }
    }
}

} // namespace
