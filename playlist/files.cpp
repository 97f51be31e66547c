// File copy, temporary names and removal, shared by extracting, adding and deleting.
#include <atomic>
#include <cstring>

#include "playlist/playlist.h"
#include "text/text.h"

bool TellBytes(const HostProgress* progress, const char16_t* name, uint64_t bytes) {
    const uint64_t most = uint64_t{1} << 30; // the host's count is an int
    do {
        int size = static_cast<int>(bytes < most ? bytes : most);
        if (!progress->Tell(progress->Context, name, size)) {
            return false;
        }
        bytes -= static_cast<uint64_t>(size);
    } while (bytes > 0);
    return true;
}

// The bytes of a copy or a read, gathered into host calls of ReportBytes. Each step may move only
// what is left to the next call, so that no call carries more.
struct ByteReport {
    const HostProgress* Progress;
    const char16_t* Name;
    size_t Pending; // moved since the last call
    bool Stopped;   // the host asked to stop
};

static size_t ReportStep(void* context, size_t bytes) {
    ByteReport* report = static_cast<ByteReport*>(context);
    report->Pending += bytes;
    if (report->Pending >= ReportBytes) {
        report->Stopped = !TellBytes(report->Progress, report->Name, report->Pending);
        report->Pending = 0;
    }
    return report->Stopped ? 0 : ReportBytes - report->Pending;
}

// The last part, of whatever size; false when the host asks to stop even then.
static bool ReportRest(ByteReport* report) {
    if (report->Progress && report->Pending > 0 && !report->Stopped) {
        report->Stopped = !TellBytes(report->Progress, report->Name, report->Pending);
        report->Pending = 0;
    }
    return !report->Stopped;
}

int CopyFileData(const char16_t* destination, const char16_t* source, bool keepWriteTime,
                 const HostProgress* progress) {
    // A device or pipe would never end, or never begin.
    PlatformFile* in = FileOpenRegular(source);
    if (!in) {
        return E_EOPEN;
    }
    // Opening the destination would empty the very file about to be read.
    if (SameFile(destination, source)) {
        FileClose(in);
        return E_SUCCESS;
    }
    PlatformFile* out = FileOpen(destination, FileForWriting);
    if (!out) {
        FileClose(in);
        return E_ECREATE;
    }
    ByteReport report = {progress, source, 0, false};
    CopySteps steps = {ReportStep, &report};
    CopyOutcome copied = FileCopyAll(in, out, progress ? &steps : nullptr);
    int result = copied == CopyReadFailed    ? E_EREAD
                 : copied == CopyWriteFailed ? E_EWRITE
                 : copied == CopyStopped     ? E_EABORTED
                                             : E_SUCCESS;
    if (result == E_SUCCESS && !ReportRest(&report)) {
        result = E_EABORTED;
    }
    uint64_t stamp = 0;
    if (result == E_SUCCESS && keepWriteTime && FileGetStamp(in, &stamp)) {
        FileSetStamp(out, stamp);
    }
    if (!FileClose(out) && result == E_SUCCESS) {
        result = E_EWRITE;
    }
    FileClose(in);
    return result;
}

int VerifyFileData(const char16_t* source, const HostProgress* progress) {
    PlatformFile* in = FileOpenRegular(source);
    if (!in) {
        return E_EOPEN;
    }
    unsigned char block[65536]; // as the copy through a buffer reads
    ByteReport report = {progress, source, 0, false};
    size_t most = sizeof block;
    for (size_t n; most > 0 && (n = FileRead(in, block, most)) > 0;) {
        most = progress ? ReportStep(&report, n) : sizeof block;
        most = most < sizeof block ? most : sizeof block;
    }
    int result = FileFailed(in) ? E_EREAD : report.Stopped ? E_EABORTED : E_SUCCESS;
    if (result == E_SUCCESS && !ReportRest(&report)) {
        result = E_EABORTED;
    }
    FileClose(in);
    return result;
}

// Counter of the last temporary name handed out, for the life of the process; -1 before the
// first. Taking values atomically gives concurrent callers distinct names without a lock.
static std::atomic<int> LastTempCounter{-1};

enum { TempCounterLimit = 32767 };

