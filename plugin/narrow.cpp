// The narrow exports: strings in the ANSI code page converted whole, then the wide work.
#include <cstring>

#include "plugin/exports.h"
#include "playlist/playlist.h"

void* WCX_CALL OpenArchive(tOpenArchiveData* archiveData) {
    if (!archiveData || !archiveData->ArcName) {
        return nullptr;
    }
    char16_t name[PathUnits] = {};
    if (!AnsiToWide(archiveData->ArcName, name, PathUnits)) {
        return nullptr;
    }
    tOpenArchiveDataW wide;
    memset(&wide, 0, sizeof wide);
    wide.ArcName = name;
    return OpenArchiveW(&wide);
}

int WCX_CALL ReadHeaderEx(void* handle, tHeaderDataEx* headerData) {
    if (!headerData) {
        return E_END_ARCHIVE;
    }
    tHeaderDataExW wide;
    memset(&wide, 0, sizeof wide);
    int result = ReadHeaderExW(handle, &wide);
    if (result == E_SUCCESS) {
        WideToAnsi(wide.ArcName, headerData->ArcName, sizeof headerData->ArcName);
        WideToAnsi(wide.FileName, headerData->FileName, sizeof headerData->FileName);
        memcpy(&headerData->Flags, &wide.Flags, sizeof wide - offsetof(tHeaderDataExW, Flags));
    }
    return result;
}

int WCX_CALL ProcessFile(void* handle, int operation, char* destPath, char* destName) {
    if (!handle) {
        return E_NOT_SUPPORTED;
    }
    if (operation == PK_TEST) {
        return ProcessFileW(handle, operation, nullptr, nullptr);
    }
    if (operation != PK_EXTRACT) {
        return E_SUCCESS;
    }
    char16_t path[PathUnits] = {};
    char16_t name[PathUnits] = {};
    // A destination that does not convert whole cannot be created.
    if (!destName || !AnsiToWide(destName, name, PathUnits) ||
        (destPath && !AnsiToWide(destPath, path, PathUnits))) {
        return E_ECREATE;
    }
    return ProcessFileW(handle, operation, destPath ? path : nullptr, name);
}

// Converts an optional string; false when a present one does not convert whole.
static bool Optional(const char* narrow, char16_t* wide, char16_t** result) {
    *result = nullptr;
    if (!narrow) {
        return true;
    }
    if (!AnsiToWide(narrow, wide, PathUnits)) {
        return false;
    }
    *result = wide;
    return true;
}

int WCX_CALL PackFiles(char* packedFile, char*, char* srcPath, char* addList, int) {
    char16_t file[PathUnits] = {};
    char16_t source[PathUnits] = {};
    char16_t* sourceOrNull = nullptr;
    if (!packedFile || !AnsiToWide(packedFile, file, PathUnits) ||
        !Optional(srcPath, source, &sourceOrNull)) {
        return E_NOT_SUPPORTED;
    }
    NameList names;
    StartNames(&names, nullptr, addList);
    return PackNames(file, sourceOrNull, &names);
}

int WCX_CALL DeleteFiles(char* packedFile, char* deleteList) {
    char16_t file[PathUnits] = {};
    if (!packedFile || !AnsiToWide(packedFile, file, PathUnits)) {
        return E_NOT_SUPPORTED;
    }
    NameList names;
    StartNames(&names, nullptr, deleteList);
    return DeleteNames(file, &names);
}
