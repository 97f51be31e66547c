// The converters over any bytes: never a write past the room, counts that add up, and every
// UTF-16 string back unchanged after a trip through UTF-8.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "text/text.h"

static const size_t Guard = 16;

static void Check(bool ok) {
    if (!ok) {
        abort();
    }
}

// Converts with `room` bytes of output followed by guard bytes, which must stay untouched.
template <typename Convert>
static size_t Run(Convert convert, const uint8_t* in, size_t size, uint8_t* out, size_t room,
                  intptr_t* result) {
    memset(out, 0xA5, room + Guard);
    size_t inCount = size, outCount = room;
    *result = convert(in, inCount, out, outCount);
    for (size_t i = room; i < room + Guard; ++i) {
        Check(out[i] == 0xA5);
    }
    Check(inCount <= size && outCount <= room);
    Check(*result == 0 ? inCount <= 1 : (errno == E2BIG || errno == EINVAL));
    return room - outCount;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static uint8_t out[4 * 65536 + Guard], back[4 * 65536 + Guard];
    if (size > 65536) {
        return 0;
    }
    intptr_t result;
    size_t room = size ? data[0] * 4 % (2 * size + 8) : 0;
    size_t written = Run(Utf8ToUtf16, data, size, out, room, &result);
    Check(written % 2 == 0);

    // The bytes as UTF-16 units: encode with ample room, decode back, compare.
    size_t units = size / 2 * 2;
    written = Run(Utf16ToUtf8, data, units, out, units * 2, &result);
    Check(result == 0);
    size_t decoded = Run(Utf8ToUtf16, out, written, back, units, &result);
    Check(result == 0 && decoded == units && memcmp(back, data, units) == 0);

    // And with a short room: a prefix of the full result.
    size_t shortRoom = written ? data[size - 1] % written : 0;
    size_t partial = Run(Utf16ToUtf8, data, units, back, shortRoom, &result);
    Check(partial <= shortRoom && memcmp(back, out, partial) == 0);
    return 0;
}
