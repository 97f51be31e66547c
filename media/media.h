// A media file's title, artist and length, from its headers alone: MP3 (ID3v2.2 to 2.4, ID3v1,
// Xing, Info and VBRI frames, else the bitrate), FLAC, Ogg Vorbis and Opus, MP4/M4A and WAV.
// The file is opened once and read only at its start (the leading tag up to a cap), at one
// place further on where a container says its header lies, and at its end: never whole.
// Every length and offset a header gives is checked against the bytes at hand.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t MediaTextBytes = 256;       // a title or an artist in UTF-8, with terminator
constexpr size_t MediaHeadBytes = 256 << 10; // the most read at the start, a leading tag included
constexpr size_t MediaMiddleBytes = 16 << 10;
constexpr size_t MediaTailBytes = 64 << 10;

struct MediaInfo {
    char Title[MediaTextBytes]; // from the tags; else the file name without its extension
    char Artist[MediaTextBytes];
    bool TitleFromTags;   // false when Title is the file name (or empty)
    int64_t Milliseconds; // -1 when unknown
    int64_t Seconds;      // whole seconds of it, -1 when unknown
};

// The room one reading takes: more than a host's stack should carry, so it is on the heap. A
// caller that reads many files takes it once and hands it to each reading.
constexpr size_t MediaRoomBytes = MediaHeadBytes + MediaMiddleBytes + MediaTailBytes;

// Reads one file's headers, in `room` (MediaRoomBytes) when given, else in room of its own. False
// when it cannot be opened; `info` then holds the file name and -1 all the same.
bool ReadMediaInfo(const char16_t* path, MediaInfo* info, uint8_t* room = nullptr);

// The parsing, over bytes in memory: up to three pieces of a file of `Size` bytes, each at its
// offset (a piece may be empty).
struct MediaPiece {
    const uint8_t* Bytes;
    size_t Count;
    uint64_t Offset;
};
struct MediaBytes {
    MediaPiece Head, Middle, Tail;
    uint64_t Size;
};
// Where the piece after the head should begin, given the head (at offset 0): the end of a
// leading tag longer than the head, or the first box or chunk header the head does not hold.
// `Size` when no such piece is wanted.
uint64_t MediaMiddleOffset(const uint8_t* head, size_t count, uint64_t size);
// Title and artist from the tags (empty when none, TitleFromTags telling), and the length.
void ParseMedia(const MediaBytes& bytes, MediaInfo* info);
