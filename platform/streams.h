// Both platforms keep a file as a runtime stream; a PlatformFile is that stream's address.
#pragma once

#include <cstdio>

#include "platform/platform.h"

inline FILE* Stream(PlatformFile* file) {
    return reinterpret_cast<FILE*>(file);
}

// Takes a freshly opened stream (or null) into the platform's keeping.
PlatformFile* Adopt(FILE* stream);

// The copy through a buffer, which every platform can do, in steps as FileCopyAll takes them.
CopyOutcome CopyInBlocks(PlatformFile* in, PlatformFile* out, const CopySteps* steps);
// The most the next step may move after one of `bytes`: at most `block`, 0 to stop.
size_t NextStep(const CopySteps* steps, size_t bytes, size_t block);
