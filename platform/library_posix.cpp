#include "platform/library.h"

#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>
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

bool MakeTempFolder(char16_t* out, size_t units) {
    const char* temp = getenv("TMPDIR");
    char folder[4096];
    int n = snprintf(folder, sizeof folder, "%s/_wcxhostXXXXXX", temp && temp[0] ? temp : "/tmp");
    if (n <= 0 || static_cast<size_t>(n) >= sizeof folder || !mkdtemp(folder)) {
        return false;
    }
    size_t inCount = strlen(folder) + 1, room = units * 2;
    return Utf8ToUtf16(folder, inCount, out, room) == 0;
}

static bool RemoveNative(const char* path) {
    struct stat st;
    if (lstat(path, &st) != 0) {
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        return unlink(path) == 0;
    }
    DIR* dir = opendir(path);
    if (!dir) {
        return false;
    }
    bool ok = true;
    while (const dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) {
            continue;
        }
        char inner[4096];
        int n = snprintf(inner, sizeof inner, "%s/%s", path, entry->d_name);
        ok = n > 0 && static_cast<size_t>(n) < sizeof inner && RemoveNative(inner) && ok;
    }
    closedir(dir);
    return rmdir(path) == 0 && ok;
}

bool RemoveTree(const char16_t* folder) {
    char native[4096] = {};
    return ToUtf8(folder, native, sizeof native) && RemoveNative(native);
}
