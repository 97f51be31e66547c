// The one place that knows the operating system. Everything above this header is portable:
// UTF-16 strings are char16_t, file streams are opaque, times are plain numbers.
#pragma once

#include <cstddef>
#include <cstdint>

// Zero-filled block, released with ZeroFree.
void* ZeroAlloc(size_t bytes);
void ZeroFree(void* block);

// Narrow strings are the ANSI code page on Windows and UTF-8 elsewhere.
// AnsiToWide converts a whole zero-terminated string including its terminator; false when it
// does not fit `units` or is not valid in the code page (dst then holds an empty string).
bool AnsiToWide(const char* src, char16_t* dst, size_t units);
// Converts the longest leading run of whole characters that fits `bytes` with a terminator;
// characters the code page lacks become its default character. dst is always terminated.
void WideToAnsi(const char16_t* src, char* dst, size_t bytes);

// Text of a playlist line that is not UTF-8, in the code page legacy players wrote it in: the
// ANSI code page on Windows; elsewhere Windows-1252, its five undefined bytes (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) taken as the units of the same value. Never fails on content. The units written,
// without terminator, in *written; false when they do not fit `units`.
bool LegacyTextToWide(const char* bytes, size_t count, char16_t* out, size_t units,
                      size_t* written);

// A new playlist line in the ANSI code page, for playlists written in it: the whole
// zero-terminated `src` with its terminator into `dst` (`bytes`). Only exactly: false when a
// character is not in the code page (no best fit, no default character) or the text does not
// fit, and for every text, the empty one included, where new lines are always UTF-8 (every
// system but Windows: there file names are UTF-8 bytes).
bool WideToAnsiExactly(const char16_t* src, char* dst, size_t bytes);

// Binary file streams, always opened with full sharing so that a stream of our own may stay
// open on a file that another of our streams rewrites.
struct PlatformFile;
enum FileMode {
    FileForReading,   // existing file
    FileForWriting,   // created, or truncated to length zero
    FileForAppending, // created, or opened at its end
    FileForUpdating   // created, or truncated to length zero, and read back after a rewind
};
PlatformFile* FileOpen(const char16_t* path, FileMode mode);
// Bytes read, 0 at the end of the file or on an error (FileFailed tells which).
size_t FileRead(PlatformFile* file, void* buffer, size_t bytes);
// True only when every byte was written.
bool FileWrite(PlatformFile* file, const void* data, size_t bytes);
bool FileFailed(PlatformFile* file);
// Moves a reading stream to `back` bytes before the end; false when the file is shorter.
bool FileSeekFromEnd(PlatformFile* file, int64_t back);
// Moves a reading stream to `offset` bytes from the start.
bool FileSeekTo(PlatformFile* file, uint64_t offset);
// Back to the start of the file, for reading what was written.
bool FileRewind(PlatformFile* file);
// The size of an open file in bytes.
bool FileGetSize(PlatformFile* file, uint64_t* size);
// Last-write time in the platform's own units, for handing from one stream to another.
bool FileGetStamp(PlatformFile* file, uint64_t* stamp);
bool FileSetStamp(PlatformFile* file, uint64_t stamp);
// False when buffered data could not be written.
bool FileClose(PlatformFile* file);
// Copies the whole of `in` to `out`, two streams through which nothing was read or written yet,
// by the platform's own means: the kernel's file copy, FileCopyBlock bytes a call, where there
// is one; else 64 KiB blocks through a buffer on the stack.
// `steps` (may be null) hears of every step with the bytes it moved, and answers the most the
// next step may move; 0 ends the copy there (CopyStopped).
struct CopySteps {
    size_t (*Step)(void* context, size_t bytes);
    void* Context;
};
enum CopyOutcome { CopyDone, CopyReadFailed, CopyWriteFailed, CopyStopped };
enum { FileCopyBlock = 1 << 20 };
CopyOutcome FileCopyAll(PlatformFile* in, PlatformFile* out, const CopySteps* steps);

// The rewrite of a playlist, in platform calls: its lock, the file of its next version, and the
// step that puts that file in the playlist's place.
//
// Opens a playlist for reading and writing and takes its rewrite lock, which excludes every other
// rewrite of that file, in any thread or process, but no reader; one try, without waiting. The
// lock lasts until FileCloseLocked. `create` makes a missing playlist (empty), and tells in
// *created that it did. Once held, the lock is known to be on the file the path names now.
enum LockOutcome {
    LockHeld,
    LockBusy,       // another rewrite holds it, or has just put a new file in its place
    LockMissing,    // no such playlist, and none made
    LockNotRegular, // a folder, device, pipe or socket
    LockReadOnly,   // the playlist may be read but not written
    LockFailed
};
PlatformFile* FileOpenLocked(const char16_t* path, bool create, LockOutcome* outcome,
                             bool* created);
