// A command-line host: loads a packer plug-in by path and calls its exports in the order a file
// manager does, so the plug-in can be driven and watched outside a file manager.
//
//   wcxhost PLUGIN caps | about
//   wcxhost PLUGIN list PLAYLIST
//   wcxhost PLUGIN test PLAYLIST
//   wcxhost PLUGIN extract [--split | --tree] PLAYLIST DESTDIR [NAME...]
//   wcxhost PLUGIN pack PLAYLIST SRCDIR NAME...
//   wcxhost PLUGIN delete PLAYLIST NAME...
//   wcxhost PLUGIN progress PLAYLIST DESTDIR
//   wcxhost PLUGIN copy FROM TO [NAME...]
//
// The header record is the host's own: raw bytes of the host's size at the host's offsets, with
// guard bytes after it, so a plug-in that writes past it or elsewhere is caught here. Built for
// the Linux host (M3U_LINUX_HOST), it does what that file manager does: the packed record, Unix
// times and st_mode, the callback setters with a real handle and with -1, default parameters of
// interface 2.22, its services through ExtensionInitialize (a message box that prints what it is
// given), an empty name with PK_SKIP, full destination names, folders made by the host.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/conventions.h"
#include "platform/library.h"
#include "plugin/exports.h"
#include "text/text.h"

// Offsets and size of the host's wide header record.
enum {
    NameAt = 2048,
    UnpSizeAt = 4108,
    UnpSizeHighAt = 4112,
    FileTimeAt = 4124,
    FileAttrAt = 4136,
    HeaderBytes = M3U_LINUX_HOST       ? (sizeof(void*) == 8 ? 5184 : 5180)
                  : sizeof(void*) == 8 ? 5192
                                       : 5180,
    GuardBytes = 64
};
struct HostHeader {
    alignas(8) unsigned char Bytes[HeaderBytes];
    unsigned char Guard[GuardBytes];
};

typedef void*(WCX_CALL* OpenArchiveWFn)(tOpenArchiveDataW*);
typedef int(WCX_CALL* CloseArchiveFn)(void*);
typedef int(WCX_CALL* ReadHeaderExWFn)(void*, void*);
typedef int(WCX_CALL* ProcessFileWFn)(void*, int, char16_t*, char16_t*);
typedef int(WCX_CALL* PackFilesWFn)(char16_t*, char16_t*, char16_t*, char16_t*, int);
typedef int(WCX_CALL* DeleteFilesWFn)(char16_t*, char16_t*);
typedef int(WCX_CALL* GetPackerCapsFn)();
typedef int(WCX_CALL* ConfigurePackerFn)(void*, void*);
typedef void(WCX_CALL* SetCallbackFn)(void*, void*);
typedef void(WCX_CALL* PackSetDefaultParamsFn)(void*);

typedef void (*ExtensionInitializeFn)(void*);

// The Linux host's record of services, as raw bytes at its offsets: StructSize at 0, the
// plug-in's folders at 4 and 16388, fourteen pointer-wide fields from 32772 (the message box the
// second), LanguageID, reserved bytes; 65,588 bytes on x86-64, as Double Commander 1.0.10 passes.
enum {
    ServicesAt = 32772,
    MessageBoxAt = ServicesAt + sizeof(void*),
    StartupBytes = ServicesAt + 14 * sizeof(void*) + 16 + 4086 * sizeof(void*)
};

// The host's default-parameter record.
struct PackDefaultParams {
    int Size;
    unsigned int InterfaceVersionLow;
    unsigned int InterfaceVersionHigh;
    char DefaultIniName[260];
};

enum { Units = 1024, ListUnits = 65536 };

static void Print(const char* text) {
    WriteOut(text, strlen(text));
}

// The host's message box: the caption in brackets, the text, the flags; answered with OK.
static int PrintMessageBox(char* text, char* caption, long flags) {
    char shown[4096];
    snprintf(shown, sizeof shown, "[%s]\n%s\nflags 0x%lx\n", caption, text, flags);
    Print(shown);
    return 1;
}

static void PrintWide(const char16_t* text) {
    char utf8[Units * 4] = {};
    ToUtf8(text, utf8, sizeof utf8 - 1);
    Print(utf8);
}

// dst = a + b (+ c); false when it does not fit.
static bool Join(char16_t* dst, const char16_t* a, const char16_t* b, const char16_t* c = u"") {
    size_t la = WideLength(a), lb = WideLength(b), lc = WideLength(c);
    if (la + lb + lc + 1 > Units) {
        return false;
    }
    memcpy(dst, a, la * 2);
    memcpy(dst + la, b, lb * 2);
    memcpy(dst + la + lb, c, (lc + 1) * 2);
    return true;
}

