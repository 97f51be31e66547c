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
