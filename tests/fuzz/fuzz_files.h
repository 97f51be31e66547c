// A scratch folder in memory for the fuzz targets, and paths into it as a host passes them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

inline const std::string& ScratchFolder() {
    static const std::string folder = [] {
        std::string f = "/dev/shm/m3u-fuzz-" + std::to_string(getpid());
        mkdir(f.c_str(), 0700);
        return f;
    }();
    return folder;
}

// "/dev/shm/x/list.m3u" as the host would write it: "\dev\shm\x\list.m3u", in UTF-16.
inline std::u16string HostPath(const std::string& path) {
    std::u16string wide;
    for (char c : path) {
        wide += c == '/' ? u'\\' : char16_t(static_cast<unsigned char>(c));
    }
    return wide;
}

inline void Store(const std::string& path, const void* data, size_t size) {
    FILE* f = fopen(path.c_str(), "wb");
    if (f) {
        fwrite(data, 1, size, f);
        fclose(f);
    }
}

// Whether bytes could read as another format than M3U, now or once lines before them are
// deleted: a tag opener ('<') or a "[playlist]" header anywhere, in 8-bit text or UTF-16. The
// M3U targets leave such inputs to the formats' own targets.
inline bool MayReadAsOtherFormat(const uint8_t* data, size_t size) {
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '<') {
            return true;
        }
        if (data[i] != 0) {
            text += static_cast<char>(data[i] >= 'A' && data[i] <= 'Z' ? data[i] + 32 : data[i]);
        }
    }
    return text.find("[playlist]") != std::string::npos;
}
