// Benchmarks of the operations users wait for, each beside a plain baseline doing the bare work,
// timed in the same run:
//   list     100,000 entries of existing files     vs  reading the lines and taking each status
//   extract  a 1 GiB file through ProcessFileW     vs  cp (natively) or CopyFileW (Windows),
//            without a progress callback and with one; then Cancel half way
//   delete   100 and 10,000 names of 100,000 lines vs  a plain copy of the playlist file, the
//            same flushed, and a durable copy (copied, flushed, renamed into place, folder flushed)
//   pack     1,000 names into 10,000 lines and 10,000 into 100,000 (same baselines)
//   formats  XSPF and PLS of 100,000 entries: list, delete 100, pack 1,000 vs a durable copy
//   tags     pack 1,000 MP3 files of 1 MiB into an extended M3U, tagged and untagged (their
//            headers read for #EXTINF)  vs  the same pack into a plain M3U, which reads none
//   scaling  pack and delete 1,000 names at 1,000 to 1,000,000 lines: time per line
//   stack    the deepest stack each operation touches
// Usage: bench FOLDER [list|extract|delete|pack|formats|tags|scaling|stack]...  (FOLDER: emptied
// first)
#include <algorithm>
#include <chrono>
#include <cstdint>
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
#else
#include <fcntl.h>
#include <unistd.h>
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
    printf("%-34s plug-in %8.3f s (%10.0f %s/s)   %-10s %8.3f s   ratio %5.2f\n", what, plugin,
           units / plugin, unitName, baselineName, baseline, plugin / baseline);
    fflush(stdout);
}

// The playlist opened for listing, as the host opens it.
static void* OpenPlaylist(std::u16string& playlist) {
    tOpenArchiveDataW open = {};
    open.ArcName = &playlist[0];
    return OpenArchiveW(&open);
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

    // Best of three each, alternating, so that a burst of other work does not decide.
    double plugin = 1e9, baseline = 1e9;
    int listed = 0, statted = 0;
    for (int run = 0; run < 3; ++run) {
        Clock::time_point start = Clock::now();
        void* handle = OpenPlaylist(playlist);
        static tHeaderDataExW header;
        listed = 0;
        while (ReadHeaderExW(handle, &header) == 0) {
            ProcessFileW(handle, PK_SKIP, nullptr, nullptr);
            ++listed;
        }
        CloseArchive(handle);
        plugin = std::min(plugin, Seconds(start));

        start = Clock::now();
        FILE* in = fopen((dir / "list.m3u").string().c_str(), "rb");
        char line[4096];
        statted = 0;
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
        baseline = std::min(baseline, Seconds(start));
    }
    if (listed != entries || statted != entries) {
        printf("list: %d listed, %d read\n", listed, statted);
    }
    Report("list", plugin, baseline, "read+stat", entries, "entries");
}

// A host's progress callback: counts its calls, and answers 0 (Cancel) at the one numbered
// ProgressStopAt.
static int ProgressCalls = 0, ProgressStopAt = -1;
static Clock::time_point Answered;
static int WCX_CALL CountProgress(char16_t*, int) {
    if (ProgressCalls++ == ProgressStopAt) {
        Answered = Clock::now();
        return 0;
    }
    return 1;
}

// Extracts the playlist's one entry as a host does; seconds taken.
static double TimedExtract(std::u16string& playlist, std::u16string& target, bool progress,
                           int* result) {
    Clock::time_point start = Clock::now();
    void* handle = OpenPlaylist(playlist);
    SetProcessDataProcW(handle, progress ? reinterpret_cast<void*>(&CountProgress) : nullptr);
    static tHeaderDataExW header;
    ReadHeaderExW(handle, &header);
    *result = ProcessFileW(handle, PK_EXTRACT, nullptr, &target[0]);
    CloseArchive(handle);
    return Seconds(start);
}

