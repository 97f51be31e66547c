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
#include <climits>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
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
    const char* how = mode == FileForReading    ? "rb"
                      : mode == FileForWriting  ? "wb"
                      : mode == FileForUpdating ? "w+b"
                                                : "ab";
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

bool FileRewind(PlatformFile* file) {
    return fseeko(Stream(file), 0, SEEK_SET) == 0;
}

bool FileSeekTo(PlatformFile* file, uint64_t offset) {
    return fseeko(Stream(file), static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool FileGetSize(PlatformFile* file, uint64_t* size) {
    struct stat st;
    if (fstat(fileno(Stream(file)), &st) != 0 || st.st_size < 0) {
        return false;
    }
    *size = static_cast<uint64_t>(st.st_size);
    return true;
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

static bool SameIdentity(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool SameFile(const char16_t* a, const char16_t* b) {
    char na[NativePathBytes], nb[NativePathBytes];
    struct stat sa, sb;
    if (!NativePath(a, na, sizeof na) || !NativePath(b, nb, sizeof nb) || stat(na, &sa) != 0 ||
        stat(nb, &sb) != 0) {
        return false;
    }
    return SameIdentity(sa, sb);
}

// One try at opening the playlist and locking it without waiting.
static int OpenForRewrite(const char* native, bool create, LockOutcome* outcome, bool* created) {
    struct stat st;
    *created = false;
    if (stat(native, &st) != 0) {
        if (errno != ENOENT || !create) {
            *outcome = errno == ENOENT ? LockMissing : LockFailed;
            return -1;
        }
    } else if (!S_ISREG(st.st_mode)) {
        *outcome = LockNotRegular; // a device is not even opened: opening some acts on them
        return -1;
    }
    // O_NONBLOCK: a pipe put in the file's place meanwhile would block the open.
    int flags = O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = open(native, flags);
    if (fd < 0 && errno == ENOENT && create) {
        fd = open(native, flags | O_CREAT | O_EXCL, 0666);
        *created = fd >= 0;
    }
    if (fd < 0) {
        // EEXIST: another made it meanwhile, and the next try opens that one. A playlist that
        // may be read but not written cannot change.
        *outcome = errno == EEXIST             ? LockBusy
                   : access(native, R_OK) == 0 ? LockReadOnly
                                               : LockFailed;
        return -1;
    }
    int fl = fcntl(fd, F_GETFL);
    bool opened = fstat(fd, &st) == 0;
    if (!opened || !S_ISREG(st.st_mode) || fl == -1 || fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) {
        *outcome = opened && !S_ISREG(st.st_mode) ? LockNotRegular : LockFailed;
        close(fd);
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // A file just made may be locked by another that opened it first: it is theirs now.
        *outcome = errno == EWOULDBLOCK ? LockBusy : LockFailed;
        *created = false;
        close(fd);
        return -1;
    }
    *outcome = LockHeld;
    return fd;
}

PlatformFile* FileOpenLocked(const char16_t* path, bool create, LockOutcome* outcome,
                             bool* created) {
    char native[NativePathBytes];
    *created = false;
    if (!NativePath(path, native, sizeof native) || FaultHere()) {
        *outcome = LockFailed;
        return nullptr;
    }
    int fd = OpenForRewrite(native, create, outcome, created);
    if (fd < 0) {
        return nullptr;
    }
    // Another rewrite may have put a new file in the path's place while this one waited: the
    // lock must be on the file the path names now.
    struct stat held, named;
    if (fstat(fd, &held) != 0 || stat(native, &named) != 0 || !SameIdentity(held, named)) {
        *outcome = LockBusy;
        close(fd);
        return nullptr;
    }
    FILE* stream = fdopen(fd, "r+b");
    if (!stream) {
        *outcome = LockFailed;
        close(fd);
    }
    return Adopt(stream);
}

// A file-system path (UTF-8) as the host writes paths, into `out` (`units`).
static bool HostPath(const char* native, char16_t* out, size_t units) {
    size_t inCount = strlen(native) + 1, room = units * 2;
    if (Utf8ToUtf16(native, inCount, out, room) != 0) {
        return false;
    }
    for (char16_t* p = out; *p; ++p) {
        *p = *p == u'/' ? static_cast<char16_t>(HostPaths.Separator) : *p;
    }
    return true;
}

bool TempFolder(char16_t* out, size_t units) {
    const char* folder = getenv("TMPDIR");
    if (!folder || !folder[0]) {
        folder = "/tmp";
    }
    char trimmed[NativePathBytes];
    size_t n = strlen(folder);
    if (n >= sizeof trimmed) {
        return false;
    }
    memcpy(trimmed, folder, n + 1);
    while (n > 1 && trimmed[n - 1] == '/') {
        trimmed[--n] = 0;
    }
    return HostPath(trimmed, out, units);
}

bool ResolvedPath(const char16_t* path, char16_t* out, size_t units) {
    char native[NativePathBytes];
    char resolved[PATH_MAX];
    return NativePath(path, native, sizeof native) && realpath(native, resolved) &&
           HostPath(resolved, out, units);
}

bool GetFileIdentity(const char16_t* path, FileIdentity* identity) {
    char native[NativePathBytes];
    struct stat st;
    if (!NativePath(path, native, sizeof native) || stat(native, &st) != 0) {
        return false;
    }
    identity->Volume = static_cast<uint64_t>(st.st_dev);
    identity->Index = static_cast<uint64_t>(st.st_ino);
    identity->Size = static_cast<uint64_t>(st.st_size);
    identity->WriteTime = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

static pthread_mutex_t LibraryState = PTHREAD_MUTEX_INITIALIZER;

void LockLibraryState() {
    pthread_mutex_lock(&LibraryState);
}

void UnlockLibraryState() {
    pthread_mutex_unlock(&LibraryState);
}

bool FileCloseLocked(PlatformFile* file) {
    fflush(Stream(file));
    flock(fileno(Stream(file)), LOCK_UN);
    return FileClose(file);
}

bool ReplacedPath(const char16_t* path, char16_t* out, size_t units) {
    char native[NativePathBytes];
    struct stat st;
    if (!NativePath(path, native, sizeof native) || lstat(native, &st) != 0 ||
        !S_ISLNK(st.st_mode)) {
        size_t n = WideLength(path);
        if (n >= units) {
            return false;
        }
        for (size_t i = 0; i <= n; ++i) {
            out[i] = path[i];
        }
        return true;
    }
    char target[PATH_MAX];
    if (!realpath(native, target)) {
        return false;
    }
    if (HostPaths.Separator != '/') {
        for (char* p = target; *p; ++p) {
            *p = *p == '/' ? HostPaths.Separator : *p;
        }
    }
    size_t inCount = strlen(target) + 1, room = units * 2;
    return Utf8ToUtf16(target, inCount, out, room) == 0;
}

PlatformFile* FileOpenUnnamed(const char16_t* directory) {
#ifdef O_TMPFILE
    char native[NativePathBytes];
    if (!NativePath(directory, native, sizeof native) || FaultHere()) {
        return nullptr;
    }
    int fd = open(native[0] ? native : ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    FILE* stream = fd >= 0 ? fdopen(fd, "w+b") : nullptr;
    if (!stream && fd >= 0) {
        close(fd);
    }
    return Adopt(stream);
#else
    (void)directory;
    return nullptr;
#endif
}

static bool LinkUnnamed(PlatformFile* file, const char* native) {
    char self[64];
    if (FaultHere() || fflush(Stream(file)) != 0) {
        return false;
    }
    // By its descriptor is the shorter way, but needs a privilege that its /proc name does not.
    snprintf(self, sizeof self, "/proc/self/fd/%d", fileno(Stream(file)));
    return linkat(fileno(Stream(file)), "", AT_FDCWD, native, AT_EMPTY_PATH) == 0 ||
           linkat(AT_FDCWD, self, AT_FDCWD, native, AT_SYMLINK_FOLLOW) == 0;
}

bool FileGiveName(PlatformFile* file, const char16_t* path) {
    char native[NativePathBytes];
    return NativePath(path, native, sizeof native) && LinkUnnamed(file, native);
}

bool FileFlushToDisk(PlatformFile* file) {
    return !FaultHere() && fflush(Stream(file)) == 0 && fsync(fileno(Stream(file))) == 0;
}

bool FileReadyToReplace(PlatformFile* locked, PlatformFile* temp) {
    struct stat st;
    if (fstat(fileno(Stream(locked)), &st) != 0 || st.st_nlink > 1) {
        return false;
    }
    int fd = fileno(Stream(temp));
    // The owner only where the process may give it away (root); the mode after it, as changing
    // the owner may clear the set-id bits.
    if (fchown(fd, st.st_uid, st.st_gid) != 0) {
        // Not this process's to give: the new version is its own, as any file it writes.
    }
    return fchmod(fd, st.st_mode & 07777) == 0;
}

bool FileReplace(const char16_t* target, const char16_t* temp, PlatformFile* unnamed) {
    char to[NativePathBytes], from[NativePathBytes];
    // The paths are ready before the name is given, so that nothing comes between the two.
    if (!NativePath(target, to, sizeof to) || !NativePath(temp, from, sizeof from) || FaultHere() ||
        (unnamed && !LinkUnnamed(unnamed, from)) || rename(from, to) != 0) {
        return false;
    }
    // The new name lasts a crash only once the folder that holds it is on the disk too.
    char* slash = strrchr(to, '/');
    if (slash) {
        slash[slash == to ? 1 : 0] = 0;
    }
    int dir = open(slash ? to : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

void SleepMilliseconds(int ms) {
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
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
