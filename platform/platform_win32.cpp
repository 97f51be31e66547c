// Windows implementation: the kernel, the user interface and msvcrt's file streams.
#include "platform/platform.h"
#include "platform/faults.h"
#include "platform/streams.h"

#include <windows.h>
#include <stdio.h>
#include <io.h>
#include <string.h>
#include <fcntl.h>

#include <atomic>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 strings are wchar_t on Windows");

static const wchar_t* Wide(const char16_t* s) {
    return reinterpret_cast<const wchar_t*>(s);
}

void* ZeroAlloc(size_t bytes) {
    return LocalAlloc(LMEM_ZEROINIT, bytes);
}

void ZeroFree(void* block) {
    if (block) {
        LocalFree(block);
    }
}

bool AnsiToWide(const char* src, char16_t* dst, size_t units) {
    if (units == 0) {
        return false;
    }
    int n = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, src, -1, reinterpret_cast<wchar_t*>(dst),
                                static_cast<int>(units));
    if (n <= 0) {
        dst[0] = 0;
        return false;
    }
    return true;
}

bool LegacyTextToWide(const char* bytes, size_t count, char16_t* out, size_t units,
                      size_t* written) {
    *written = 0;
    if (count == 0) {
        return true;
    }
    if (count > 0x7FFFFFFF || units > 0x7FFFFFFF) {
        return false;
    }
    // No MB_ERR_INVALID_CHARS: a byte the code page lacks becomes its default character rather
    // than hiding the whole line.
    int n = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(count),
                                reinterpret_cast<wchar_t*>(out), static_cast<int>(units));
    if (n <= 0) {
        return false;
    }
    *written = static_cast<size_t>(n);
    return true;
}

void WideToAnsi(const char16_t* src, char* dst, size_t bytes) {
    if (bytes == 0) {
        return;
    }
    int length = lstrlenW(Wide(src));
    // Shorten until the text fits; never split a surrogate pair.
    while (length > 0) {
        int n = WideCharToMultiByte(CP_ACP, 0, Wide(src), length, dst, static_cast<int>(bytes - 1),
                                    nullptr, nullptr);
        if (n > 0) {
            dst[n] = 0;
            return;
        }
        --length;
        if (length > 0 && src[length - 1] >= 0xD800 && src[length - 1] <= 0xDBFF) {
            --length;
        }
    }
    dst[0] = 0;
}

bool WideToAnsiExactly(const char16_t* src, char* dst, size_t bytes) {
    if (bytes == 0) {
        return false;
    }
    BOOL usedDefault = FALSE;
    int n = bytes > 0x7FFFFFFF
                ? 0
                : WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, Wide(src), -1, dst,
                                      static_cast<int>(bytes), nullptr, &usedDefault);
    if (n <= 0 || usedDefault) {
        dst[0] = 0;
        return false;
    }
    return true;
}

static const DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A stream over an open handle, which it then owns; null (and the handle closed) on failure.
static PlatformFile* StreamOver(HANDLE h, int flags, const char* how) {
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY);
    if (fd == -1) {
        CloseHandle(h);
        return nullptr;
    }
    FILE* stream = _fdopen(fd, how);
    if (!stream) {
        _close(fd); // closes the handle too
    }
    return Adopt(stream);
}

// Every file is shared for deleting too, so that a stream of our own never keeps a rewrite from
// putting a playlist's new version in its place.
PlatformFile* FileOpen(const char16_t* path, FileMode mode) {
    static const struct {
        DWORD Access, Disposition;
        int Flags;
        const char* How;
    } Modes[] = {{GENERIC_READ, OPEN_EXISTING, _O_RDONLY, "rb"},
                 {GENERIC_WRITE, CREATE_ALWAYS, _O_WRONLY, "wb"},
                 {GENERIC_WRITE, OPEN_ALWAYS, _O_WRONLY | _O_APPEND, "ab"},
                 {GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS, _O_RDWR, "w+b"}};
    if (FaultHere()) {
        return nullptr;
    }
    const auto& m = Modes[mode];
    HANDLE h = CreateFileW(Wide(path), m.Access, ShareAll, nullptr, m.Disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : StreamOver(h, m.Flags, m.How);
}

bool FileRewind(PlatformFile* file) {
    return fseek(Stream(file), 0, SEEK_SET) == 0;
}

bool FileSeekTo(PlatformFile* file, uint64_t offset) {
    return _fseeki64(Stream(file), static_cast<int64_t>(offset), SEEK_SET) == 0;
}

bool FileSeekFromEnd(PlatformFile* file, int64_t back) {
    return _fseeki64(Stream(file), -back, SEEK_END) == 0;
}

static HANDLE OsHandle(PlatformFile* file) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(Stream(file))));
}

