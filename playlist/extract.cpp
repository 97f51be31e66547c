// Extracting: the entry's referenced file copied to the host's destination.
#include "playlist/playlist.h"
#include "playlist/tempcopies.h"

// Appends src at dest[*used]; false when it would not leave room for the terminator.
static bool Append(char16_t* dest, size_t* used, const char16_t* src) {
    for (; *src; ++src) {
        if (*used + 1 >= PathUnits) {
            return false;
        }
        dest[(*used)++] = *src;
    }
    dest[*used] = 0;
    return true;
}

int ExtractEntry(const char16_t* entryPath, const char16_t* destPath, const char16_t* destName,
                 const HostProgress* progress) {
    char16_t destination[PathUnits] = {};
    size_t used = 0;
    // The host joins folder and name itself: no separator goes between them.
    if ((destPath && !Append(destination, &used, destPath)) || !destName ||
        !Append(destination, &used, destName)) {
        return E_ECREATE;
    }
    if (!entryPath[0]) {
        return E_EOPEN; // nothing listed yet
    }
    int result = CopyFileData(destination, entryPath, true, progress);
    if (result == E_SUCCESS) {
        RecordTempCopy(destination, entryPath); // a host's copy for a moment stands for the entry
    }
    // A copy cut short, named like a good one, would pass for it. Only a file is removed: a
    // device given as the destination stays.
    FileStatus status;
    if ((result == E_EREAD || result == E_EWRITE || result == E_EABORTED) &&
        GetRegularFileStatus(destination, &status)) {
        RemoveFile(destination);
    }
    return result;
}

int TestEntry(const char16_t* entryPath, const HostProgress* progress) {
    return entryPath[0] ? VerifyFileData(entryPath, progress) : E_EOPEN;
}
