// Benchmarks of the operations users wait for, each beside a plain baseline doing the bare work:
//   list     100,000 entries of existing files   vs  reading the lines and taking each status
//   extract  a 1 GiB file through ProcessFileW   vs  cp (natively) or CopyFileW (Windows)
//   delete   100 names from 100,000 lines        vs  a plain copy of the playlist file
//   add      1,000 names into 10,000 lines       vs  a plain copy of the playlist file
// Usage: bench FOLDER [list|extract|delete|add]...   (FOLDER: scratch space, emptied first)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "plugin/exports.h"
#include "text/text.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

static double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

static std::u16string Wide(const fs::path& p) {
    std::u16string w = p.u16string();
    for (auto& c : w) {
        if (c == u'/') {
            c = u'\\';
        }
    }
    return w;
}

static std::u16string List(const std::vector<std::u16string>& names) {
    std::u16string list;
    for (const auto& n : names) {
        list += n;
        list += u'\0';
    }
    list += u'\0';
    return list;
}

static void Report(const char* what, double plugin, double baseline, const char* baselineName,
                   double units, const char* unitName) {
    printf("%-8s plug-in %8.3f s (%10.0f %s/s)   %-10s %8.3f s   ratio %5.2f\n", what, plugin,
           units / plugin, unitName, baselineName, baseline, plugin / baseline);
    fflush(stdout);
}

static void WriteLines(const fs::path& path, int lines, int files) {
    std::ofstream out(path, std::ios::binary);
    char line[128];
    for (int i = 0; i < lines; ++i) {
        snprintf(line, sizeof line, "#EXTINF:%d,Artist - Title %d\r\nmedia\\f%04d.mp3\r\n", i, i,
                 i % files);
        out << line;
    }
}

static void BenchList(const fs::path& dir) {
    const int entries = 100000, files = 1000;
    fs::create_directories(dir / "media");
    for (int i = 0; i < files; ++i) {
        char name[32];
        snprintf(name, sizeof name, "f%04d.mp3", i);
        std::ofstream(dir / "media" / name, std::ios::binary) << "x";
    }
    WriteLines(dir / "list.m3u", entries, files);
    std::u16string playlist = Wide(dir / "list.m3u");

    Clock::time_point start = Clock::now();
    tOpenArchiveDataW open = {};
    open.ArcName = &playlist[0];
    void* handle = OpenArchiveW(&open);
    static tHeaderDataExW header;
    int listed = 0;
    while (ReadHeaderExW(handle, &header) == 0) {
        ProcessFileW(handle, PK_SKIP, nullptr, nullptr);
        ++listed;
    }
    CloseArchive(handle);
    double plugin = Seconds(start);

    start = Clock::now();
    FILE* in = fopen((dir / "list.m3u").string().c_str(), "rb");
    char line[4096];
    int statted = 0;
    std::u16string base = Wide(dir) + u"\\";
    while (fgets(line, sizeof line, in)) {
        if (line[0] == '#') {
            continue;
        }
        line[strcspn(line, "\r\n")] = 0;
        char16_t path[1024];
        size_t inCount = strlen(line) + 1, room = sizeof path;
        Utf8ToUtf16(line, inCount, path, room);
        FileStatus status;
        GetFileStatus((base + path).c_str(), &status);
        ++statted;
    }
    fclose(in);
    double baseline = Seconds(start);
    if (listed != entries || statted != entries) {
        printf("list: %d listed, %d read\n", listed, statted);
    }
    Report("list", plugin, baseline, "read+stat", entries, "entries");
}

