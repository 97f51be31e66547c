// The wide exports and the handle behind OpenArchive.
#include <cstdio>
#include <cstring>

#include "build_date.h"
#include "plugin/exports.h"
#include "plugin/records.h"
#include "plugin/version.h"
#include "playlist/playlist.h"

// What the host holds between OpenArchive and CloseArchive.
struct ArchiveHandle {
    char16_t PlaylistDir[PathUnits]; // the playlist's path up to its last separator
    char16_t EntryPath[PathUnits];   // full path of the entry last listed
    LineReader PlaylistStream;       // the open playlist, read forwards only
    LocalZone Zone;                  // the local zone's rules, taken at the first entry
};

void* ModuleInstance = nullptr;

void* WCX_CALL OpenArchiveW(tOpenArchiveDataW* archiveData) {
    if (!archiveData || !archiveData->ArcName) {
        return nullptr;
    }
    const char16_t* name = archiveData->ArcName;
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
    StartReader(&handle->PlaylistStream, file);
    return handle;
}

int WCX_CALL CloseArchive(void* handle) {
    ArchiveHandle* archive = static_cast<ArchiveHandle*>(handle);
    if (archive) {
        if (archive->PlaylistStream.File) {
            FileClose(archive->PlaylistStream.File);
            archive->PlaylistStream.File = nullptr;
        }
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
    int result =
        ReadNextEntry(&archive->PlaylistStream, archive->PlaylistDir, archive->EntryPath, &entry);
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
    if (operation == PK_TEST) {
        return TestEntry(archive->EntryPath); // the destination strings are not read
    }
    if (operation != PK_EXTRACT) {
        return E_SUCCESS;
    }
    return ExtractEntry(archive->EntryPath, destPath, destName);
}

int WCX_CALL PackFilesW(char16_t* packedFile, char16_t*, char16_t* srcPath, char16_t* addList,
                        int) {
    NameList names;
    StartNames(&names, addList, nullptr);
    return AddEntries(packedFile, srcPath, &names);
}

int WCX_CALL DeleteFilesW(char16_t* packedFile, char16_t* deleteList) {
    NameList names;
    StartNames(&names, deleteList, nullptr);
    return DeleteEntries(packedFile, &names);
}

int WCX_CALL GetPackerCaps() {
    return PK_CAPS_NEW | PK_CAPS_MODIFY | PK_CAPS_MULTIPLE | PK_CAPS_DELETE | PK_CAPS_OPTIONS |
           PK_CAPS_HIDE;
}

int WCX_CALL ConfigurePacker(void* parent, void*) {
    if (!ThisHost.ShowsAboutBox) {
        return 0; // the parent is no window a message box could belong to
    }
    char text[1024] = {};
    char caption[1024] = {};
    snprintf(text, sizeof text, "%s\nVersion %s (%s)\n\n%s", M3U_PRODUCT_NAME, M3U_VERSION_TEXT,
             M3U_BUILD_DATE, M3U_COPYRIGHT);
    snprintf(caption, sizeof caption, "%s", M3U_PRODUCT_NAME);
    return ShowInformationBox(parent, text, caption);
}

void WCX_CALL IgnoreCallback(void*, void*) {}

#if defined(_WIN32) && !defined(_WIN64)
void WCX_CALL IgnoreDefaultParams(void*) {}
#elif !defined(_WIN32)
void PackSetDefaultParams(void*) {}
void SetChangeVolProc(void*, void*) {}
void SetChangeVolProcW(void*, void*) {}
void SetProcessDataProc(void*, void*) {}
void SetProcessDataProcW(void*, void*) {}
#endif

#if defined(_WIN32)
// The library entry point: records the module instance and never fails the load.
extern "C" int WCX_CALL DllMain(void* instance, unsigned long reason, void*) {
    if (reason == 1) { // attached to the process
        ModuleInstance = instance;
    }
    return 1;
}
#endif
