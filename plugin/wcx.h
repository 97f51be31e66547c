// The host's packer-plugin interface as the plug-in sees it: records, codes and bits.
// Layouts are fixed by the host; the checks below hold them to its offsets in every build.
// The Windows file managers align their records naturally and keep DOS times; the Linux one
// (built with M3U_LINUX_HOST) packs them, keeps Unix times and a file's st_mode, and lends the
// plug-in its own message box for the about box.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/conventions.h"

// The Linux host's records are packed. Its header records then hold the comment pointer unaligned
// (at 4140 in the wide one); the plug-in never touches it, so it is declared as bytes there and
// every other field keeps its natural alignment and offset.
#if M3U_LINUX_HOST
#define WCX_OPEN_RECORD struct __attribute__((packed))
typedef unsigned char CommentPointer[sizeof(void*)];
#else
#define WCX_OPEN_RECORD struct
typedef char* CommentPointer;
#endif

// What the host does with a record and with the options entry, chosen once per build.
struct WcxHost {
    bool UnixTimes;  // FileTime in seconds since 1970, UTC, rather than a local DOS time
    bool ModeInAttr; // FileAttr holds an st_mode, rather than being left zero
    // The about box goes through the message box the host lent at ExtensionInitialize (nothing
    // shows when it lent none), rather than through the system's own.
    bool AboutThroughHost;
};
#if M3U_LINUX_HOST
inline constexpr WcxHost ThisHost = {true, true, true};
#else
inline constexpr WcxHost ThisHost = {false, false, false};
#endif

// Results.
enum {
    E_SUCCESS = 0,
    E_END_ARCHIVE = 10,
    E_EOPEN = 15,
    E_ECREATE = 16,
    E_EREAD = 18,
    E_EWRITE = 19,
    E_EABORTED = 21,
    E_NOT_SUPPORTED = 24
};

// What GetBackgroundFlags promises: extracting and packing may run in threads of their own.
enum { BACKGROUND_UNPACK = 1, BACKGROUND_PACK = 2 };

// Operations of ProcessFile.
enum { PK_SKIP = 0, PK_TEST = 1, PK_EXTRACT = 2 };

// Capabilities.
enum {
    PK_CAPS_NEW = 1,
    PK_CAPS_MODIFY = 2,
    PK_CAPS_MULTIPLE = 4,
    PK_CAPS_DELETE = 8,
    PK_CAPS_OPTIONS = 16,
    PK_CAPS_HIDE = 256
};

WCX_OPEN_RECORD tOpenArchiveData {
    char* ArcName;
    int OpenMode;
    int OpenResult;
    char* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
};

WCX_OPEN_RECORD tOpenArchiveDataW {
    char16_t* ArcName;
    int OpenMode;
    int OpenResult;
    char16_t* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
};

struct tHeaderData; // the oldest header record; never touched

struct tHeaderDataEx {
    char ArcName[1024];
    char FileName[1024];
    int Flags;
    unsigned int PackSize;
    unsigned int PackSizeHigh;
    unsigned int UnpSize;
    unsigned int UnpSizeHigh;
    int HostOS;
    int FileCRC;
    int FileTime;
    int UnpVer;
    int Method;
    int FileAttr;
    CommentPointer CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
    char Reserved[1024];
};

struct tHeaderDataExW {
    char16_t ArcName[1024];
    char16_t FileName[1024];
    int Flags;
    unsigned int PackSize;
    unsigned int PackSizeHigh;
    unsigned int UnpSize;
    unsigned int UnpSizeHigh;
    int HostOS;
    int FileCRC;
    int FileTime;
    int UnpVer;
    int Method;
    int FileAttr;
    CommentPointer CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
    char Reserved[1024];
};

// The header records hold one pointer, the open records two: the sizes follow the pointer width
// (8 bytes on x86-64 and aarch64, 4 on x86 and armhf). The Windows hosts align the pointer to its
// width, the Linux host packs it at 4140.
constexpr bool Wide64 = sizeof(void*) == 8;
constexpr size_t WideHeaderBytes = M3U_LINUX_HOST ? (Wide64 ? 5184 : 5180) : Wide64 ? 5192 : 5180;
constexpr size_t CmtBufOffset = M3U_LINUX_HOST || !Wide64 ? 4140 : 4144;
static_assert(sizeof(void*) == 8 || sizeof(void*) == 4, "a pointer of 4 or 8 bytes");
static_assert(sizeof(tHeaderDataExW) == WideHeaderBytes, "wide header size");
static_assert(offsetof(tHeaderDataExW, FileName) == 2048, "wide FileName");
static_assert(offsetof(tHeaderDataExW, Flags) == 4096, "wide Flags");
static_assert(offsetof(tHeaderDataExW, PackSize) == 4100, "wide PackSize");
static_assert(offsetof(tHeaderDataExW, UnpSize) == 4108, "wide UnpSize");
static_assert(offsetof(tHeaderDataExW, UnpSizeHigh) == 4112, "wide UnpSizeHigh");
static_assert(offsetof(tHeaderDataExW, FileTime) == 4124, "wide FileTime");
static_assert(offsetof(tHeaderDataExW, FileAttr) == 4136, "wide FileAttr");
static_assert(offsetof(tHeaderDataExW, CmtBuf) == CmtBufOffset, "wide CmtBuf");
static_assert(offsetof(tHeaderDataExW, Reserved) == CmtBufOffset + sizeof(void*) + 12,
              "wide Reserved");
