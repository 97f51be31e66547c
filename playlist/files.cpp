// File copy, temporary names and removal, shared by extracting, adding and deleting.
#include <atomic>

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

bool TempNameBeside(const char16_t* playlist, char16_t* name) {
    char16_t directory[PathUnits] = {};
    size_t end = 0;
    for (size_t i = 0; playlist[i] && i + 1 < PathUnits; ++i) {
        if (playlist[i] == u'\\' || playlist[i] == u'/') {
            end = i + 1;
        }
    }
    for (size_t i = 0; i < end; ++i) {
        directory[i] = playlist[i];
    }
    return MakeTempName(directory, name, PathUnits);
}

int FinishRewrite(const char16_t* playlist, const char16_t* temp, PlatformFile* tempFile,
                  bool written, int result) {
    if (!FileClose(tempFile) || !written) {
        result = result ? result : E_EWRITE;
    }
    if (result != E_SUCCESS) {
        RemoveFile(temp); // the playlist is untouched
        return result;
    }
    result = CopyFileData(playlist, temp, false);
    if (result != E_EREAD && result != E_EWRITE) {
        RemoveFile(temp);
    }
    return result;
}
