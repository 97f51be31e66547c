// The stream operations both platforms share: reads, writes, errors and closing.
#include "platform/streams.h"

#include "platform/faults.h"

PlatformFile* Adopt(FILE* stream) {
    PlatformFile* file = reinterpret_cast<PlatformFile*>(stream);
    if (file) {
        StreamOpened(file);
    }
    return file;
}

size_t FileRead(PlatformFile* file, void* buffer, size_t bytes) {
    if (FaultHere()) {
        MarkFaulted(file);
        return 0;
    }
    return fread(buffer, 1, bytes, Stream(file));
}

bool FileWrite(PlatformFile* file, const void* data, size_t bytes) {
    return !FaultHere() && fwrite(data, 1, bytes, Stream(file)) == bytes;
}

bool FileFailed(PlatformFile* file) {
    return ferror(Stream(file)) != 0 || StreamFaulted(file);
}

bool FileClose(PlatformFile* file) {
    StreamClosed(file);
    return fclose(Stream(file)) == 0;
}

size_t NextStep(const CopySteps* steps, size_t bytes, size_t block) {
    if (!steps) {
        return block;
    }
    size_t most = steps->Step(steps->Context, bytes);
    return most < block ? most : block;
}

CopyOutcome CopyInBlocks(PlatformFile* in, PlatformFile* out, const CopySteps* steps) {
    unsigned char block[65536]; // fewer calls into the system than 8192, and a small frame
    for (size_t most = sizeof block; most > 0;) {
        size_t n = FileRead(in, block, most);
        if (n == 0) {
            return FileFailed(in) ? CopyReadFailed : CopyDone;
        }
        if (!FileWrite(out, block, n)) {
            return CopyWriteFailed;
        }
        most = NextStep(steps, n, sizeof block);
    }
    return CopyStopped;
}