bool FileGetSize(PlatformFile* file, uint64_t* size) {
    LARGE_INTEGER length;
    if (!GetFileSizeEx(OsHandle(file), &length) || length.QuadPart < 0) {
        return false;
    }
    *size = static_cast<uint64_t>(length.QuadPart);
    return true;
}

bool FileGetStamp(PlatformFile* file, uint64_t* stamp) {
    FILETIME written;
    if (!GetFileTime(OsHandle(file), nullptr, nullptr, &written)) {
        return false;
    }
    *stamp = (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
    return true;
}

// Windows' own copy works on names, and would give the destination the source's attributes.
// Between the two open streams the bytes go as it moves them: 64 KiB blocks read and written
// through the files' own handles, without the runtime's streams (neither has buffered anything
// yet, and the stamp set afterwards flushes nothing).
CopyOutcome FileCopyAll(PlatformFile* in, PlatformFile* out, const CopySteps* steps) {
    HANDLE from = OsHandle(in), to = OsHandle(out);
    unsigned char block[65536];
    for (size_t most = sizeof block; most > 0;) {
        DWORD n = 0;
        if (FaultHere() || !ReadFile(from, block, static_cast<DWORD>(most), &n, nullptr)) {
            MarkFaulted(in);
            return CopyReadFailed;
        }
        if (n == 0) {
            return CopyDone;
        }
        DWORD written = 0;
        if (FaultHere() || !WriteFile(to, block, n, &written, nullptr) || written != n) {
            return CopyWriteFailed;
        }
        most = NextStep(steps, n, sizeof block);
    }
    return CopyStopped;
}

bool FileSetStamp(PlatformFile* file, uint64_t stamp) {
    // Buffered bytes written after the stamp would move it again.
    if (fflush(Stream(file)) != 0) {
        return false;
    }
    FILETIME written;
    written.dwLowDateTime = static_cast<DWORD>(stamp);
    written.dwHighDateTime = static_cast<DWORD>(stamp >> 32);
    return SetFileTime(OsHandle(file), nullptr, nullptr, &written) != 0;
}

static int64_t UnixSeconds(const FILETIME& t) {
    const int64_t ticks =
        static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    const int64_t sinceUnix = ticks - 116444736000000000LL;
    // Round towards minus infinity so times before 1970 stay in their own second.
    return sinceUnix >= 0 ? sinceUnix / 10000000 : -((-sinceUnix + 9999999) / 10000000);
}

bool GetFileStatus(const char16_t* path, FileStatus* status) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data)) {
        return false;
    }
    status->Size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    status->WriteTime = UnixSeconds(data.ftLastWriteTime);
    status->Mode = 0;
    return true;
}

// A disk file, not a folder: devices (NUL, COM1, \\.\..., and Unix devices under Wine) are of
// another type, whatever their name looks like.
// What an open file is: its attributes, write time, size and links. Two cheap queries, where
// GetFileInformationByHandle also asks for the volume's serial number, which nothing here needs
// and Wine takes most of a millisecond to find: a pack that reads a thousand files' headers
// would spend seconds on it.
struct HandleFacts {
    DWORD Attributes;
    FILETIME Written;
    uint64_t Size;
    DWORD Links;
};

