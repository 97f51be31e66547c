// POSIX: the Linux plug-in, and a stand-in for Windows in the native test build. Narrow strings
// are UTF-8.
#include "platform/platform.h"
#include "platform/conventions.h"
#include "platform/faults.h"
#include "platform/streams.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "text/text.h"

void* ZeroAlloc(size_t bytes) {
    return calloc(1, bytes);
}

void ZeroFree(void* block) {
    free(block);
}

bool AnsiToWide(const char* src, char16_t* dst, size_t units) {
    if (units == 0) {
        return false;
    }
    size_t inCount = strlen(src) + 1;
    size_t room = units * 2;
    if (Utf8ToUtf16(src, inCount, dst, room) != 0) {
        dst[0] = 0;
        return false;
    }
    return true;
}

void WideToAnsi(const char16_t* src, char* dst, size_t bytes) {
    if (bytes == 0) {
        return;
    }
    size_t inCount = WideLength(src) * 2;
    size_t room = bytes - 1;
    Utf16ToUtf8(src, inCount, dst, room);
    // The encoder writes whole characters only, so what fitted ends on a character boundary.
    dst[bytes - 1 - room] = 0;
}

bool LegacyTextToWide(const char* bytes, size_t count, char16_t* out, size_t units,
                      size_t* written) {
    // Windows-1252 differs from Latin-1 only in 0x80-0x9F; its holes keep their own values.
    static const char16_t High[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    if (count > units) {
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        out[i] = c >= 0x80 && c < 0xA0 ? High[c - 0x80] : c;
    }
    *written = count;
    return true;
}

bool WideToAnsiExactly(const char16_t*, char* dst, size_t bytes) {
    if (bytes > 0) {
        dst[0] = 0;
    }
    return false;
}

// UTF-16 path to a UTF-8 file-system path; false when it does not fit. Under Windows conventions
// their separator is read as a slash, so Windows-style paths behave as they do on Windows; under
// POSIX ones a backslash is an ordinary character of a name.
static bool NativePath(const char16_t* path, char* out, size_t size) {
    if (!ToUtf8(path, out, size)) {
        return false;
    }
    for (char* p = out; HostPaths.Separator != '/' && *p; ++p) {
        if (*p == HostPaths.Separator) {
            *p = '/';
        }
    }
    return true;
}

enum { NativePathBytes = 4 * 1024 * 3 };

PlatformFile* FileOpen(const char16_t* path, FileMode mode) {
    char native[NativePathBytes];
    if (!NativePath(path, native, sizeof native)) {
        return nullptr;
    }
    const char* how = mode == FileForReading ? "rb" : mode == FileForWriting ? "wb" : "ab";
    FILE* stream = FaultHere() ? nullptr : fopen(native, how);
    if (stream) {
        struct stat st;
        // Windows refuses to open a directory as a stream; so does this stand-in.
        if (fstat(fileno(stream), &st) != 0 || S_ISDIR(st.st_mode)) {
            fclose(stream);
            return nullptr;
        }
    }
    return Adopt(stream);
}

bool FileSeekFromEnd(PlatformFile* file, int64_t back) {
    return fseeko(Stream(file), static_cast<off_t>(-back), SEEK_END) == 0;
}

// The kernel copies between the two files without passing the bytes through this process, as
// cp does. A file system or kernel that cannot do so for these two files says so at the first
// call, and the copy goes through a buffer instead.
CopyOutcome FileCopyAll(PlatformFile* in, PlatformFile* out, const CopySteps* steps) {
    int from = fileno(Stream(in)), to = fileno(Stream(out));
    bool started = false;
    for (size_t most = FileCopyBlock;;) {
        if (most == 0) {
            return CopyStopped;
        }
        if (FaultHere()) {
            MarkFaulted(in);
            return CopyReadFailed;
        }
        if (FaultHere()) {
            return CopyWriteFailed;
        }
        ssize_t n = copy_file_range(from, nullptr, to, nullptr, most, 0);
        if (n > 0) {
            started = true;
            most = NextStep(steps, static_cast<size_t>(n), FileCopyBlock);
            continue;
        }
        if (n == 0) {
            // Nothing at all from the first call may be a file system that reports what it
            // cannot copy this way as an empty file; the buffer tells.
            return started ? CopyDone : CopyInBlocks(in, out, steps);
        }
        if (errno == EINTR) {
            continue;
        }
        if (!started && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                         errno == EOPNOTSUPP || errno == EBADF)) {
            return CopyInBlocks(in, out, steps);
        }
        // Room, quota and size limits are the destination's; anything else is taken as the
        // source's.
        return errno == ENOSPC || errno == EDQUOT || errno == EFBIG ? CopyWriteFailed
                                                                    : CopyReadFailed;
    }
}

