#include "platform/library.h"

#include <cstdio>
#include <dlfcn.h>

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