// The system's own copy of a file: cp natively, CopyFileW on Windows; seconds taken.
static double SystemCopy(const fs::path& source, const fs::path& copy) {
    Clock::time_point start = Clock::now();
#if defined(_WIN32)
    CopyFileW(reinterpret_cast<const wchar_t*>(Wide(source).c_str()),
              reinterpret_cast<const wchar_t*>(Wide(copy).c_str()), FALSE);
#else
    std::string command = "cp '" + source.string() + "' '" + copy.string() + "'";
    if (system(command.c_str()) != 0) {
        printf("cp failed\n");
    }
#endif
    return Seconds(start);
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

    // Best of three each, alternating, with the file in the page cache.
    double plugin = 1e9, baseline = 1e9;
    int result = 0;
#if defined(_WIN32)
    const char* baselineName = "CopyFileW";
#else
    const char* baselineName = "cp";
#endif
    for (int run = 0; run < 3; ++run) {
        int one = 0;
        plugin = std::min(plugin, TimedExtract(playlist, target, false, &one));
        result |= one;
        baseline = std::min(baseline, SystemCopy(source, dir / "copy2.bin"));
    }
    if (result != 0 || fs::file_size(dir / "copy1.bin") != size) {
        printf("extract failed: %d\n", result);
    }
    Report("extract", plugin, baseline, baselineName, double(size) / (1 << 20), "MiB");

    // As a host extracts: with its progress callback, alternating with the system's copy again.
    double told = 1e9, plainBaseline = baseline;
    baseline = 1e9;
    ProgressCalls = 0;
    for (int run = 0; run < 3; ++run) {
        ProgressStopAt = -1;
        told = std::min(told, TimedExtract(playlist, target, true, &result));
        baseline = std::min(baseline, SystemCopy(source, dir / "copy2.bin"));
    }
    Report("extract, host's progress callback", told, baseline, baselineName,
           double(size) / (1 << 20), "MiB");
    printf("%-34s %d calls for 1 GiB a run; speed %.2fx the system's copy without, %.2fx with\n",
           "", ProgressCalls / 3, plainBaseline / plugin, baseline / told);
    // Cancel half way: from the host's answer to the return, the partial copy removed.
    ProgressCalls = 0;
    ProgressStopAt = 512;
    TimedExtract(playlist, target, true, &result);
    printf("%-34s Cancel half way: %d, %.1f ms from the answer to the return, copy %s\n", "",
           result, std::chrono::duration<double, std::milli>(Clock::now() - Answered).count(),
           fs::exists(dir / "copy1.bin") ? "left" : "gone");
    fs::remove(source);
    fs::remove(dir / "copy1.bin");
    fs::remove(dir / "copy2.bin");
}

// Best of a few copies: one copy of a small file takes a millisecond or less, and a single
// timing of it is mostly noise.
// Over an existing file: Wine's runtime refuses copy_file's overwrite.
static void Replace(const fs::path& from, const fs::path& to) {
    fs::remove(to);
    fs::copy_file(from, to);
}

// Waits until the system has the file on the disk, as a rewrite does with its new version.
static void FlushToDisk(const fs::path& path) {
#if defined(_WIN32)
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    FlushFileBuffers(h);
    CloseHandle(h);
#else
    int fd = open(path.c_str(), O_WRONLY);
    fsync(fd);
    close(fd);
#endif
}

