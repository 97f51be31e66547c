// Small media files made at test time, one or more per container: headers, tags and silence,
// some of them broken, each with what its headers say.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct MediaFile {
    const char* Name; // the file's name, extension included
    std::string Bytes;
    std::string Title, Artist; // "" when the tags have none
    int64_t Seconds;           // -1 unknown
    // Where TagLib is known to answer otherwise, and why; null where it agrees.
    const char* TagLibDiffers;
};

const std::vector<MediaFile>& MediaFiles();
