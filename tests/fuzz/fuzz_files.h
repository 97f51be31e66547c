// A scratch folder in memory for the fuzz targets, and paths into it as a host passes them.
#pragma once

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