static bool FactsOf(HANDLE h, HandleFacts* facts) {
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (!GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) ||
        !GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard)) {
        return false;
    }
    facts->Attributes = basic.FileAttributes;
    facts->Written.dwLowDateTime = static_cast<DWORD>(basic.LastWriteTime.QuadPart);
    facts->Written.dwHighDateTime = static_cast<DWORD>(basic.LastWriteTime.QuadPart >> 32);
    facts->Size = static_cast<uint64_t>(standard.EndOfFile.QuadPart);
    facts->Links = standard.NumberOfLinks;
    return true;
}

static bool RegularHandle(HANDLE h, HandleFacts* facts) {
    return GetFileType(h) == FILE_TYPE_DISK && FactsOf(h, facts) &&
           !(facts->Attributes & FILE_ATTRIBUTE_DIRECTORY);
}

PlatformFile* FileOpenRegular(const char16_t* path) {
    if (FaultHere()) {
        return nullptr;
    }
    HANDLE h = CreateFileW(Wide(path), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    HandleFacts facts;
    if (!RegularHandle(h, &facts)) {
        CloseHandle(h);
        return nullptr;
    }
    return StreamOver(h, _O_RDONLY, "rb");
}

// Paths that Windows may take for a device although their attributes read as a file's: the
// device namespaces, and a last segment whose name before any extension is a reserved one (NUL,
// COM1, ...; older systems take "NUL.mp3" so too). Only these pay for opening a handle.
static bool MayNameDevice(const char16_t* path) {
    if (path[0] == u'\\' && path[1] == u'\\' && (path[2] == u'.' || path[2] == u'?') &&
        path[3] == u'\\') {
        return true;
    }
    const char16_t* name = path;
    for (const char16_t* p = path; *p; ++p) {
        if (*p == u'\\' || *p == u'/' || *p == u':') {
            name = p + 1;
        }
    }
    size_t length = 0;
    while (name[length] && name[length] != u'.') {
        ++length;
    }
    while (length > 0 && name[length - 1] == u' ') {
        --length;
    }
    char upper[8] = {};
    if (length < 3 || length > 7) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        char16_t c = name[i];
        // The superscript digits count as digits after COM and LPT.
        upper[i] = c >= u'a' && c <= u'z'                ? static_cast<char>(c - 32)
                   : c == 0xB9 || c == 0xB2 || c == 0xB3 ? '1'
                   : c < 0x80                            ? static_cast<char>(c)
                                                         : '?';
    }
    static const char* const Reserved[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* r : Reserved) {
        if (strcmp(upper, r) == 0) {
            return true;
        }
    }
    return length == 4 && (strncmp(upper, "COM", 3) == 0 || strncmp(upper, "LPT", 3) == 0) &&
           upper[3] >= '0' && upper[3] <= '9';
}

static void StatusOf(DWORD sizeHigh, DWORD sizeLow, const FILETIME& written, FileStatus* status) {
    status->Size = (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow;
    status->WriteTime = UnixSeconds(written);
    status->Mode = 0;
}

bool GetRegularFileStatus(const char16_t* path, FileStatus* status) {
    // The attributes alone tell for nearly every path, and cost a listing little; a device or
    // a pipe has none to give (Wine's Unix devices included), a folder says it is one.
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))) {
        return false;
    }
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !MayNameDevice(path)) {
        StatusOf(data.nFileSizeHigh, data.nFileSizeLow, data.ftLastWriteTime, status);
        return true;
    }
    // The handle's type decides, and a link is followed to what it names. No access asked: the
    // status is read even of a file that another program holds locked.
    HANDLE h = CreateFileW(Wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    HandleFacts facts;
    bool regular = RegularHandle(h, &facts);
    CloseHandle(h);
    if (regular) {
        StatusOf(static_cast<DWORD>(facts.Size >> 32), static_cast<DWORD>(facts.Size),
                 facts.Written, status);
    }
    return regular;
}

