#include "text.h"

#include <cerrno>

namespace {

// Reports how far the conversion got, so the caller can resume or show what was read.
std::intptr_t Stop(int error, std::size_t consumed, std::size_t written, std::size_t& inCount,
                   std::size_t& outCount) {
    inCount -= consumed;
    outCount -= written;
    errno = error;
    return -1;
}

bool IsContinuation(unsigned byte) {
    return (byte & 0xC0) == 0x80;
}

// Low byte first regardless of the host, as UTF-16 files and Windows strings are.
void PutUnit(unsigned char* at, std::uint32_t unit) {
    at[0] = static_cast<unsigned char>(unit & 0xFF);
    at[1] = static_cast<unsigned char>(unit >> 8);
}

std::uint32_t GetUnit(const unsigned char* at) {
    return at[0] | std::uint32_t{at[1]} << 8;
}

bool IsHighSurrogate(std::uint32_t unit) {
    return (unit & 0xFC00) == 0xD800;
}
bool IsLowSurrogate(std::uint32_t unit) {
    return (unit & 0xFC00) == 0xDC00;
}

// One sequence at src: its length, or 0 when it is malformed or runs past `available`. The
// value is what its bits carry; a stray continuation byte stands for itself.
std::size_t Sequence(const unsigned char* src, std::size_t available, std::uint32_t* value) {
    const unsigned lead = src[0];
    std::size_t length;
    if (lead < 0xC0) {
        // ASCII, and a stray continuation byte kept as is.
        *value = lead;
        return 1;
    } else if (lead < 0xE0) {
        *value = lead & 0x1F;
        length = 2;
    } else if (lead < 0xF0) {
        *value = lead & 0x0F;
        length = 3;
    } else if (lead < 0xF8) {
        *value = lead & 0x07;
        length = 4;
    } else {
        return 0;
    }
    if (length > available) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned next = src[i];
        if (!IsContinuation(next)) {
            return 0;
        }
        *value = *value << 6 | (next & 0x3F);
    }
    // Anything outside the supplementary planes has no surrogate pair to become; this also
    // rejects leads F5-F7.
    if (length == 4 && (*value < 0x10000 || *value > 0x10FFFF)) {
        return 0;
    }
    return length;
}

} // namespace

std::intptr_t Utf8ToUtf16(const void* const& in, std::size_t& inCount, void* const& out,
                          std::size_t& outCount) {
    if (inCount == 0) {
        return 0;
    }
    const auto* src = static_cast<const unsigned char*>(in);
    auto* dst = static_cast<unsigned char*>(out);
    std::size_t consumed = 0;
    std::size_t written = 0;
    do {
        // Written never exceeds outCount, so the subtraction cannot wrap.
        if (outCount - written < 2) {
            return Stop(E2BIG, consumed, written, inCount, outCount);
        }
        std::uint32_t value;
        const std::size_t length = Sequence(src + consumed, inCount - consumed, &value);
        if (length == 0) {
            return Stop(EINVAL, consumed, written, inCount, outCount);
        }
        if (length == 4) {
            // Half a pair would be a lone surrogate the caller never had.
            if (outCount - written < 4) {
                return Stop(E2BIG, consumed, written, inCount, outCount);
            }
            value -= 0x10000;
            PutUnit(dst + written, 0xD800 | value >> 10);
            PutUnit(dst + written + 2, 0xDC00 | (value & 0x3FF));
            written += 4;
        } else {
            PutUnit(dst + written, value);
            written += 2;
        }
        consumed += length;
    } while (consumed < inCount);
    inCount -= consumed;
    outCount -= written;
    return 0;
}

bool IsUtf8Text(const void* bytes, std::size_t count) {
    const auto* src = static_cast<const unsigned char*>(bytes);
    std::size_t at = 0;
    while (at < count) {
        if (src[at] < 0x80) {
            ++at; // the common case, without the call
            continue;
        }
        std::uint32_t value;
        const std::size_t length = Sequence(src + at, count - at, &value);
        if (length == 0 || (length == 1 && IsContinuation(src[at]))) {
            return false;
        }
        at += length;
    }
    return true;
}

std::intptr_t Utf16ToUtf8(const void* const& in, std::size_t& inCount, void* const& out,
                          std::size_t& outCount) {
    if (inCount < 2) {
        return 0;
    }
    const auto* src = static_cast<const unsigned char*>(in);
    auto* dst = static_cast<unsigned char*>(out);
    std::size_t consumed = 0;
    std::size_t written = 0;
    // An odd last byte is half a unit; it stays unconsumed.
    while (inCount - consumed >= 2) {
        std::uint32_t value = GetUnit(src + consumed);
        std::size_t units = 1;
        if (IsHighSurrogate(value) && inCount - consumed >= 4) {
            const std::uint32_t low = GetUnit(src + consumed + 2);
            if (IsLowSurrogate(low)) {
                value = 0x10000 + ((value - 0xD800) << 10) + (low - 0xDC00);
                units = 2;
            }
        }
        const std::size_t length = value < 0x80 ? 1 : value < 0x800 ? 2 : value < 0x10000 ? 3 : 4;
        if (outCount - written < length) {
            return Stop(E2BIG, consumed, written, inCount, outCount);
        }
        unsigned char* at = dst + written;
        // Continuation bytes carry six bits each, lowest bits last.
        for (std::size_t i = length - 1; i > 0; --i) {
            at[i] = static_cast<unsigned char>(0x80 | (value & 0x3F));
            value >>= 6;
        }
        // A multi-byte lead starts with `length` one bits; 0xFF00 >> length has them in its
        // low byte, followed by a zero.
        at[0] = static_cast<unsigned char>(length == 1 ? value : (0xFF00u >> length) | value);
        consumed += 2 * units;
        written += length;
    }
    inCount -= consumed;
    outCount -= written;
    return 0;
}

std::size_t WideLength(const char16_t* text) {
    std::size_t n = 0;
    while (text[n]) {
        ++n;
    }
    return n;
}

bool ToUtf8(const char16_t* text, char* out, std::size_t room) {
    // ASCII, which most names are, one byte a unit; the encoder takes on from the first unit
    // that is not (no character spans an ASCII unit).
    std::size_t i = 0;
    for (; i < room && text[i] != 0 && text[i] < 0x80; ++i) {
        out[i] = static_cast<char>(text[i]);
    }
    if (i < room && text[i] == 0) {
        out[i] = 0;
        return true;
    }
    std::size_t inCount = (WideLength(text + i) + 1) * 2, left = room - i;
    return Utf16ToUtf8(text + i, inCount, out + i, left) == 0;
}