static_assert(offsetof(tHeaderDataEx, FileName) == 1024, "narrow FileName");
static_assert(offsetof(tHeaderDataEx, Flags) == 2048, "narrow Flags");
static_assert(offsetof(tHeaderDataEx, FileTime) == 2076, "narrow FileTime");
static_assert(offsetof(tHeaderDataEx, FileAttr) == 2088, "narrow FileAttr");
static_assert(sizeof(tHeaderDataEx) - offsetof(tHeaderDataEx, Flags) ==
                  sizeof(tHeaderDataExW) - offsetof(tHeaderDataExW, Flags),
              "the numeric tails line up");
static_assert(offsetof(tOpenArchiveDataW, OpenMode) == sizeof(void*), "open record");
static_assert(offsetof(tOpenArchiveDataW, OpenResult) == sizeof(void*) + 4, "open result");
// The Linux host's packed records, in both pointer widths.
static_assert(!M3U_LINUX_HOST || (sizeof(tHeaderDataEx) == (Wide64 ? 3136 : 3132) &&
                                  offsetof(tOpenArchiveDataW, CmtBuf) == (Wide64 ? 16 : 12) &&
                                  sizeof(tOpenArchiveDataW) == (Wide64 ? 36 : 28) &&
                                  sizeof(tOpenArchiveData) == (Wide64 ? 36 : 28)),
              "the Linux host's packed records");

// The record the Linux host passes to ExtensionInitialize once after loading the plug-in: its
// services, packed. It lives on the host's stack for that call alone, and StructSize says how far
// it goes; the host's reserved bytes after LanguageID are not declared, since nothing reads them.
// The message box takes UTF-8 text and the Windows MB_* flags.
typedef int (*HostMessageBox)(char* text, char* caption, long flags);
enum { HostBoxOk = 0, HostBoxInformation = 0x40 };
struct __attribute__((packed)) tExtensionStartupInfo {
    uint32_t StructSize;
    char PluginDir[16384];
    char PluginConfDir[16384];
    void* InputBox;
    HostMessageBox MessageBox;
    void* DialogBoxLFM;
    void* DialogBoxLRS;
    void* DialogBoxLFMFile;
    void* SendDlgMsg;
    void* Translation;
    void* TranslateString;
    uintptr_t VersionAPI;
    void* MsgChoiceBox;
    void* DialogBoxParam;
    void* SetProperty;
    void* GetProperty;
    void* CreateComponent;
    char LanguageID[16];
};
// The pointer-wide fields follow one another from 32772 in either width: 8 bytes each on x86-64
// and aarch64, 4 on armhf.
constexpr size_t HostServicesAt = 32772;
constexpr size_t HostService(int k) {
    return HostServicesAt + k * sizeof(void*);
}
static_assert(offsetof(tExtensionStartupInfo, StructSize) == 0, "StructSize");
static_assert(offsetof(tExtensionStartupInfo, PluginDir) == 4, "PluginDir");
static_assert(offsetof(tExtensionStartupInfo, PluginConfDir) == 16388, "PluginConfDir");
static_assert(offsetof(tExtensionStartupInfo, InputBox) == HostService(0), "InputBox");
static_assert(offsetof(tExtensionStartupInfo, MessageBox) == (Wide64 ? 32780 : 32776),
              "MessageBox");
static_assert(offsetof(tExtensionStartupInfo, MessageBox) == HostService(1), "MessageBox");
static_assert(offsetof(tExtensionStartupInfo, DialogBoxLFM) == HostService(2), "DialogBoxLFM");
static_assert(offsetof(tExtensionStartupInfo, DialogBoxLRS) == HostService(3), "DialogBoxLRS");
static_assert(offsetof(tExtensionStartupInfo, DialogBoxLFMFile) == HostService(4),
              "DialogBoxLFMFile");
static_assert(offsetof(tExtensionStartupInfo, SendDlgMsg) == HostService(5), "SendDlgMsg");
static_assert(offsetof(tExtensionStartupInfo, Translation) == HostService(6), "Translation");
static_assert(offsetof(tExtensionStartupInfo, TranslateString) == HostService(7),
              "TranslateString");
static_assert(offsetof(tExtensionStartupInfo, VersionAPI) == (Wide64 ? 32836 : 32804),
              "VersionAPI");
static_assert(offsetof(tExtensionStartupInfo, VersionAPI) == HostService(8), "VersionAPI");
static_assert(offsetof(tExtensionStartupInfo, MsgChoiceBox) == HostService(9), "MsgChoiceBox");
static_assert(offsetof(tExtensionStartupInfo, DialogBoxParam) == HostService(10), "DialogBoxParam");
static_assert(offsetof(tExtensionStartupInfo, SetProperty) == HostService(11), "SetProperty");
static_assert(offsetof(tExtensionStartupInfo, GetProperty) == HostService(12), "GetProperty");
static_assert(offsetof(tExtensionStartupInfo, CreateComponent) == HostService(13),
              "CreateComponent");
static_assert(offsetof(tExtensionStartupInfo, LanguageID) == (Wide64 ? 32884 : 32828),
              "LanguageID");
static_assert(sizeof(tExtensionStartupInfo) == (Wide64 ? 32900 : 32844), "up to the reserved");
