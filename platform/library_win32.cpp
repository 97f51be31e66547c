#include "platform/library.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

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
