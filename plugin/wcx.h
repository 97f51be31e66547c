// The host's packer-plugin interface as the plug-in sees it: records, codes and bits.
// Layouts are fixed by the host; the checks below hold them to its offsets in every build.
// The Windows file managers align their records naturally and keep DOS times; the Linux one
// (built with M3U_LINUX_HOST) packs them, keeps Unix times and a file's st_mode, and has no
// message box to show an about box in.
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
    bool UnixTimes;     // FileTime in seconds since 1970, UTC, rather than a local DOS time
    bool ModeInAttr;    // FileAttr holds an st_mode, rather than being left zero
    bool ShowsAboutBox; // ConfigurePacker shows a box, rather than returning at once
};
#if M3U_LINUX_HOST
inline constexpr WcxHost ThisHost = {true, true, false};
#else
inline constexpr WcxHost ThisHost = {false, false, true};
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
