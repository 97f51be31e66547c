// Fault injection for the tests: the n-th file open, read or write fails on demand. Compiled
// only into the test build (M3U_FAULT_INJECTION); in the plug-in every hook is a constant.
#pragma once

struct PlatformFile;

#if defined(M3U_FAULT_INJECTION)
// Counts one open, read or write; true when it is the one chosen to fail.
bool FaultHere();
void StreamOpened(PlatformFile* file);
void StreamClosed(PlatformFile* file);
// True for a stream whose read was made to fail, as the stream's error flag would be.
bool StreamFaulted(PlatformFile* file);
void MarkFaulted(PlatformFile* file);

// For the tests: arm the n-th operation from now on (0 disarms), and what happened since.
void FailNthFileOperation(int n);
int FileOperationsSoFar();
bool FaultWasHit();
int OpenStreams();
#else
inline bool FaultHere() {
    return false;
}
inline void StreamOpened(PlatformFile*) {}
inline void StreamClosed(PlatformFile*) {}
inline bool StreamFaulted(PlatformFile*) {
    return false;
}
inline void MarkFaulted(PlatformFile*) {}
#endif