// A durable copy, the least a rewrite that survives a crash can do: the file copied beside
// `to`, flushed to the disk, renamed over `to`, and the folder flushed so that the new name
// lasts too (Windows has no folder to flush: its rename is asked to write through).
static void DurableCopy(const fs::path& from, const fs::path& to) {
    fs::path temp = to;
    temp += ".new";
    Replace(from, temp);
    FlushToDisk(temp);
#if defined(_WIN32)
    MoveFileExW(temp.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
#else
    fs::rename(temp, to);
    int dir = open(to.parent_path().c_str(), O_RDONLY | O_DIRECTORY);
    fsync(dir);
    close(dir);
#endif
}

enum CopyKind { CopyPlain, CopyFlushed, CopyDurable };

// The best of a few copies: `CopyFlushed` flushes each to the disk; `CopyDurable` is
// DurableCopy, the baseline the rewrites' targets name.
static double PlainCopy(const fs::path& from, const fs::path& to, CopyKind kind = CopyPlain) {
    double best = 1e9;
    std::ofstream(to, std::ios::binary) << "x"; // a file to take the place of, as a rewrite has
    for (int i = 0; i < 5; ++i) {
        Clock::time_point start = Clock::now();
        if (kind == CopyDurable) {
            DurableCopy(from, to);
        } else {
            Replace(from, to);
            if (kind == CopyFlushed) {
                FlushToDisk(to);
            }
        }
        best = std::min(best, Seconds(start));
    }
    fs::remove(to);
    return best;
}

static std::vector<std::u16string> Names(const char* pattern, int count, int step, int modulo) {
    std::vector<std::u16string> names;
    for (int i = 0; i < count; ++i) {
        char name[48];
        snprintf(name, sizeof name, pattern, static_cast<int>(int64_t(i) * step % modulo));
        names.push_back(std::u16string(name, name + strlen(name)));
    }
    return names;
}

// Packs `names` new names into a playlist of `lines` entries; the best of a few runs, each on a
// fresh copy of the playlist.
static double TimePack(const fs::path& dir, int lines, int names, double* copy, double* flushed,
                       double* durable) {
    WriteLines(dir / "pristine.m3u", lines, lines);
    std::u16string list = List(Names("new\\n%07d.mp3", names, 1, names));
    std::u16string playlist = Wide(dir / "add.m3u");
    std::u16string source = Wide(dir) + u"\\";
    *copy = PlainCopy(dir / "pristine.m3u", dir / "copy.m3u");
    *flushed = PlainCopy(dir / "pristine.m3u", dir / "copy.m3u", CopyFlushed);
    *durable = PlainCopy(dir / "pristine.m3u", dir / "copy.m3u", CopyDurable);
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        Replace(dir / "pristine.m3u", dir / "add.m3u");
        Clock::time_point start = Clock::now();
        int result = PackFilesW(&playlist[0], nullptr, &source[0], &list[0], 0);
        best = std::min(best, Seconds(start));
        if (result != 0) {
            printf("pack failed: %d\n", result);
        }
    }
    return best;
}

// Deletes `names` names spread over a playlist of `lines` entries, each named once.
static double TimeDelete(const fs::path& dir, int lines, int names, double* copy, double* flushed,
                         double* durable) {
    WriteLines(dir / "pristine.m3u", lines, lines);
    // 7919 is prime: the names are spread over the whole playlist, in no order.
    std::u16string list = List(Names("media\\f%04d.mp3", names, 7919, lines));
    std::u16string playlist = Wide(dir / "del.m3u");
    *copy = PlainCopy(dir / "pristine.m3u", dir / "copy.m3u");
    *flushed = PlainCopy(dir / "pristine.m3u", dir / "copy.m3u", CopyFlushed);
    *durable = PlainCopy(dir / "pristine.m3u", dir / "copy.m3u", CopyDurable);
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        Replace(dir / "pristine.m3u", dir / "del.m3u");
        Clock::time_point start = Clock::now();
        int result = DeleteFilesW(&playlist[0], &list[0]);
        best = std::min(best, Seconds(start));
        if (result != 0) {
            printf("delete failed: %d\n", result);
        }
    }
    return best;
}

static void BenchDelete(const fs::path& dir) {
    for (int names : {100, 10000}) {
        double copy = 0, flushed = 0, durable = 0;
        double plugin = TimeDelete(dir, 100000, names, &copy, &flushed, &durable);
        char what[64];
        snprintf(what, sizeof what, "delete %d of 100,000 lines", names);
        Report(what, plugin, copy, "file copy", 100000, "lines");
        Report("  the same", plugin, flushed, "flushed", 100000, "lines");
        Report("  the same", plugin, durable, "durable", 100000, "lines");
    }
}