static const char16_t* BaseName(const char16_t* path) {
    const char16_t* base = path;
    for (const char16_t* p = path; *p; ++p) {
        if (*p == u'\\' || *p == u'/') {
            base = p + 1;
        }
    }
    return base;
}

static bool SameName(const char16_t* a, const char16_t* b) {
    while (*a && *a == *b) {
        ++a, ++b;
    }
    return *a == *b;
}

struct Plugin {
    OpenArchiveWFn OpenArchiveW;
    CloseArchiveFn CloseArchive;
    ReadHeaderExWFn ReadHeaderExW;
    ProcessFileWFn ProcessFileW;
    PackFilesWFn PackFilesW;
    DeleteFilesWFn DeleteFilesW;
    GetPackerCapsFn GetPackerCaps;
    ConfigurePackerFn ConfigurePacker;
    SetCallbackFn SetChangeVolProcW;
    SetCallbackFn SetProcessDataProcW;
    PackSetDefaultParamsFn PackSetDefaultParams;
};

static int WCX_CALL ChangeVolume(char16_t*, int) {
    return 0;
}
static int WCX_CALL ProcessData(char16_t*, int) {
    return 1;
}

// What the Linux host does with every handle it opens, and once without one.
static void SetCallbacks(const Plugin& p, void* handle) {
    if (M3U_LINUX_HOST) {
        p.SetChangeVolProcW(handle, reinterpret_cast<void*>(&ChangeVolume));
        p.SetProcessDataProcW(handle, reinterpret_cast<void*>(&ProcessData));
    }
}

template <typename T> static T Field(const HostHeader& h, size_t at) {
    T value;
    memcpy(&value, h.Bytes + at, sizeof value);
    return value;
}

template <typename T> static bool Resolve(void* library, const char* name, T* fn) {
    *fn = reinterpret_cast<T>(LibrarySymbol(library, name));
    if (!*fn) {
        fprintf(stderr, "wcxhost: the plug-in exports no %s\n", name);
    }
    return *fn != nullptr;
}

// FileTime as text: a DOS date and time, or under the Linux host a Unix time shown in UTC.
static void TimeText(int fileTime, char* out, size_t size) {
    unsigned int dos = static_cast<unsigned int>(fileTime);
    if (fileTime == 0) {
        snprintf(out, size, "%-19s", "-"); // no status: the file is missing
    } else if (M3U_LINUX_HOST) {
        time_t t = fileTime;
        const struct tm* utc = gmtime(&t); // one thread: the shared result is ours alone
        if (!utc || !strftime(out, size, "%Y-%m-%d %H:%M:%S", utc)) {
            snprintf(out, size, "%-19d", fileTime);
        }
    } else {
        snprintf(out, size, "%04u-%02u-%02u %02u:%02u:%02u", (dos >> 25) + 1980, (dos >> 21) & 15,
                 (dos >> 16) & 31, (dos >> 11) & 31, (dos >> 5) & 63, (dos & 31) * 2);
    }
}

// Every byte after the record as it was set before the call.
static bool GuardIntact(const HostHeader& h) {
    for (unsigned char b : h.Guard) {
        if (b != 0xA5) {
            return false;
        }
    }
    return true;
}

// Opens a playlist as the file manager does, for listing (mode 0) or for extracting and testing
// (1), with the callbacks set; null, said on the output, when it does not open.
static void* OpenPlaylist(const Plugin& p, char16_t* playlist, int mode) {
    tOpenArchiveDataW open;
    memset(&open, 0, sizeof open);
    open.ArcName = playlist;
    open.OpenMode = mode;
    void* handle = p.OpenArchiveW(&open);
    if (!handle) {
        Print("cannot open the playlist\n");
        return nullptr;
    }
    SetCallbacks(p, handle);
    return handle;
}

// Reads the next header into a record guarded past its end; false at the end of the listing or
// at an error, which counts as a failure as a write past the record does.
static bool NextHeader(const Plugin& p, void* handle, HostHeader* header, int* failures) {
    memset(header, 0xA5, sizeof *header);
    int read = p.ReadHeaderExW(handle, header->Bytes);
    if (!GuardIntact(*header)) {
        Print("written past the header record\n");
        ++*failures;
    }
    *failures += read != 0 && read != 10; // anything but the end is an error
    return read == 0;
}

