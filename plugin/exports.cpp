// The wide exports and the handle behind OpenArchive.
#include <cstdio>
#include <cstring>

#include "build_date.h"
#include "plugin/exports.h"
#include "plugin/hostbox.h"
#include "plugin/records.h"
#include "plugin/version.h"
#include "playlist/playlist.h"
#include "playlist/tempcopies.h"

// The host's progress callbacks; the wide one is called when both are set.
struct HostCallbacks {
    ProcessDataProc Narrow;
    ProcessDataProcW Wide;
};

// What the host holds between OpenArchive and CloseArchive.
struct ArchiveHandle {
    char16_t PlaylistDir[PathUnits]; // the playlist's path up to its last separator
    char16_t EntryPath[PathUnits];   // full path of the entry last listed
    PlaylistEntries Entries;         // the open playlist, listed forwards only
    LocalZone Zone;                  // the local zone's rules, taken at the first entry
    HostCallbacks Callbacks;         // set for this handle's extracting and testing
};

// The callbacks of a thread that packs and deletes, which hosts set with the handle -1.
enum { NarrowSlot, WideSlot };
static_assert(int{WideSlot} < int{ThreadSlotCount}, "a slot for each callback");

static bool IsThreadHandle(void* handle) {
    return handle == reinterpret_cast<void*>(intptr_t{-1});
}

static HostCallbacks ThreadCallbacks() {
    return {reinterpret_cast<ProcessDataProc>(ThreadValue(NarrowSlot)),
            reinterpret_cast<ProcessDataProcW>(ThreadValue(WideSlot))};
}

// Calls the host with a copy of the name, its own to read: in UTF-16 for the wide callback, in
// the ANSI code page for the narrow one. A name too long for PathUnits is shortened.
static bool TellHost(void* context, const char16_t* name, int size) {
    const HostCallbacks* callbacks = static_cast<const HostCallbacks*>(context);
    if (callbacks->Wide) {
        char16_t copy[PathUnits] = {};
        size_t n = 0;
        for (; name[n] && n + 1 < PathUnits; ++n) {
            copy[n] = name[n];
        }
        if (name[n] && n > 0 && copy[n - 1] >= 0xD800 && copy[n - 1] <= 0xDBFF) {
            copy[n - 1] = 0; // half a pair names nothing
        }
        return callbacks->Wide(copy, size) != 0;
    }
    char narrow[PathUnits * 3] = {}; // three bytes a unit in UTF-8, two in a DBCS code page
    WideToAnsi(name, narrow, sizeof narrow);
    return callbacks->Narrow(narrow, size) != 0;
}

// The progress record for the callbacks set, or null when none is.
static const HostProgress* Progress(HostCallbacks* callbacks, HostProgress* progress) {
    *progress = {TellHost, callbacks};
    return callbacks->Wide || callbacks->Narrow ? progress : nullptr;
}

void* ModuleInstance = nullptr;

void* WCX_CALL OpenArchiveW(tOpenArchiveDataW* archiveData) {
    if (!archiveData || !archiveData->ArcName) {
        return nullptr;
    }
    // A playlist the host copied out of another for a moment opens as the one it copied.
    char16_t original[PathUnits];
    const char16_t* name = PlaylistStandingFor(archiveData->ArcName, original);
    size_t length = 0;
    while (name[length] && length < PathUnits) {
        ++length;
    }
    if (length >= PathUnits) {
        return nullptr; // the directory could not be held whole
    }
    ArchiveHandle* handle = static_cast<ArchiveHandle*>(ZeroAlloc(sizeof(ArchiveHandle)));
    if (!handle) {
        return nullptr;
    }
    // A pipe or device in the playlist's place would block the host or never end.
    PlatformFile* file = FileOpenRegular(name);
    if (!file) {
        ZeroFree(handle);
        return nullptr;
    }
    memcpy(handle->PlaylistDir, name, (length + 1) * sizeof(char16_t));
    // The host writes its own separator; only that one ends the folder.
    for (size_t i = length; i-- > 0;) {
        if (handle->PlaylistDir[i] == static_cast<char16_t>(HostPaths.Separator)) {
            handle->PlaylistDir[i] = 0;
            break;
        }
    }
    // Another XML document or a binary file is no playlist this plug-in can show.
    if (!OpenEntries(&handle->Entries, file, name)) {
        FileClose(file);
        ZeroFree(handle);
        return nullptr;
    }
    return handle;
}

int WCX_CALL CloseArchive(void* handle) {
    ArchiveHandle* archive = static_cast<ArchiveHandle*>(handle);
    if (archive) {
        CloseEntries(&archive->Entries);
        ZeroFree(archive);
    }
    return E_SUCCESS;
}

int WCX_CALL ReadHeader(void*, tHeaderData*) {
    return -1;
}

int WCX_CALL ReadHeaderExW(void* handle, tHeaderDataExW* headerData) {
    ArchiveHandle* archive = static_cast<ArchiveHandle*>(handle);
    if (!archive || !headerData) {
        return E_END_ARCHIVE;
    }
    ListedEntry entry;
    int result = ReadNextEntry(&archive->Entries, archive->PlaylistDir, archive->EntryPath, &entry);
    if (result == E_SUCCESS) {
        FillHeader(entry, headerData, &archive->Zone);
    }
    return result;
}