static void BenchAdd(const fs::path& dir) {
    const struct { int names, lines; } cases[] = {{1000, 10000}, {10000, 100000}};
    for (const auto& c : cases) {
        double copy = 0, flushed = 0, durable = 0;
        double plugin = TimePack(dir, c.lines, c.names, &copy, &flushed, &durable);
        char what[64];
        snprintf(what, sizeof what, "pack %d into %d lines", c.names, c.lines);
        Report(what, plugin, copy, "file copy", c.names, "names");
        Report("  the same", plugin, flushed, "flushed", c.names, "names");
        Report("  the same", plugin, durable, "durable", c.names, "names");
    }
}

// An MP3 file of `bytes`: MPEG-1 Layer III frames of 128 kbit/s at 44.1 kHz (417 bytes each),
// after an ID3v2.3 tag with a title and an artist when `tagged`.
static void WriteMp3(const fs::path& path, size_t bytes, bool tagged, int n) {
    std::string data;
    if (tagged) {
        std::string frames;
        auto frame = [&frames](const char* id, const std::string& text) {
            size_t size = text.size() + 1; // the encoding byte
            frames += id;
            frames += {char(size >> 24), char(size >> 16), char(size >> 8), char(size), 0, 0, 0};
            frames += text;
        };
        frame("TIT2", "Title " + std::to_string(n));
        frame("TPE1", "Artist " + std::to_string(n % 50));
        size_t s = frames.size();
        data = std::string("ID3\x03\x00\x00", 6) +
               std::string{char((s >> 21) & 127), char((s >> 14) & 127), char((s >> 7) & 127),
                           char(s & 127)} +
               frames;
    }
    std::string frame(417, '\0');
    frame[0] = '\xFF', frame[1] = '\xFB', frame[2] = '\x90', frame[3] = '\x00';
    while (data.size() + frame.size() <= bytes) {
        data += frame;
    }
    std::ofstream(path, std::ios::binary) << data;
}

// Pack of 1,000 MP3 files into a new extended M3U, which reads each file's headers for its
// #EXTINF, tagged files beside untagged ones; the baseline is the same pack into a playlist of
// plain lines, which reads no file. Best of three runs each.
static void BenchTags(const fs::path& dir) {
    const int files = 1000;
    const size_t bytes = 1 << 20;
    for (const char* kind : {"tagged", "untagged"}) {
        fs::create_directories(dir / kind);
        for (int i = 0; i < files; ++i) {
            char name[32];
            snprintf(name, sizeof name, "f%04d.mp3", i);
            WriteMp3(dir / kind / name, bytes, kind[0] == 't', i);
        }
    }
    auto timed = [&](const char* kind, bool extended) {
        double best = 1e9;
        for (int run = 0; run < 3; ++run) {
            fs::path list = dir / kind / "list.m3u";
            fs::remove(list);
            if (!extended) {
                std::ofstream(list, std::ios::binary) << "old.mp3\r\n";
            }
            std::vector<std::u16string> names;
            for (int i = 0; i < files; ++i) {
                char name[32];
                snprintf(name, sizeof name, "f%04d.mp3", i);
                names.push_back(fs::u8path(name).u16string());
            }
            std::u16string playlist = Wide(list), source = Wide(dir / kind) + u"\\";
            std::u16string added = List(names);
            auto start = Clock::now();
            int result = PackFilesW(&playlist[0], nullptr, &source[0], &added[0], 0);
            best = std::min(best, Seconds(start));
            if (result != 0) {
                printf("pack failed: %d\n", result);
            }
        }
        return best;
    };
    double plainTagged = timed("tagged", false), plainUntagged = timed("untagged", false);
    Report("pack 1,000 tagged MP3, #EXTINF", timed("tagged", true), plainTagged, "plain M3U", files,
           "files");
    Report("pack 1,000 untagged MP3, #EXTINF", timed("untagged", true), plainUntagged, "plain M3U",
           files, "files");
    for (const char* kind : {"tagged", "untagged"}) {
        fs::remove_all(dir / kind);
    }
}