bool PathExists(const char16_t* path) {
    return GetFileAttributesW(Wide(path)) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const char16_t* path) {
    DWORD attributes = GetFileAttributesW(Wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool RemoveFilePath(const char16_t* path) {
    return DeleteFileW(Wide(path)) != 0;
}

static bool SameIdentity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

static bool HandleInfo(const char16_t* path, BY_HANDLE_FILE_INFORMATION* info) {
    HANDLE h = CreateFileW(Wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = GetFileInformationByHandle(h, info) != 0;
    CloseHandle(h);
    return ok;
}

bool SameFile(const char16_t* a, const char16_t* b) {
    BY_HANDLE_FILE_INFORMATION ia, ib;
    if (!HandleInfo(a, &ia) || !HandleInfo(b, &ib)) {
        return false;
    }
    return SameIdentity(ia, ib);
}

bool TempFolder(char16_t* out, size_t units) {
    DWORD room = units > 0x7FFF ? 0x7FFF : static_cast<DWORD>(units);
    DWORD n = GetTempPathW(room, reinterpret_cast<wchar_t*>(out));
    if (n == 0 || n >= room) {
        if (units > 0) {
            out[0] = 0;
        }
        return false;
    }
    // "C:\" stays the root it is.
    if (n > 3 && out[n - 1] == u'\\') {
        out[n - 1] = 0;
    }
    return true;
}

bool ResolvedPath(const char16_t* path, char16_t* out, size_t units) {
    HANDLE h = CreateFileW(Wide(path), 0, ShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD n = units > 0x7FFFFFFF ? 0
                                 : GetFinalPathNameByHandleW(h, reinterpret_cast<wchar_t*>(out),
                                                             static_cast<DWORD>(units), 0);
    CloseHandle(h);
    return n > 0 && n < units;
}

bool GetFileIdentity(const char16_t* path, FileIdentity* identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!HandleInfo(path, &info)) {
        return false;
    }
    identity->Volume = info.dwVolumeSerialNumber;
    identity->Index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    identity->Size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    identity->WriteTime =
        static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                             info.ftLastWriteTime.dwLowDateTime);
    return true;
}

// A slim lock needs no setting up: zero-filled, it is free.
static SRWLOCK LibraryState = SRWLOCK_INIT;

void LockLibraryState() {
    AcquireSRWLockExclusive(&LibraryState);
}

void UnlockLibraryState() {
    ReleaseSRWLockExclusive(&LibraryState);
}

// The rewrite lock is a byte far past the end of any playlist, which no reader ever reads, so
// that listing is never blocked.
static OVERLAPPED LockedRange() {
    OVERLAPPED range = {};
    range.Offset = 0;
    range.OffsetHigh = 0x7FFFFFFF;
    return range;
}

// One try at opening the playlist and locking it without waiting.
static HANDLE OpenForRewrite(const char16_t* path, bool create, LockOutcome* outcome,
                             bool* created) {
    *created = false;
    DWORD attributes = GetFileAttributesW(Wide(path));
    // Some systems replace a file in two renames, with a moment between them when the name is
    // gone (Wine): a playlist is taken for missing only when it stays so for a while.
    for (int look = 0; look < 8 && attributes == INVALID_FILE_ATTRIBUTES &&
                       GetLastError() == ERROR_FILE_NOT_FOUND;
         ++look) {
        SleepMilliseconds(2);
        attributes = GetFileAttributesW(Wide(path));
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        bool missing = error == ERROR_FILE_NOT_FOUND;
        if (!missing || !create) {
            *outcome = missing || error == ERROR_PATH_NOT_FOUND ? LockMissing : LockFailed;
            return INVALID_HANDLE_VALUE;
        }
    } else if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
        *outcome = LockNotRegular;
        return INVALID_HANDLE_VALUE;
    }
    // Made only when it was missing: a file that stood there a moment ago is being replaced, and
    // the next try opens its new version.
    bool make = attributes == INVALID_FILE_ATTRIBUTES;
    HANDLE h = CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE, ShareAll, nullptr,
                           make ? CREATE_NEW : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE &&
        GetLastError() == (make ? ERROR_FILE_EXISTS : ERROR_FILE_NOT_FOUND)) {
        *outcome = LockBusy;
        return INVALID_HANDLE_VALUE;
    }
    if (h == INVALID_HANDLE_VALUE) {
        // Read-only, or held by another program that lets no one write: it cannot change.
        HANDLE reading =
            CreateFileW(Wide(path), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
        *outcome = reading != INVALID_HANDLE_VALUE ? LockReadOnly : LockFailed;
        if (reading != INVALID_HANDLE_VALUE) {
            CloseHandle(reading);
        }
        return INVALID_HANDLE_VALUE;
    }
    *created = make;
    HandleFacts facts;
    if (!RegularHandle(h, &facts)) {
        *outcome = LockNotRegular;
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    OVERLAPPED range = LockedRange();
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
        // A file just made may be locked by another that opened it first: it is theirs now.
        *outcome = GetLastError() == ERROR_LOCK_VIOLATION || GetLastError() == ERROR_IO_PENDING
                       ? LockBusy
                       : LockFailed;
        *created = false;
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    *outcome = LockHeld;
    return h;
}

PlatformFile* FileOpenLocked(const char16_t* path, bool create, LockOutcome* outcome,
                             bool* created) {
    *created = false;
    if (FaultHere()) {
        *outcome = LockFailed;
        return nullptr;
    }
    HANDLE h = OpenForRewrite(path, create, outcome, created);
    if (h == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    // Another rewrite may have put a new file in the path's place while this one waited: the
    // lock must be on the file the path names now.
    BY_HANDLE_FILE_INFORMATION held, named;
    if (!GetFileInformationByHandle(h, &held) || !HandleInfo(path, &named) ||
        !SameIdentity(held, named)) {
        *outcome = LockBusy;
        CloseHandle(h);
        return nullptr;
    }
    PlatformFile* file = StreamOver(h, _O_RDWR, "r+b");
    *outcome = file ? LockHeld : LockFailed;
    return file;
}

bool FileCloseLocked(PlatformFile* file) {
    fflush(Stream(file));
    OVERLAPPED range = LockedRange();
    UnlockFileEx(OsHandle(file), 0, 1, 0, &range);
    return FileClose(file);
}

bool ReplacedPath(const char16_t* path, char16_t* out, size_t units) {
    DWORD attributes = GetFileAttributesW(Wide(path));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        // A link: the file it names, by the path the system resolves it to.
        HANDLE h = CreateFileW(Wide(path), 0, ShareAll, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        DWORD n = h == INVALID_HANDLE_VALUE || units > 0x7FFFFFFF
                      ? 0
                      : GetFinalPathNameByHandleW(h, reinterpret_cast<wchar_t*>(out),
                                                  static_cast<DWORD>(units), 0);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        }
        return n > 0 && n < units;
    }
    size_t n = static_cast<size_t>(lstrlenW(Wide(path)));
    if (n >= units) {
        return false;
    }
    memcpy(out, path, (n + 1) * sizeof(char16_t));
    return true;
}

// Windows has no file without a name: the rewrite names its temporary file from the start.
PlatformFile* FileOpenUnnamed(const char16_t*) {
    return nullptr;
}

bool FileGiveName(PlatformFile*, const char16_t*) {
    return false;
}

bool FileFlushToDisk(PlatformFile* file) {
    return !FaultHere() && fflush(Stream(file)) == 0 && FlushFileBuffers(OsHandle(file));
}

// The replacement keeps the playlist's attributes, security and creation time itself. It must
// be able to move the playlist away: another program's handle that does not share deleting
// forbids that (and some systems would move it all the same, and then fail to remove it).
bool FileReadyToReplace(PlatformFile* locked, PlatformFile*) {
    HandleFacts facts;
    if (!FactsOf(OsHandle(locked), &facts) || facts.Links != 1) {
        return false;
    }
    HANDLE probe = ReOpenFile(OsHandle(locked), DELETE, ShareAll, 0);
    if (probe == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(probe);
    return true;
}

bool FileReplace(const char16_t* target, const char16_t* temp, PlatformFile*) {
    if (FaultHere()) {
        return false;
    }
    if (ReplaceFileW(Wide(target), Wide(temp), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                     nullptr)) {
        return true;
    }
    // Without a backup name this error means the playlist is gone already and the new version
    // still has its temporary name: it takes the playlist's now.
    return GetLastError() == ERROR_UNABLE_TO_MOVE_REPLACEMENT &&
           GetFileAttributesW(Wide(target)) == INVALID_FILE_ATTRIBUTES &&
           MoveFileExW(Wide(temp), Wide(target), MOVEFILE_WRITE_THROUGH);
}

void SleepMilliseconds(int ms) {
    Sleep(static_cast<DWORD>(ms));
}

// Without rules of its own the conversion fetches the zone's anew each time, which costs a
// listing more than the file status under Wine; the rules handed in are the very same ones.
static const TIME_ZONE_INFORMATION* ZoneRules(LocalZone* zone) {
    static_assert(sizeof(TIME_ZONE_INFORMATION) <= sizeof zone->Rules, "the rules fit the record");
    if (!zone) {
        return nullptr;
    }
    TIME_ZONE_INFORMATION* rules = reinterpret_cast<TIME_ZONE_INFORMATION*>(zone->Rules);
    if (!zone->Taken) {
        zone->Taken = GetTimeZoneInformation(rules) != TIME_ZONE_ID_INVALID;
    }
    return zone->Taken ? rules : nullptr;
}

bool ToLocalCalendar(int64_t secondsSince1970, CalendarTime* local, LocalZone* zone) {
    const int64_t ticks = secondsSince1970 * 10000000 + 116444736000000000LL;
    if (ticks < 0) {
        return false;
    }
    FILETIME utc;
    utc.dwLowDateTime = static_cast<DWORD>(ticks);
    utc.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
    SYSTEMTIME u, l;
    // The zone's rules for that date, not today's offset.
    if (!FileTimeToSystemTime(&utc, &u) ||
        !SystemTimeToTzSpecificLocalTime(ZoneRules(zone), &u, &l)) {
        return false;
    }
    local->Year = l.wYear;
    local->Month = l.wMonth;
    local->Day = l.wDay;
    local->Hour = l.wHour;
    local->Minute = l.wMinute;
    local->Second = l.wSecond;
    return true;
}

uint32_t CurrentProcessId() {
    return GetCurrentProcessId();
}

// The system's index of each slot, plus one: 0 until the first thread asks for it. Threads that
// ask at once each allocate one, and all but the first give theirs back.
static std::atomic<DWORD> SlotIndexes[ThreadSlotCount];

static DWORD SlotIndex(int slot, bool allocate) {
    DWORD index = SlotIndexes[slot].load();
    if (index != 0 || !allocate) {
        return index;
    }
    DWORD fresh = TlsAlloc();
    if (fresh == TLS_OUT_OF_INDEXES) {
        return 0;
    }
    if (!SlotIndexes[slot].compare_exchange_strong(index, fresh + 1)) {
        TlsFree(fresh);
        return index;
    }
    return fresh + 1;
}

void* ThreadValue(int slot) {
    DWORD index = slot >= 0 && slot < ThreadSlotCount ? SlotIndex(slot, false) : 0;
    return index ? TlsGetValue(index - 1) : nullptr;
}

bool SetThreadValue(int slot, void* value) {
    DWORD index = slot >= 0 && slot < ThreadSlotCount ? SlotIndex(slot, value != nullptr) : 0;
    if (!index) {
        return value == nullptr; // no slot yet holds null already
    }
    return TlsSetValue(index - 1, value) != 0;
}

void ReleaseThreadValues() {
    for (std::atomic<DWORD>& slot : SlotIndexes) {
        DWORD index = slot.exchange(0);
        if (index) {
            TlsFree(index - 1);
        }
    }
}

int ShowInformationBox(void* parentWindow, const char* text, const char* caption) {
    return MessageBoxA(static_cast<HWND>(parentWindow), text, caption, MB_OK | MB_ICONINFORMATION);
}