static void BenchExtract(const fs::path& dir) {
    const size_t size = size_t(1) << 30;
    fs::path source = dir / "big.bin";
    {
        std::ofstream out(source, std::ios::binary);
        std::vector<char> block(1 << 20);
        for (size_t i = 0; i < block.size(); ++i) {
            block[i] = static_cast<char>(i * 31);
        }
        for (size_t done = 0; done < size; done += block.size()) {
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    std::ofstream(dir / "big.m3u", std::ios::binary) << "big.bin\r\n";
    std::u16string playlist = Wide(dir / "big.m3u");
    std::u16string target = Wide(dir / "copy1.bin");

    Clock::time_point start = Clock::now();
    tOpenArchiveDataW open = {};
    open.ArcName = &playlist[0];
    void* handle = OpenArchiveW(&open);
    static tHeaderDataExW header;
    ReadHeaderExW(handle, &header);
    int result = ProcessFileW(handle, PK_EXTRACT, nullptr, &target[0]);
    CloseArchive(handle);
    double plugin = Seconds(start);

    start = Clock::now();
#if defined(_WIN32)
    std::u16string second = Wide(dir / "copy2.bin");
    CopyFileW(reinterpret_cast<const wchar_t*>(Wide(source).c_str()),
              reinterpret_cast<const wchar_t*>(second.c_str()), FALSE);
    const char* baselineName = "CopyFileW";
#else
    std::string command = "cp '" + source.string() + "' '" + (dir / "copy2.bin").string() + "'";
    if (system(command.c_str()) != 0) {
        printf("cp failed\n");
    }
    const char* baselineName = "cp";
#endif
    double baseline = Seconds(start);
    if (result != 0 || fs::file_size(dir / "copy1.bin") != size) {
        printf("extract failed: %d\n", result);
    }
    Report("extract", plugin, baseline, baselineName, double(size) / (1 << 20), "MiB");
    fs::remove(source);
    fs::remove(dir / "copy1.bin");
    fs::remove(dir / "copy2.bin");
}

static double PlainCopy(const fs::path& from, const fs::path& to) {
    Clock::time_point start = Clock::now();
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    return Seconds(start);
}

static void BenchDelete(const fs::path& dir) {
    const int lines = 100000;
    WriteLines(dir / "del.m3u", lines, lines);
    std::vector<std::u16string> names;
    for (int i = 0; i < 100; ++i) {
        char name[32];
        snprintf(name, sizeof name, "media\\f%04d.mp3", i * 997 % lines);
        names.push_back(std::u16string(name, name + strlen(name)));
    }
    std::u16string list = List(names);
    std::u16string playlist = Wide(dir / "del.m3u");
    double baseline = PlainCopy(dir / "del.m3u", dir / "del-copy.m3u");
    Clock::time_point start = Clock::now();
    int result = DeleteFilesW(&playlist[0], &list[0]);
    double plugin = Seconds(start);
    if (result != 0) {
        printf("delete failed: %d\n", result);
    }
    Report("delete", plugin, baseline, "file copy", lines, "lines");
}

static void BenchAdd(const fs::path& dir) {
    const int lines = 10000;
    WriteLines(dir / "add.m3u", lines, lines);
    std::vector<std::u16string> names;
    for (int i = 0; i < 1000; ++i) {
        char name[32];
        snprintf(name, sizeof name, "new\\n%04d.mp3", i);
        names.push_back(std::u16string(name, name + strlen(name)));
    }
    std::u16string list = List(names);
    std::u16string playlist = Wide(dir / "add.m3u");
    std::u16string source = Wide(dir) + u"\\";
    double baseline = PlainCopy(dir / "add.m3u", dir / "add-copy.m3u");
    Clock::time_point start = Clock::now();
    int result = PackFilesW(&playlist[0], nullptr, &source[0], &list[0], 0);
    double plugin = Seconds(start);
    if (result != 0) {
        printf("add failed: %d\n", result);
    }
    Report("add", plugin, baseline, "file copy", 1000, "names");
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: bench FOLDER [list|extract|delete|add]...\n");
        return 2;
    }
    fs::path dir = fs::u8path(argv[1]);
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (int i = 2; i < argc || argc == 2; ++i) {
        std::string what = argc == 2 ? "all" : argv[i];
        if (what == "list" || what == "all") {
            BenchList(dir);
        }
        if (what == "extract" || what == "all") {
            BenchExtract(dir);
        }
        if (what == "delete" || what == "all") {
            BenchDelete(dir);
        }
        if (what == "add" || what == "all") {
            BenchAdd(dir);
        }
        if (argc == 2) {
            break;
        }
    }
    fs::remove_all(dir);
    return 0;
}