// A playlist of another format with `entries` entries named media\f%04d.mp3 as M3U's are.
static void WriteFormat(const fs::path& path, bool xspf, int entries, int files) {
    std::ofstream out(path, std::ios::binary);
    out << (xspf ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<playlist version=\"1\" "
                   "xmlns=\"http://xspf.org/ns/0/\">\n  <trackList>\n"
                 : "[playlist]\n");
    char text[256];
    for (int i = 0; i < entries; ++i) {
        if (xspf) {
            snprintf(text, sizeof text,
                     "    <track>\n      <location>media/f%04d.mp3</location>\n      <title>Title "
                     "%d</title>\n      <creator>Artist %d</creator>\n    </track>\n",
                     i % files, i, i % 500);
        } else {
            snprintf(text, sizeof text, "File%d=media\\f%04d.mp3\nTitle%d=Title %d\nLength%d=%d\n",
                     i + 1, i % files, i + 1, i, i + 1, i % 600);
        }
        out << text;
    }
    out << (xspf ? "  </trackList>\n</playlist>\n"
                 : "NumberOfEntries=" + std::to_string(entries) + "\nVersion=2\n");
}

// XSPF and PLS of 100,000 entries beside the M3U rows: a listing, a delete of 100 names and a
// pack of 1,000, each rewrite beside a durable copy of the same file.
static void BenchFormats(const fs::path& dir) {
    const int entries = 100000, files = 1000;
    fs::create_directories(dir / "media");
    fs::create_directories(dir / "new");
    for (int i = 0; i < files; ++i) {
        char name[32];
        snprintf(name, sizeof name, "f%04d.mp3", i);
        std::ofstream(dir / "media" / name, std::ios::binary) << "x";
        snprintf(name, sizeof name, "n%07d.mp3", i);
        std::ofstream(dir / "new" / name, std::ios::binary) << "x";
    }
    for (bool xspf : {true, false}) {
        const char* kind = xspf ? "xspf" : "pls";
        fs::path pristine = dir / (std::string("pristine.") + kind);
        fs::path work = dir / (std::string("work.") + kind);
        WriteFormat(pristine, xspf, entries, files);
        double durable = PlainCopy(pristine, dir / "copy", CopyDurable);
        std::u16string playlist = Wide(work), source = Wide(dir) + u"\\";
        std::u16string deleted = List(Names("media\\f%04d.mp3", 100, 7, files));
        std::u16string added = List(Names("new\\n%07d.mp3", 1000, 1, files));
        double list = 1e9, remove = 1e9, pack = 1e9;
        for (int run = 0; run < 3; ++run) {
            Replace(pristine, work);
            Clock::time_point start = Clock::now();
            void* handle = OpenPlaylist(playlist);
            static tHeaderDataExW header;
            while (handle && ReadHeaderExW(handle, &header) == 0) {
            }
            CloseArchive(handle);
            list = std::min(list, Seconds(start));
            start = Clock::now();
            int result = DeleteFilesW(&playlist[0], &deleted[0]);
            remove = std::min(remove, Seconds(start));
            start = Clock::now();
            result = result ? result : PackFilesW(&playlist[0], nullptr, &source[0], &added[0], 0);
            pack = std::min(pack, Seconds(start));
            if (result != 0) {
                printf("%s: %d\n", kind, result);
            }
        }
        char what[64];
        snprintf(what, sizeof what, "%s: list 100,000 entries", kind);
        Report(what, list, durable, "durable", entries, "entries");
        snprintf(what, sizeof what, "%s: delete 100 of 100,000", kind);
        Report(what, remove, durable, "durable", entries, "entries");
        snprintf(what, sizeof what, "%s: pack 1000 into 100,000", kind);
        Report(what, pack, durable, "durable", 1000, "names");
    }
}

