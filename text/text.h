// UTF-8 <-> UTF-16 conversion between caller-owned buffers.
//
// Both converters take the start of the input and of the output, which stay put, and two byte
// counts, which on return are reduced by the bytes consumed and written. A caller that got
// E2BIG resumes from `in + consumed` with fresh room. No terminator is added: include it in the
// input count. UTF-16 is always little-endian bytes, two per unit, whatever the host order, so
// char16_t buffers and raw file bytes can be passed alike.
//
// Result: 0 when the whole input was converted, -1 when stopped early with errno set to
//   E2BIG  - the next character does not fit the remaining output;
//   EINVAL - malformed UTF-8 (decoder only), including a sequence cut off by the input end.
// After -1 the output holds everything converted before the stop.
//
// The decoder is lenient because playlists come from many tools: overlong two- and three-byte
// forms and encoded surrogate halves yield the value of their bits, and a stray continuation
// byte passes through as the unit of the same value. Only four-byte sequences are checked for
// range, since they must become a valid surrogate pair.
//
// The encoder writes a surrogate pair as one four-byte sequence and a lone surrogate as its own
// three-byte sequence, so any Windows file name - paired or not - survives a round trip.
//
// Input and output must not overlap.

#pragma once

#include <cstddef>
#include <cstdint>

std::intptr_t Utf8ToUtf16(const void* const& in, std::size_t& inCount, void* const& out,
                          std::size_t& outCount);

std::intptr_t Utf16ToUtf8(const void* const& in, std::size_t& inCount, void* const& out,
                          std::size_t& outCount);

// Whether the bytes are UTF-8 as a writer of it produces them: the decoder accepts them and no
// continuation byte (0x80-0xBF) stands where a character should begin. Text that fails is in a
// legacy 8-bit code page.
bool IsUtf8Text(const void* bytes, std::size_t count);

// Units before the terminating zero.
std::size_t WideLength(const char16_t* text);

// A whole zero-terminated UTF-16 string, terminator included, as UTF-8 into `room` bytes; false
// when it does not fit (the output then holds what fitted, unterminated).
bool ToUtf8(const char16_t* text, char* out, std::size_t room);
