#include "platform/library.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

void* LibraryOpen(const char16_t* path) {
    return LoadLibraryW(reinterpret_cast<const wchar_t*>(path));
}

void* LibrarySymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void LibraryClose(void* library) {
    FreeLibrary(static_cast<HMODULE>(library));
}

void WriteOut(const char* bytes, size_t count) {
    static bool binary = false;
    if (!binary) {
        _setmode(_fileno(stdout), _O_BINARY);
        binary = true;
    }
    fwrite(bytes, 1, count, stdout);
}

bool MakeParentFolders(const char16_t* path) {
    wchar_t folder[1024] = {};
    for (size_t i = 0; path[i]; ++i) {
        if (i + 1 >= 1024) {
            return false;
        }
        if ((path[i] == u'\\' || path[i] == u'/') && i > 2) {
            if (!CreateDirectoryW(folder, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
                return false;
            }
        }
        folder[i] = static_cast<wchar_t>(path[i]);
    }
    return true;
}

bool PathThere(const char16_t* path) {
    return GetFileAttributesW(reinterpret_cast<const wchar_t*>(path)) != INVALID_FILE_ATTRIBUTES;
}

bool MakeTempFolder(char16_t* out, size_t units) {
    wchar_t temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) {
        return false;
    }
    for (unsigned counter = 0; counter < 1000; ++counter) {
        wchar_t folder[1024];
        int k =
            _snwprintf(folder, 1024, L"%ls_wcxhost%lu-%u", temp, GetCurrentProcessId(), counter);
        if (k <= 0 || static_cast<size_t>(k) >= units || k >= 1024) {
            return false;
        }
        if (CreateDirectoryW(folder, nullptr)) {
            memcpy(out, folder, (k + 1) * sizeof(wchar_t));
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            return false;
        }
    }
    return false;
}

static bool RemoveWide(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return DeleteFileW(path) != 0;
    }
    wchar_t pattern[1024];
    if (_snwprintf(pattern, 1024, L"%ls\\*", path) >= 1024) {
        return false;
    }
    pattern[1023] = 0;
    bool ok = true;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    while (search != INVALID_HANDLE_VALUE) {
        if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0) {
            wchar_t inner[1024];
            int k = _snwprintf(inner, 1024, L"%ls\\%ls", path, found.cFileName);
            ok = k > 0 && k < 1024 && RemoveWide(inner) && ok;
        }
        if (!FindNextFileW(search, &found)) {
            FindClose(search);
            break;
        }
    }
    return RemoveDirectoryW(path) != 0 && ok;
}

bool RemoveTree(const char16_t* folder) {
    return RemoveWide(reinterpret_cast<const wchar_t*>(folder));
}
