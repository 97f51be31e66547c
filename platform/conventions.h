// What differs between the hosts' ways with paths, names and line ends, as data chosen once per
// build.
// The Windows file managers and the native test build use WindowsPaths and WindowsNames; the
// Linux plug-in (built with M3U_LINUX_HOST) uses PosixPaths and PosixNames. Code asks HostPaths
// and HostNames, never the compiler.
#pragma once

#ifndef M3U_LINUX_HOST
#define M3U_LINUX_HOST 0
#endif

struct PathStyle {
    char Separator;  // written between segments; the playlist's folder ends at the last one
    bool DriveRoots; // drives, shares and device paths root a path, not only a leading separator
    bool CaseBlind;  // names that differ only in ASCII case name the same file
    // Packing leaves out the folders the host names along with the files in them: a line that
    // names a folder is no entry a player can use.
    bool PacksFilesOnly;
    // Lines written end in CR LF only when the playlist's first line does, and in LF otherwise
    // (a new playlist, an open only line, lone CRs): players there split lines at LF alone, so
    // a playlist keeps its own ends. Otherwise every line written ends in CR LF.
    bool LfUnlessCrLf;
};

inline constexpr PathStyle WindowsPaths = {'\\', true, true, false, false};
inline constexpr PathStyle PosixPaths = {'/', false, false, true, true};

// How a host sees listed names: it splits them at Separator and makes each part a folder, so
// names are resolved, and what lies outside the playlist's folder goes under a first folder of
// its own, whose marker no real folder is likely to have.
struct NameStyle {
    char Separator;
    // A path that begins with '/' is a POSIX one, where more slashes are empty segments; else
    // "//server/share" is a share, as Windows opens it.
    bool SlashRootsPosix;
    const char* Up;   // for each step up that nothing cancels
    const char* Root; // for a leading separator
    // Before a share's server and share, and for a device path's prefix. Without them every
    // other root shows as written inside one pair of parentheses: "(C:)", "(\\srv\share)".
    const char* Share;
    const char* Device;
    // Every part made a name Windows can create: a drive or a URL's scheme "C:", "http:" as
    // "(C)", "(http)"; no < > : " | ? * or control character; no trailing dot or space; no
    // device name such as CON or NUL.
    bool WindowsParts;
};

inline constexpr NameStyle WindowsNames = {
    '\\', false, "(..)", "(root)", "(UNC)", "(device)", true,
};
inline constexpr NameStyle PosixNames = {'/', true, "(..)", "(root)", nullptr, nullptr, false};

#if M3U_LINUX_HOST
inline constexpr const PathStyle& HostPaths = PosixPaths;
inline constexpr const NameStyle& HostNames = PosixNames;
#else
inline constexpr const PathStyle& HostPaths = WindowsPaths;
inline constexpr const NameStyle& HostNames = WindowsNames;
#endif