static bool TakeTempCounter(int* counter) {
    int last = LastTempCounter.load();
    do {
        if (last + 1 >= TempCounterLimit) {
            return false;
        }
    } while (!LastTempCounter.compare_exchange_weak(last, last + 1));
    *counter = last + 1;
    return true;
}

// Base 32 with digits 0-9 and a-v, no leading zeros; 0 gives "0".
static size_t Base32(uint32_t value, char16_t* out) {
    char16_t digits[8];
    size_t n = 0;
    do {
        uint32_t d = value % 32;
        digits[n++] = static_cast<char16_t>(d < 10 ? u'0' + d : u'a' + d - 10);
        value /= 32;
    } while (value > 0);
    for (size_t i = 0; i < n; ++i) {
        out[i] = digits[n - 1 - i];
    }
    return n;
}

bool MakeTempName(const char16_t* directory, char16_t* name, size_t units) {
    size_t dirLength = WideLength(directory);
    // "s", up to seven base-32 digits of the id, ".", up to three of the counter, terminator.
    if (units < dirLength + 13) {
        return false;
    }
    for (size_t i = 0; i < dirLength; ++i) {
        name[i] = directory[i];
    }
    size_t n = dirLength;
    name[n++] = u's';
    n += Base32(CurrentProcessId(), name + n);
    name[n++] = u'.';
    int counter = 0;
    do {
        if (!TakeTempCounter(&counter)) {
            name[0] = 0;
            return false;
        }
        size_t end = n;
        if (counter > 0) {
            end += Base32(static_cast<uint32_t>(counter), name + n);
        }
        name[end] = 0;
    } while (PathExists(name));
    return true;
}

bool RemoveFile(const char16_t* path) {
    return RemoveFilePath(path);
}

void SetLastTempCounter(int counter) {
    LastTempCounter.store(counter);
}

static std::atomic<int> RewriteWaitMs{30000};

void SetRewriteWait(int ms) {
    RewriteWaitMs.store(ms);
}

// Where temporary files go: the replaced file's folder, writable whenever that file may change,
// and on its volume, so that the new version takes its place without a copy.
static void FolderOf(const char16_t* path, char16_t* folder) {
    size_t end = 0;
    for (size_t i = 0; path[i] && i + 1 < PathUnits; ++i) {
        if (path[i] == u'\\' || path[i] == u'/') {
            end = i + 1;
        }
    }
    memcpy(folder, path, end * sizeof(char16_t));
    folder[end] = 0;
}

bool TempNameBeside(const char16_t* playlist, char16_t* name) {
    char16_t folder[PathUnits] = {};
    FolderOf(playlist, folder);
    return MakeTempName(folder, name, PathUnits);
}

bool OpenTemp(const Rewrite* rewrite, TempFile* temp) {
    char16_t folder[PathUnits] = {};
    FolderOf(rewrite->Playlist, folder);
    temp->Name[0] = 0;
    temp->File = FileOpenUnnamed(folder);
    if (!temp->File && MakeTempName(folder, temp->Name, PathUnits)) {
        temp->File = FileOpen(temp->Name, FileForUpdating);
    }
    return temp->File != nullptr;
}

void DiscardTemp(TempFile* temp) {
    if (temp->File) {
        FileClose(temp->File);
        temp->File = nullptr;
    }
    if (temp->Name[0]) {
        RemoveFile(temp->Name);
        temp->Name[0] = 0;
    }
}

// What a lock that could not be had means to the host.
static int LockError(LockOutcome outcome, bool create, const char16_t* playlist) {
    switch (outcome) {
    case LockReadOnly:
        return E_ECREATE; // it may be read but not written
    case LockBusy:
        return E_EOPEN; // held by another rewrite all along
    case LockNotRegular:
        return create ? E_EOPEN : E_NOT_SUPPORTED;
    default:
        // A playlist that is there but cannot be read must never be replaced by a new one.
        return create && PathExists(playlist) ? E_EOPEN : E_NOT_SUPPORTED;
    }
}