// Lets go of the lock, then closes as FileClose does.
bool FileCloseLocked(PlatformFile* file);
// The path of the file to replace: the playlist itself, or the file a symbolic link names, so
// that the link stays a link (`units` of `out`).
bool ReplacedPath(const char16_t* path, char16_t* out, size_t units);
// A new file without a name in `directory` (empty, or ending in a separator), open for updating,
// where the system has such files: a rewrite killed before it names the file leaves nothing
// behind. Null elsewhere, and on failure.
PlatformFile* FileOpenUnnamed(const char16_t* directory);
// Gives a file of FileOpenUnnamed the name `path`, which must not exist.
bool FileGiveName(PlatformFile* file, const char16_t* path);
// Writes what is buffered and waits until the system has it on the disk.
bool FileFlushToDisk(PlatformFile* file);
// Readies the next version `temp` to stand in for the locked playlist: its permissions and owner
// where the system keeps them on the file and the process may set them. False when a file put in
// the playlist's place could not be what the playlist is (it has more names than one): the new
// version must then be copied over it.
bool FileReadyToReplace(PlatformFile* locked, PlatformFile* temp);
// Puts the closed file `temp` in the place of `target` in one step, durably: a reader sees one of
// the two whole, and so does the disk after a crash. With `unnamed`, a file of FileOpenUnnamed,
// that file first gets the name `temp`, in the same breath. False when the system refuses;
// `target` is then as it was, and `temp` exists unless the unnamed file could not be named.
bool FileReplace(const char16_t* target, const char16_t* temp, PlatformFile* unnamed);
void SleepMilliseconds(int ms);

struct FileStatus {
    uint64_t Size;
    int64_t WriteTime; // seconds since 1970-01-01 00:00:00 UTC
    uint32_t Mode;     // the POSIX st_mode; 0 where the system has none
};
bool GetFileStatus(const char16_t* path, FileStatus* status);
// Exists as a file or a directory.
bool PathExists(const char16_t* path);
bool IsFolder(const char16_t* path);
bool RemoveFilePath(const char16_t* path);
// True when both paths name one existing file, whatever their spelling.
bool SameFile(const char16_t* a, const char16_t* b);

// Entries name regular files only. Opens one for reading, without waiting on whatever else the
// path may name (a pipe without a writer, a device); null for a folder, device, pipe or socket,
// and for a file that cannot be opened.
PlatformFile* FileOpenRegular(const char16_t* path);
// The status of a regular file; false when the path is missing or names anything else.
bool GetRegularFileStatus(const char16_t* path, FileStatus* status);

// The system's temporary folder, where hosts put the files they copy out of an archive for a
// moment: as the system names it (GetTempPathW; $TMPDIR, else /tmp), without a closing separator,
// into `out` (`units`). False when it does not fit.
bool TempFolder(char16_t* out, size_t units);
// The path of an existing file or folder with every link, "." and ".." resolved, in the
// host's separator: two spellings of one place give the same units. False when it does not
// exist or does not fit `units`.
bool ResolvedPath(const char16_t* path, char16_t* out, size_t units);
// What tells a file apart from every other (its volume or device and its index or inode) and
// from itself before a change (its size and last write, in the system's finest units).
struct FileIdentity {
    uint64_t Volume, Index, Size;
    int64_t WriteTime;
};
bool GetFileIdentity(const char16_t* path, FileIdentity* identity);
inline bool SameFileIdentity(const FileIdentity& a, const FileIdentity& b) {
    return a.Volume == b.Volume && a.Index == b.Index && a.Size == b.Size &&
           a.WriteTime == b.WriteTime;
}
// The one lock of state that the whole library shares across threads; no handle needs it.
void LockLibraryState();
void UnlockLibraryState();

struct CalendarTime {
    int Year, Month, Day, Hour, Minute, Second;
};
// The local zone's rules, taken by the first conversion that is given this record and kept for
// the ones after it (a listing), so that each of them is plain arithmetic. Zero-filled: not taken.
struct LocalZone {
    bool Taken;
    alignas(8) unsigned char Rules[256];
};
// Local time under the platform's zone rules for that moment, daylight saving time included;
// with the rules of `zone` when given, or else as they stand now.
bool ToLocalCalendar(int64_t secondsSince1970, CalendarTime* local, LocalZone* zone = nullptr);

uint32_t CurrentProcessId();

// Values of one pointer each kept per thread: null in a thread until it sets one. Setting fails
// only when the system has no room left for them.
enum { ThreadSlotCount = 2 };
void* ThreadValue(int slot);
bool SetThreadValue(int slot, void* value);
// Gives the slots back to the system, when the library is unloaded.
void ReleaseThreadValues();

// Modal information box with an OK button; the platform's result code.
int ShowInformationBox(void* parentWindow, const char* text, const char* caption);
