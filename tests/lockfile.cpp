// Holds a file open without sharing until its standard input closes, as another program that
// locks a playlist would. Prints "locked" once the file is held.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        return 2;
    }
    HANDLE h =
        CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return 1;
    }
    printf("locked\n");
    fflush(stdout);
    char c;
    while (fread(&c, 1, 1, stdin) == 1) {
    }
    CloseHandle(h);
    return 0;
}
