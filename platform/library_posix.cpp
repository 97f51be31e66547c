#include "platform/library.h"

#include <cstdio>
#include <cerrno>
#include <dlfcn.h>
#include <sys/stat.h>

#include "text/text.h"

void* LibraryOpen(const char16_t* path) {
    char native[4096] = {};
    if (!ToUtf8(path, native, sizeof native)) {
        return nullptr;
    }
    return dlopen(native, RTLD_NOW | RTLD_LOCAL);
}

void* LibrarySymbol(void* library, const char* name) {
    return dlsym(library, name);
}

void LibraryClose(void* library) {
    dlclose(library);
}

void WriteOut(const char* bytes, size_t count) {
    fwrite(bytes, 1, count, stdout);
}

bool MakeParentFolders(const char16_t* path) {
    char native[4096] = {};
    if (!ToUtf8(path, native, sizeof native)) {
        return false;
    }
    for (char* p = native + 1; *p; ++p) {
        if (*p == '/') {
            *p = 0;
            bool made = mkdir(native, 0777) == 0 || errno == EEXIST;
            *p = '/';
            if (!made) {
                return false;
            }
        }
    }
    return true;
}

bool PathThere(const char16_t* path) {
    char native[4096] = {};
    struct stat st;
    return ToUtf8(path, native, sizeof native) && stat(native, &st) == 0;
}
