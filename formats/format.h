// Which playlist format a file is, and the plain streams of bytes through which a format module
// reads and writes one. A format module knows its syntax and nothing else: no files, no locks,
// no host records; the operations in playlist/ hand it these streams.
#pragma once

#include <cstddef>
#include <cstdint>

enum PlaylistFormat { FormatM3u, FormatPls, FormatXspf, FormatWpl, FormatAsx, FormatUnknown };

// How much of a file's start decides its format.
enum { FormatHeadBytes = 4096 };

// The format of a file by its content, `head` being its first FormatHeadBytes (or the whole of a
// shorter file): XML by its root element (another XML document is FormatUnknown: a playlist that
// cannot be changed), PLS when its `[playlist]` header comes before any key line, and M3U for
// every other text, as before there were other formats. A binary file is FormatUnknown when its
// name (`named`, FormatOfName) promises another format; one named as M3U stays M3U text, which
// may hold zero bytes, as it always did.
PlaylistFormat FormatOfContent(const unsigned char* head, size_t size,
                               PlaylistFormat named = FormatM3u);
// The format a new file gets, by its name's extension in any case: .pls, .xspf, .wpl and .zpl,
// .asx, .wax and .wvx; any other name is M3U.
PlaylistFormat FormatOfName(const char16_t* name);

// Bytes read in order from a file's start, which a module may read again from any offset.
struct ByteSource {
    size_t (*Read)(void* context, void* buffer, size_t bytes); // 0 at the end or on a failure
    bool (*Seek)(void* context, uint64_t offset);
    bool (*Failed)(void* context); // whether a read failed
    void* Context;
};

// Where a rewritten file goes, in pieces, in order.
struct ByteSink {
    bool (*Write)(void* context, const void* data, size_t bytes); // false: stop, failed
    void* Context;
};