bool FileGetStamp(PlatformFile* file, uint64_t* stamp) {
    struct stat st;
    if (fstat(fileno(Stream(file)), &st) != 0) {
        return false;
    }
    *stamp = static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000ULL +
             static_cast<uint64_t>(st.st_mtim.tv_nsec);
    return true;
}

bool FileSetStamp(PlatformFile* file, uint64_t stamp) {
    if (fflush(Stream(file)) != 0) {
        return false;
    }
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(stamp / 1000000000ULL);
    times[1].tv_nsec = static_cast<long>(stamp % 1000000000ULL);
    return futimens(fileno(Stream(file)), times) == 0;
}

bool GetFileStatus(const char16_t* path, FileStatus* status) {
    char native[NativePathBytes];
    struct stat st;
    if (!NativePath(path, native, sizeof native) || stat(native, &st) != 0) {
        return false;
    }
    status->Size = static_cast<uint64_t>(st.st_size);
    status->WriteTime = static_cast<int64_t>(st.st_mtim.tv_sec);
    status->Mode = static_cast<uint32_t>(st.st_mode);
    return true;
}

PlatformFile* FileOpenRegular(const char16_t* path) {
    char native[NativePathBytes];
    struct stat st;
    // A device is not even opened: opening some of them acts on them.
    if (!NativePath(path, native, sizeof native) || stat(native, &st) != 0 ||
        !S_ISREG(st.st_mode) || FaultHere()) {
        return nullptr;
    }
    // Without O_NONBLOCK, a pipe put in the file's place meanwhile would block the open until a
    // writer came; what was opened is checked again, then read as any file is.
    int fd = open(native, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    int flags = fcntl(fd, F_GETFL);
    FILE* stream = nullptr;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flags != -1 &&
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) {
        stream = fdopen(fd, "rb");
    }
    if (!stream) {
        close(fd);
    }
    return Adopt(stream);
}

bool GetRegularFileStatus(const char16_t* path, FileStatus* status) {
    FileStatus found;
    if (!GetFileStatus(path, &found) || !S_ISREG(found.Mode)) {
        return false;
    }
    *status = found;
    return true;
}

bool PathExists(const char16_t* path) {
    char native[NativePathBytes];
    struct stat st;
    return NativePath(path, native, sizeof native) && stat(native, &st) == 0;
}

bool IsFolder(const char16_t* path) {
    char native[NativePathBytes];
    struct stat st;
    return NativePath(path, native, sizeof native) && stat(native, &st) == 0 && S_ISDIR(st.st_mode);
}

bool RemoveFilePath(const char16_t* path) {
    char native[NativePathBytes];
    return NativePath(path, native, sizeof native) && unlink(native) == 0;
}

bool SameFile(const char16_t* a, const char16_t* b) {
    char na[NativePathBytes], nb[NativePathBytes];
    struct stat sa, sb;
    if (!NativePath(a, na, sizeof na) || !NativePath(b, nb, sizeof nb) || stat(na, &sa) != 0 ||
        stat(nb, &sb) != 0) {
        return false;
    }
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The C library keeps the zone's rules itself and converts cheaply: nothing to take.
bool ToLocalCalendar(int64_t secondsSince1970, CalendarTime* local, LocalZone*) {
    time_t t = static_cast<time_t>(secondsSince1970);
    struct tm parts;
    if (!localtime_r(&t, &parts)) {
        return false;
    }
    local->Year = parts.tm_year + 1900;
    local->Month = parts.tm_mon + 1;
    local->Day = parts.tm_mday;
    local->Hour = parts.tm_hour;
    local->Minute = parts.tm_min;
    local->Second = parts.tm_sec;
    return true;
}

uint32_t CurrentProcessId() {
    return static_cast<uint32_t>(getpid());
}

// The initial-exec model reserves the slots when the library is loaded: the general one would
// call into the loader (another library to need) at every access.
static thread_local void* ThreadValues[ThreadSlotCount] __attribute__((tls_model("initial-exec")));

void* ThreadValue(int slot) {
    return slot >= 0 && slot < ThreadSlotCount ? ThreadValues[slot] : nullptr;
}

bool SetThreadValue(int slot, void* value) {
    if (slot < 0 || slot >= ThreadSlotCount) {
        return false;
    }
    ThreadValues[slot] = value;
    return true;
}

void ReleaseThreadValues() {}

int ShowInformationBox(void*, const char* text, const char* caption) {
    // No window system here: the box goes to the error stream and counts as closed with OK.
    fprintf(stderr, "[%s]\n%s\n", caption, text);
    return 1;
}