// One entry's result code and name.
static void PrintResult(int result, const char16_t* name) {
    char code[32];
    snprintf(code, sizeof code, "%d  ", result);
    Print(code);
    PrintWide(name);
    Print("\n");
}

enum Layout { Flat, Split, Tree };

// Lists (destDir null) or extracts entries; the number of failures. With `extracted`, the names
// extracted are added to that list (ListUnits, each name ended by a zero, the list by another).
static int Walk(const Plugin& p, char16_t* playlist, const char16_t* destDir, Layout layout,
                char16_t** names, int nameCount, char16_t* extracted = nullptr) {
    size_t used = 0;
    void* handle = OpenPlaylist(p, playlist, destDir ? 1 : 0);
    if (!handle) {
        return 1;
    }
    int failures = 0;
    static HostHeader header;
    static char16_t skip[] = u"";
    const char16_t separator[] = {static_cast<char16_t>(HostPaths.Separator), 0};
    while (NextHeader(p, handle, &header, &failures)) {
        const char16_t* fileName = reinterpret_cast<const char16_t*>(header.Bytes + NameAt);
        if (!destDir) {
            char line[160];
            char when[32];
            unsigned long long size =
                (static_cast<unsigned long long>(Field<unsigned int>(header, UnpSizeHighAt))
                 << 32) |
                Field<unsigned int>(header, UnpSizeAt);
            TimeText(Field<int>(header, FileTimeAt), when, sizeof when);
            snprintf(line, sizeof line, "%12llu  %s  ", size, when);
            Print(line);
            if (M3U_LINUX_HOST) {
                snprintf(line, sizeof line, "%06o  ", Field<unsigned int>(header, FileAttrAt));
                Print(line);
            }
            PrintWide(fileName);
            Print("\n");
            int result = p.ProcessFileW(handle, 0, nullptr, skip);
            if (result != 0) {
                failures += 1; // the host stops listing at the first refusal
                break;
            }
            continue;
        }
        bool wanted = nameCount == 0;
        for (int i = 0; i < nameCount && !wanted; ++i) {
            wanted = SameName(names[i], fileName);
        }
        if (!wanted) {
            p.ProcessFileW(handle, 0, nullptr, skip);
            continue;
        }
        char16_t folder[Units], name[Units], full[Units];
        int result = 16;
        const char16_t* kept = layout == Tree ? fileName : BaseName(fileName);
        if (Join(folder, destDir, separator) && Join(name, kept, u"") && Join(full, folder, name) &&
            (layout != Tree || MakeParentFolders(full))) {
            result = layout == Split ? p.ProcessFileW(handle, 2, folder, name)
                                     : p.ProcessFileW(handle, 2, nullptr, full);
        }
        PrintResult(result, fileName);
        failures += result != 0;
        size_t n = WideLength(fileName) + 1;
        if (extracted && result == 0 && used + n + 1 <= ListUnits) {
            memcpy(extracted + used, fileName, n * 2);
            used += n;
            extracted[used] = 0;
        }
    }
    p.CloseArchive(handle);
    return failures;
}

// A copy between two playlists as a file manager makes it: the entries (all, or those named)
// copied out with their folders into a fresh folder under the system's temporary folder, packed
// into the other playlist from there, and the folder removed. The number of failures.
static int CopyBetween(const Plugin& p, char16_t* from, char16_t* to, char16_t** names,
                       int nameCount) {
    static char16_t folder[Units], source[Units], list[ListUnits];
    const char16_t separator[] = {static_cast<char16_t>(HostPaths.Separator), 0};
    if (!MakeTempFolder(folder, Units) || !Join(source, folder, separator)) {
        Print("cannot make a temporary folder\n");
        return 1;
    }
    list[0] = 0;
    int failures = Walk(p, from, folder, Tree, names, nameCount, list);
    if (list[0]) {
        int result = p.PackFilesW(to, nullptr, source, list, 2);
        char text[32];
        snprintf(text, sizeof text, "pack: %d\n", result);
        Print(text);
        failures += result != 0;
    }
    if (!RemoveTree(folder)) {
        Print("cannot remove the temporary folder\n");
        ++failures;
    }
    return failures;
}

// Tests every entry as a file manager's test command does: each result with the entry's name,
// and the number of entries that failed (or 1 when the playlist cannot be read).
static int TestAll(const Plugin& p, char16_t* playlist) {
    void* handle = OpenPlaylist(p, playlist, 1);
    if (!handle) {
        return 1;
    }
    int failures = 0;
    static HostHeader header;
    while (NextHeader(p, handle, &header, &failures)) {
        int result = p.ProcessFileW(handle, 1, nullptr, nullptr); // PK_TEST
        PrintResult(result, reinterpret_cast<const char16_t*>(header.Bytes + NameAt));
        failures += result != 0;
    }
    p.CloseArchive(handle);
    return failures;
}

