#include "platform/faults.h"

#include <atomic>

namespace {
std::atomic<int> Operations{0};
std::atomic<int> FailAt{0};
std::atomic<bool> Hit{false};
std::atomic<int> Streams{0};
std::atomic<PlatformFile*> Faulted{nullptr};
} // namespace

bool FaultHere() {
    int n = ++Operations;
    if (FailAt != 0 && n == FailAt) {
        Hit = true;
        return true;
    }
    return false;
}

void StreamOpened(PlatformFile*) {
    ++Streams;
}

void StreamClosed(PlatformFile* file) {
    --Streams;
    PlatformFile* expected = file;
    Faulted.compare_exchange_strong(expected, nullptr);
}

bool StreamFaulted(PlatformFile* file) {
    return file && Faulted.load() == file;
}

void FailNthFileOperation(int n) {
    Operations = 0;
    Hit = false;
    FailAt = n;
}

int FileOperationsSoFar() {
    return Operations;
}

bool FaultWasHit() {
    return Hit;
}

int OpenStreams() {
    return Streams;
}

// Reads mark their stream, so that the error flag shows what a failed device read would show.
void MarkFaulted(PlatformFile* file) {
    Faulted = file;
}