// Cost per line as the playlist grows, with a list of 1,000 names.
static void BenchScaling(const fs::path& dir) {
    printf("%-10s %-26s %-26s\n", "lines", "pack 1,000 names", "delete 1,000 names");
    for (int lines : {1000, 10000, 100000, 1000000}) {
        double packCopy = 0, deleteCopy = 0, flushed = 0, durable = 0;
        double pack = TimePack(dir, lines, 1000, &packCopy, &flushed, &durable);
        double del = TimeDelete(dir, lines, 1000, &deleteCopy, &flushed, &durable);
        printf("%-10d %7.1f ns/line %6.2fx copy %7.1f ns/line %6.2fx copy\n", lines,
               pack * 1e9 / lines, pack / packCopy, del * 1e9 / lines, del / deleteCopy);
        fflush(stdout);
    }
}

// Peak stack: paint a region below the caller's frame, run the operation from the same frame,
// and find the deepest byte it changed. A lower bound: a buffer that an operation reserves but
// never writes does not show.
enum { PaintBytes = 512 * 1024 };
static volatile uintptr_t PaintedLow;

__attribute__((noinline)) static void PaintStack() {
    volatile unsigned char area[PaintBytes];
    for (size_t i = 0; i < PaintBytes; ++i) {
        area[i] = 0xA5;
    }
    PaintedLow = reinterpret_cast<uintptr_t>(&area[0]);
}

__attribute__((noinline)) static size_t StackTouched() {
    const volatile unsigned char* low = reinterpret_cast<const volatile unsigned char*>(PaintedLow);
    size_t i = 0;
    while (i < PaintBytes && low[i] == 0xA5) {
        ++i;
    }
    return PaintBytes - i;
}

template <typename F> static size_t PeakStack(F run) {
    PaintStack();
    run();
    return StackTouched();
}

static void BenchStack(const fs::path& dir) {
    fs::create_directories(dir / "media");
    WriteLines(dir / "small.m3u", 100, 100);
    std::ofstream(dir / "media" / "f0001.mp3", std::ios::binary) << std::string(300000, 'x');
    std::u16string playlist = Wide(dir / "small.m3u"), copy = Wide(dir / "out.mp3");
    std::u16string source = Wide(dir) + u"\\";
    std::u16string names = List(Names("media\\f%04d.mp3", 50, 1, 100));
    std::u16string folder = List({u"media\\*.*"});
    size_t list = PeakStack([&] {
        void* handle = OpenPlaylist(playlist);
        static tHeaderDataExW header;
        ReadHeaderExW(handle, &header);
        ReadHeaderExW(handle, &header);
        ProcessFileW(handle, PK_EXTRACT, nullptr, &copy[0]);
        CloseArchive(handle);
    });
    size_t pack = PeakStack([&] { PackFilesW(&playlist[0], nullptr, &source[0], &names[0], 0); });
    size_t del = PeakStack([&] { DeleteFilesW(&playlist[0], &names[0]); });
    size_t delFolder = PeakStack([&] { DeleteFilesW(&playlist[0], &folder[0]); });
    printf("peak stack: list+extract %zu KiB, pack %zu KiB, delete %zu KiB, delete folder %zu "
           "KiB\n",
           list / 1024, pack / 1024, del / 1024, delFolder / 1024);
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr,
                "usage: bench FOLDER [list|extract|delete|add|formats|tags|scaling|stack]...\n");
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
        if (what == "add" || what == "pack" || what == "all") {
            BenchAdd(dir);
        }
        if (what == "formats" || what == "all") {
            BenchFormats(dir);
        }
        if (what == "tags" || what == "all") {
            BenchTags(dir);
        }
        if (what == "scaling" || what == "all") {
            BenchScaling(dir);
        }
        if (what == "stack" || what == "all") {
            BenchStack(dir);
        }
        if (argc == 2) {
            break;
        }
    }
    fs::remove_all(dir);
    return 0;
}
