// Any bytes through the media reader's parsing, as one file cut into the pieces it reads: the
// head, a middle piece where a header points, and the tail. No read outside the pieces (each is
// copied to a block of its own size, so that the sanitizer sees its ends), no endless walk, and
// text that is terminated UTF-8 within its field. The first two bytes place the cuts.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "media/media.h"
#include "text/text.h"

static void Check(bool ok) {
    if (!ok) {
        abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    size_t headCut = data[0], tailCut = data[1];
    data += 2;
    size -= 2;
    size_t head = size * headCut / 255, tail = size * tailCut / 255;
    std::vector<uint8_t> h(data, data + head), t(data + size - tail, data + size);
    uint64_t middle = MediaMiddleOffset(h.data(), h.size(), size);
    Check(middle <= size);
    size_t middleCount = middle < size ? size - middle : 0;
    middleCount = middleCount < 512 ? middleCount : 512;
    std::vector<uint8_t> m(data + middle, data + middle + middleCount);
    MediaBytes b = {{h.data(), h.size(), 0},
                    {m.data(), m.size(), middle},
                    {t.data(), t.size(), size - tail},
                    size};
    MediaInfo info;
    memset(&info, 0xA5, sizeof info);
    ParseMedia(b, &info);
    size_t title = strnlen(info.Title, sizeof info.Title),
           artist = strnlen(info.Artist, sizeof info.Artist);
    Check(title < sizeof info.Title && artist < sizeof info.Artist);
    Check(IsUtf8Text(info.Title, title) && IsUtf8Text(info.Artist, artist));
    Check(info.TitleFromTags == (title > 0));
    Check(info.Seconds >= -1 && info.Milliseconds >= -1);
    return 0;
}
