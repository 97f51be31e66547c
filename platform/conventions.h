// What differs between the hosts' ways with paths, names and line ends, as data chosen once per
// build.
// The Windows file managers and the native test build use WindowsPaths; the Linux plug-in
// (built with M3U_LINUX_HOST) uses PosixPaths. Code asks HostPaths and never the compiler.
#pragma once

#ifndef M3U_LINUX_HOST
#define M3U_LINUX_HOST 0
#endif

struct PathStyle {
    char Separator;  // written between segments; the playlist's folder ends at the last one
    bool DriveRoots; // drives, shares and device paths root a path, not only a leading separator
    bool CaseBlind;  // names that differ only in ASCII case name the same file
    // Listed names are resolved and use '/' only, with markers for what lies outside the
    // playlist's folder: the host splits names at '/' and shows each part as a folder.
    bool TreeNames;
    // Packing leaves out the folders the host names along with the files in them: a line that
    // names a folder is no entry a player can use.
    bool PacksFilesOnly;
    // Lines written end in CR LF only when the playlist's first line does, and in LF otherwise
    // (a new playlist, an open only line, lone CRs): players there split lines at LF alone, so
    // a playlist keeps its own ends. Otherwise every line written ends in CR LF.
    bool LfUnlessCrLf;
};

inline constexpr PathStyle WindowsPaths = {'\\', true, true, false, false, false};
inline constexpr PathStyle PosixPaths = {'/', false, false, true, true, true};

#if M3U_LINUX_HOST
inline constexpr const PathStyle& HostPaths = PosixPaths;
#else
inline constexpr const PathStyle& HostPaths = WindowsPaths;
#endif