// The progress command's callback: counts the calls and their bytes, and answers 0 (Cancel) at
// the call numbered StopAt.
static int ProgressCalls = 0, StopAt = -1;
static long long ProgressBytes = 0;
static int WCX_CALL CountProgress(char16_t*, int size) {
    ProgressBytes += size > 0 ? size : 0;
    return ProgressCalls++ == StopAt ? 0 : 1;
}

// Extracts every entry into destDir, tests it, and extracts it again cancelling at the middle
// call, each time with the counting callback set on the handle, as a file manager that shows
// progress does. Prints the results and calls per entry; the number of failures.
static int ShowProgress(const Plugin& p, char16_t* playlist, const char16_t* destDir) {
    const char* const passes[] = {"extract", "test", "cancel"};
    int failures = 0, calls[64] = {};
    for (int pass = 0; pass < 3; ++pass) {
        void* handle = OpenPlaylist(p, playlist, 1);
        if (!handle) {
            return 1;
        }
        p.SetProcessDataProcW(handle, reinterpret_cast<void*>(&CountProgress));
        static HostHeader header;
        const char16_t separator[] = {static_cast<char16_t>(HostPaths.Separator), 0};
        for (int i = 0; NextHeader(p, handle, &header, &failures); ++i) {
            const char16_t* fileName = reinterpret_cast<const char16_t*>(header.Bytes + NameAt);
            char16_t full[Units];
            if (!Join(full, destDir, separator, BaseName(fileName))) {
                return failures + 1;
            }
            ProgressCalls = 0;
            ProgressBytes = 0;
            StopAt = pass == 2 && i < 64 ? calls[i] / 2 : -1;
            int result = p.ProcessFileW(handle, pass == 1 ? 1 : 2, nullptr, full);
            char line[160];
            if (pass < 2) {
                calls[i < 64 ? i : 63] = ProgressCalls;
                snprintf(line, sizeof line, "%s  %d  %d calls  %lld bytes  ", passes[pass], result,
                         ProgressCalls, ProgressBytes);
            } else {
                bool exists = PathThere(full);
                snprintf(line, sizeof line, "%s  %d  at call %d  %s  ", passes[pass], result,
                         StopAt, exists ? "file left" : "no file");
            }
            Print(line);
            PrintWide(fileName);
            Print("\n");
        }
        p.CloseArchive(handle);
    }
    return failures;
}

// Names each followed by a zero, the list by an empty name.
static bool NameList(char16_t* list, char16_t** names, int count) {
    size_t used = 0;
    for (int i = 0; i < count; ++i) {
        size_t n = WideLength(names[i]) + 1;
        if (used + n + 1 > ListUnits) {
            return false;
        }
        memcpy(list + used, names[i], n * 2);
        used += n;
    }
    list[used] = 0;
    return true;
}

static int Usage() {
    fprintf(stderr, "usage: wcxhost PLUGIN caps | about | list PLAYLIST | test PLAYLIST |\n"
                    "       extract [--split | --tree] PLAYLIST DESTDIR [NAME...] |\n"
                    "       pack PLAYLIST SRCDIR NAME... | delete PLAYLIST NAME... |\n"
                    "       progress PLAYLIST DESTDIR | copy FROM TO [NAME...]\n");
    return 2;
}

