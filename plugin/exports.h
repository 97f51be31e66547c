// The twenty functions the hosts resolve by name, and the Linux host's ExtensionInitialize. The
// 32-bit build uses stdcall, so each function removes its own arguments, as the host expects.
#pragma once

#include "plugin/wcx.h"

#if defined(_WIN32) && !defined(_WIN64)
#define WCX_CALL __stdcall
#else
#define WCX_CALL
#endif

#if defined(_WIN32)
#define WCX_EXPORT extern "C"
#else
#define WCX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

WCX_EXPORT void* WCX_CALL OpenArchive(tOpenArchiveData* archiveData);
WCX_EXPORT void* WCX_CALL OpenArchiveW(tOpenArchiveDataW* archiveData);
WCX_EXPORT int WCX_CALL CloseArchive(void* handle);
WCX_EXPORT int WCX_CALL ReadHeader(void* handle, tHeaderData* headerData);
WCX_EXPORT int WCX_CALL ReadHeaderEx(void* handle, tHeaderDataEx* headerData);
WCX_EXPORT int WCX_CALL ReadHeaderExW(void* handle, tHeaderDataExW* headerData);
WCX_EXPORT int WCX_CALL ProcessFile(void* handle, int operation, char* destPath, char* destName);
WCX_EXPORT int WCX_CALL ProcessFileW(void* handle, int operation, char16_t* destPath,
                                     char16_t* destName);
WCX_EXPORT int WCX_CALL PackFiles(char* packedFile, char* subPath, char* srcPath, char* addList,
                                  int flags);
WCX_EXPORT int WCX_CALL PackFilesW(char16_t* packedFile, char16_t* subPath, char16_t* srcPath,
                                   char16_t* addList, int flags);
WCX_EXPORT int WCX_CALL DeleteFiles(char* packedFile, char* deleteList);
WCX_EXPORT int WCX_CALL DeleteFilesW(char16_t* packedFile, char16_t* deleteList);
WCX_EXPORT int WCX_CALL GetPackerCaps();
// Extracting and packing may run in threads of the host's own, several at once.
WCX_EXPORT int WCX_CALL GetBackgroundFlags();
// The about box. The host declares no result; the message box's answer is left where a result
// would be.
WCX_EXPORT int WCX_CALL ConfigurePacker(void* parent, void* dllInstance);
#if M3U_LINUX_HOST
// Called by the Linux host once after loading the plug-in, with its services; the message box
// among them is kept for the about box (plugin/hostbox.h).
WCX_EXPORT void ExtensionInitialize(tExtensionStartupInfo* startupInfo);
#endif
// The host's progress callbacks: the name of the file worked on and how far the work is (see
// HostProgress); an answer of 0 asks to stop.
typedef int(WCX_CALL* ProcessDataProc)(char* fileName, int size);
typedef int(WCX_CALL* ProcessDataProcW)(char16_t* fileName, int size);
// Keep the host's progress callback: in the handle for its listing, extracting and testing; with
// the handle -1, which hosts pass before packing and deleting, for the calling thread's. A null
// callback means none.
WCX_EXPORT void WCX_CALL SetProcessDataProc(void* handle, void* callback);
WCX_EXPORT void WCX_CALL SetProcessDataProcW(void* handle, void* callback);
// PackSetDefaultParams and the volume callback setters: accepted and ignored.
WCX_EXPORT void WCX_CALL IgnoreCallback(void* handleOrNothing, void* callback);
#if defined(_WIN32) && !defined(_WIN64)
WCX_EXPORT void WCX_CALL IgnoreDefaultParams(void* defaultParams);
#elif !defined(_WIN32)
// Elsewhere, where no export table maps names, each name has an empty body.
WCX_EXPORT void PackSetDefaultParams(void* defaultParams);
WCX_EXPORT void SetChangeVolProc(void* handle, void* callback);
WCX_EXPORT void SetChangeVolProcW(void* handle, void* callback);
#endif

// Packing and deleting with the calling thread's callbacks, for the wide and narrow exports.
struct NameList;
int PackNames(const char16_t* packedFile, const char16_t* srcPath, NameList* names);
int DeleteNames(const char16_t* packedFile, NameList* names);

// The module instance recorded when the library was attached.
extern void* ModuleInstance;