int WCX_CALL ProcessFileW(void* handle, int operation, char16_t* destPath, char16_t* destName) {
    ArchiveHandle* archive = static_cast<ArchiveHandle*>(handle);
    if (!archive) {
        return E_NOT_SUPPORTED;
    }
    HostProgress record;
    const HostProgress* progress = Progress(&archive->Callbacks, &record);
    if (operation == PK_TEST) {
        return TestEntry(archive->EntryPath, progress); // the destination strings are not read
    }
    if (operation != PK_EXTRACT) {
        return E_SUCCESS;
    }
    return ExtractEntry(archive->EntryPath, destPath, destName, progress);
}

int PackNames(const char16_t* packedFile, const char16_t* srcPath, NameList* names) {
    HostCallbacks callbacks = ThreadCallbacks();
    HostProgress record;
    char16_t original[PathUnits]; // so that the playlist the user sees is the one that changes
    return AddEntries(PlaylistStandingFor(packedFile, original), srcPath, names,
                      Progress(&callbacks, &record));
}

int DeleteNames(const char16_t* packedFile, NameList* names) {
    HostCallbacks callbacks = ThreadCallbacks();
    HostProgress record;
    char16_t original[PathUnits];
    return DeleteEntries(PlaylistStandingFor(packedFile, original), names,
                         Progress(&callbacks, &record));
}

int WCX_CALL PackFilesW(char16_t* packedFile, char16_t*, char16_t* srcPath, char16_t* addList,
                        int) {
    NameList names;
    StartNames(&names, addList, nullptr);
    return PackNames(packedFile, srcPath, &names);
}

int WCX_CALL DeleteFilesW(char16_t* packedFile, char16_t* deleteList) {
    NameList names;
    StartNames(&names, deleteList, nullptr);
    return DeleteNames(packedFile, &names);
}

int WCX_CALL GetPackerCaps() {
    return PK_CAPS_NEW | PK_CAPS_MODIFY | PK_CAPS_MULTIPLE | PK_CAPS_DELETE | PK_CAPS_OPTIONS |
           PK_CAPS_HIDE;
}

// The about box's text and caption, the same for every host.
struct AboutText {
    char Text[1024];
    char Caption[1024];
};

static void FormatAbout(AboutText* about) {
    *about = {};
    snprintf(about->Text, sizeof about->Text, "%s\nVersion %s (%s)\n\n%s", M3U_PRODUCT_NAME,
             M3U_VERSION_TEXT, M3U_BUILD_DATE, M3U_COPYRIGHT);
    snprintf(about->Caption, sizeof about->Caption, "%s", M3U_PRODUCT_NAME);
}

int WCX_CALL ConfigurePacker(void* parent, void*) {
    AboutText about;
    FormatAbout(&about);
    if (ThisHost.AboutThroughHost) {
        // The parent is no window of the system's there: the host's own box, or nothing.
        return ShowHostMessageBox(about.Text, about.Caption, HostBoxOk | HostBoxInformation);
    }
    return ShowInformationBox(parent, about.Text, about.Caption);
}

#if M3U_LINUX_HOST
void ExtensionInitialize(tExtensionStartupInfo* startupInfo) {
    KeepHostMessageBox(startupInfo);
}
#endif

int WCX_CALL GetBackgroundFlags() {
    // State lives in the handles, the callbacks for packing and deleting per thread, and rewrites
    // of one playlist wait for each other on its lock.
    return BACKGROUND_UNPACK | BACKGROUND_PACK;
}

// Stores one of the two callbacks where the handle says; any other handle is left alone.
static void StoreCallback(void* handle, void* callback, bool wide) {
    if (IsThreadHandle(handle)) {
        SetThreadValue(wide ? WideSlot : NarrowSlot, callback);
    } else if (handle) {
        HostCallbacks* callbacks = &static_cast<ArchiveHandle*>(handle)->Callbacks;
        if (wide) {
            callbacks->Wide = reinterpret_cast<ProcessDataProcW>(callback);
        } else {
            callbacks->Narrow = reinterpret_cast<ProcessDataProc>(callback);
        }
    }
}

void WCX_CALL SetProcessDataProc(void* handle, void* callback) {
    StoreCallback(handle, callback, false);
}

void WCX_CALL SetProcessDataProcW(void* handle, void* callback) {
    StoreCallback(handle, callback, true);
}

void WCX_CALL IgnoreCallback(void*, void*) {}

#if defined(_WIN32) && !defined(_WIN64)
void WCX_CALL IgnoreDefaultParams(void*) {}
#elif !defined(_WIN32)
void PackSetDefaultParams(void*) {}
void SetChangeVolProc(void*, void*) {}
void SetChangeVolProcW(void*, void*) {}
#endif

#if defined(_WIN32)
// The library entry point: records the module instance and never fails the load.
extern "C" int WCX_CALL DllMain(void* instance, unsigned long reason, void*) {
    if (reason == 1) { // attached to the process
        ModuleInstance = instance;
    } else if (reason == 0) { // detached: the thread slots and the copies' records go back
        ReleaseThreadValues();
        ResetTempCopies(0);
    }
    return 1;
}
#else
// Unloaded: the copies' records go back to the process, which goes on without them.
__attribute__((destructor)) static void Unloaded() {
    ResetTempCopies(0);
}
#endif