static int Run(int argc, char16_t** argv) {
    if (argc < 3) {
        return Usage();
    }
    void* library = LibraryOpen(argv[1]);
    if (!library) {
        fprintf(stderr, "wcxhost: cannot load the plug-in\n");
        return 2;
    }
    Plugin p;
    if (!Resolve(library, "OpenArchiveW", &p.OpenArchiveW) ||
        !Resolve(library, "CloseArchive", &p.CloseArchive) ||
        !Resolve(library, "ReadHeaderExW", &p.ReadHeaderExW) ||
        !Resolve(library, "ProcessFileW", &p.ProcessFileW) ||
        !Resolve(library, "PackFilesW", &p.PackFilesW) ||
        !Resolve(library, "DeleteFilesW", &p.DeleteFilesW) ||
        !Resolve(library, "GetPackerCaps", &p.GetPackerCaps) ||
        !Resolve(library, "ConfigurePacker", &p.ConfigurePacker) ||
        !Resolve(library, "SetChangeVolProcW", &p.SetChangeVolProcW) ||
        !Resolve(library, "SetProcessDataProcW", &p.SetProcessDataProcW) ||
        !Resolve(library, "PackSetDefaultParams", &p.PackSetDefaultParams)) {
        return 2;
    }
    if (M3U_LINUX_HOST) {
        PackDefaultParams defaults = {sizeof defaults, 22, 2, "/tmp/wcxhost/doublecmd.ini"};
        p.PackSetDefaultParams(&defaults);
        SetCallbacks(p, reinterpret_cast<void*>(-1));
        // Once after loading, when the plug-in has it; the record lives for this call alone.
        ExtensionInitializeFn initialize =
            reinterpret_cast<ExtensionInitializeFn>(LibrarySymbol(library, "ExtensionInitialize"));
        if (initialize) {
            static unsigned char startup[StartupBytes];
            memset(startup, 0, sizeof startup);
            uint32_t size = StartupBytes;
            memcpy(startup, &size, sizeof size);
            snprintf(reinterpret_cast<char*>(startup + 4), 16384, "/tmp/wcxhost/");
            HostMessageBox box = PrintMessageBox;
            memcpy(startup + MessageBoxAt, &box, sizeof box);
            initialize(startup);
            memset(startup, 0xCC, sizeof startup);
        }
    }
    const char16_t* command = argv[2];
    char text[64];
    int status = 0;
    static char16_t list[ListUnits];
    if (SameName(command, u"caps")) {
        snprintf(text, sizeof text, "%d\n", p.GetPackerCaps());
        Print(text);
    } else if (SameName(command, u"about")) {
        snprintf(text, sizeof text, "%d\n", p.ConfigurePacker(nullptr, library));
        Print(text);
    } else if (SameName(command, u"list") && argc == 4) {
        status = Walk(p, argv[3], nullptr, Flat, nullptr, 0) ? 1 : 0;
    } else if (SameName(command, u"test") && argc == 4) {
        status = TestAll(p, argv[3]) ? 1 : 0;
    } else if (SameName(command, u"extract") && argc >= 5) {
        Layout layout = SameName(argv[3], u"--split")  ? Split
                        : SameName(argv[3], u"--tree") ? Tree
                                                       : Flat;
        int first = layout == Flat ? 3 : 4;
        if (argc < first + 2) {
            return Usage();
        }
        status = Walk(p, argv[first], argv[first + 1], layout, argv + first + 2, argc - first - 2)
                     ? 1
                     : 0;
    } else if (SameName(command, u"pack") && argc >= 6 && NameList(list, argv + 5, argc - 5)) {
        // The source folder ends in the host's separator; names keep their folders (flag 2).
        char16_t source[Units];
        const char16_t separator[] = {static_cast<char16_t>(HostPaths.Separator), 0};
        if (!Join(source, argv[4], argv[4][0] ? separator : u"")) {
            return Usage();
        }
        int result = p.PackFilesW(argv[3], nullptr, source, list, 2);
        snprintf(text, sizeof text, "pack: %d\n", result);
        Print(text);
        status = result != 0;
    } else if (SameName(command, u"copy") && argc >= 5) {
        status = CopyBetween(p, argv[3], argv[4], argv + 5, argc - 5) ? 1 : 0;
    } else if (SameName(command, u"progress") && argc == 5) {
        status = ShowProgress(p, argv[3], argv[4]) ? 1 : 0;
    } else if (SameName(command, u"delete") && argc >= 5 && NameList(list, argv + 4, argc - 4)) {
        int result = p.DeleteFilesW(argv[3], list);
        snprintf(text, sizeof text, "delete: %d\n", result);
        Print(text);
        status = result != 0;
    } else {
        return Usage();
    }
    LibraryClose(library);
    return status;
}

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) {
    return Run(argc, reinterpret_cast<char16_t**>(argv));
}
#else
int main(int argc, char** argv) {
    enum { MaxArgs = 256 };
    static char16_t storage[MaxArgs][Units];
    static char16_t* wide[MaxArgs];
    if (argc > MaxArgs) {
        return Usage();
    }
    for (int i = 0; i < argc; ++i) {
        size_t inCount = strlen(argv[i]) + 1;
        size_t room = sizeof storage[i];
        if (Utf8ToUtf16(argv[i], inCount, storage[i], room) != 0) {
            return Usage();
        }
        wide[i] = storage[i];
    }
    return Run(argc, wide);
}
#endif