int StartRewrite(const char16_t* playlist, bool create, Rewrite* rewrite) {
    rewrite->Locked = nullptr;
    rewrite->Created = false;
    rewrite->Next = {};
    LockOutcome outcome = LockFailed;
    // A link stays a link: what it names is locked and replaced.
    if (!ReplacedPath(playlist, rewrite->Playlist, PathUnits)) {
        return E_NOT_SUPPORTED;
    }
    // Most rewrites take a few milliseconds: short pauses first.
    int waited = 0, pause = 1, patience = RewriteWaitMs.load();
    while (!(rewrite->Locked =
                 FileOpenLocked(rewrite->Playlist, create, &outcome, &rewrite->Created)) &&
           outcome == LockBusy && waited < patience) {
        SleepMilliseconds(pause);
        waited += pause;
        pause = pause < 16 ? pause * 2 : pause;
    }
    if (!rewrite->Locked) {
        return LockError(outcome, create, rewrite->Playlist);
    }
    if (!OpenTemp(rewrite, &rewrite->Next)) {
        FinishRewrite(rewrite, false, E_NOT_SUPPORTED);
        return E_NOT_SUPPORTED;
    }
    return E_SUCCESS;
}

// Names the new version beside the playlist, if it has no name yet.
static bool NameTemp(Rewrite* rewrite) {
    TempFile* temp = &rewrite->Next;
    if (temp->Name[0]) {
        return true;
    }
    if (TempNameBeside(rewrite->Playlist, temp->Name) && FileGiveName(temp->File, temp->Name)) {
        return true;
    }
    temp->Name[0] = 0;
    return false;
}

// Puts the new version in the playlist's place; false when the system would not (the new
// version then has a name, unless it never could be given one).
static bool PutInPlace(Rewrite* rewrite) {
    TempFile* temp = &rewrite->Next;
    if (!FileReadyToReplace(rewrite->Locked, temp->File)) {
        return false;
    }
    bool unnamed = !temp->Name[0];
    if (unnamed) {
        // A name only now, given in the same call that puts it in place: a rewrite killed
        // before leaves nothing behind.
        if (!TempNameBeside(rewrite->Playlist, temp->Name)) {
            temp->Name[0] = 0;
            return false;
        }
    } else {
        // A file open here may not take another's place everywhere.
        bool closed = FileClose(temp->File);
        temp->File = nullptr;
        if (!closed) {
            return false;
        }
    }
    if (FileReplace(rewrite->Playlist, temp->Name, unnamed ? temp->File : nullptr)) {
        temp->Name[0] = 0; // it is the playlist now
        return true;
    }
    if (unnamed && !PathExists(temp->Name)) {
        temp->Name[0] = 0;
    }
    return false;
}

int FinishRewrite(Rewrite* rewrite, bool written, int result) {
    TempFile* temp = &rewrite->Next;
    if (result == E_SUCCESS && (!written || !FileFlushToDisk(temp->File))) {
        result = E_EWRITE;
    }
    bool replaced = result == E_SUCCESS && PutInPlace(rewrite);
    // Else the new version is copied over the playlist, from a file with a name, which stays
    // until the copy is complete.
    if (result == E_SUCCESS && !replaced && !NameTemp(rewrite)) {
        result = E_EWRITE;
    }
    if (temp->File) {
        bool closed = FileClose(temp->File);
        temp->File = nullptr;
        result = result == E_SUCCESS && !closed && !replaced ? E_EWRITE : result;
    }
    if (result == E_SUCCESS && !replaced) {
        result = CopyFileData(rewrite->Playlist, temp->Name, false);
        // A new playlist goes again below, and so does its copy.
        if ((result == E_EREAD || result == E_EWRITE) && !rewrite->Created) {
            temp->Name[0] = 0; // the one complete copy of the new version: it stays
        }
    }
    DiscardTemp(temp);
    if (result != E_SUCCESS && rewrite->Created) {
        RemoveFile(rewrite->Playlist); // made by the lock, for a new version that never came
    }
    FileCloseLocked(rewrite->Locked);
    rewrite->Locked = nullptr;
    return result;
}

int KeepUnchanged(Rewrite* rewrite) {
    if (!FileRewind(rewrite->Locked)) {
        return E_EREAD;
    }
    CopyOutcome copied = FileCopyAll(rewrite->Locked, rewrite->Next.File, nullptr);
    return copied == CopyDone ? E_SUCCESS : copied == CopyReadFailed ? E_EREAD : E_EWRITE;
}
