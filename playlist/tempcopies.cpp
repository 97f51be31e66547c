// The records of copies into the temporary folder: a ring of the last copies, oldest first to
// go, found by their resolved path through a hash table. Each record and its two paths are one
// block of the heap at their own length.
#include "playlist/tempcopies.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"
#include "playlist/playlist.h"
#include "text/text.h"

namespace {

struct CopyRecord {
    CopyRecord* Next; // in its bucket
    size_t Slot;      // in the ring
    uint32_t Hash;
    FileIdentity Identity; // of the copy, just after it was written
    size_t PathLength;     // the copy's resolved path, then the original's, each terminated
    size_t OriginalLength;
    const char16_t* Path() const { return reinterpret_cast<const char16_t*>(this + 1); }
    const char16_t* Original() const { return Path() + PathLength + 1; }
};
static_assert(alignof(CopyRecord) >= alignof(char16_t), "the paths follow the record");

enum { BucketCount = 1 << 17 }; // above TempCopyLimit: chains stay short

struct Records {
    CopyRecord** Ring;    // Capacity slots, null where a record went early
    CopyRecord** Buckets; // BucketCount chains
    size_t Capacity;      // as set, or TempCopyLimit; the ring is made at the first record
    size_t Next;          // the slot of the next record: the oldest one's
};

Records State;
// How many records are held, read without the lock: with none, nothing need be looked up.
std::atomic<size_t> Held{0};

uint32_t HashOf(const char16_t* units, size_t length) {
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < length; ++i) {
        hash = (hash ^ units[i]) * 16777619u;
    }
    return hash;
}

// The record of a resolved path, with the link that points at it; under the lock.
CopyRecord** Find(const char16_t* path, size_t length, uint32_t hash) {
    if (!State.Buckets) {
        return nullptr;
    }
    for (CopyRecord** link = &State.Buckets[hash & (BucketCount - 1)]; *link;
         link = &(*link)->Next) {
        const CopyRecord* record = *link;
        if (record->Hash == hash && record->PathLength == length &&
            memcmp(record->Path(), path, length * sizeof(char16_t)) == 0) {
            return link;
        }
    }
    return nullptr;
}

// Unlinks a record from its bucket and the ring, and frees it; under the lock.
void Drop(CopyRecord** link) {
    CopyRecord* record = *link;
    *link = record->Next;
    State.Ring[record->Slot] = nullptr;
    ZeroFree(record);
    Held.fetch_sub(1);
}

void DropSlot(size_t slot) {
    CopyRecord* record = State.Ring[slot];
    if (record) {
        Drop(Find(record->Path(), record->PathLength, record->Hash));
    }
}

// Whether a resolved path lies inside the resolved temporary folder, at any depth.
bool InsideTempFolder(const char16_t* resolved) {
    char16_t folder[PathUnits], temp[PathUnits];
    if (!TempFolder(folder, PathUnits) || !ResolvedPath(folder, temp, PathUnits)) {
        return false;
    }
    size_t n = WideLength(temp);
    const char16_t separator = static_cast<char16_t>(HostPaths.Separator);
    if (n > 0 && temp[n - 1] == separator) {
        --n; // a root
    }
    return n > 0 && memcmp(resolved, temp, n * sizeof(char16_t)) == 0 && resolved[n] == separator &&
           resolved[n + 1] != 0;
}

} // namespace

void RecordTempCopy(const char16_t* destination, const char16_t* original) {
    char16_t path[PathUnits];
    FileIdentity identity;
    if (!GetFileIdentity(destination, &identity) || !ResolvedPath(destination, path, PathUnits) ||
        !InsideTempFolder(path)) {
        return;
    }
    size_t length = WideLength(path), originalLength = WideLength(original);
    CopyRecord* record = static_cast<CopyRecord*>(
        ZeroAlloc(sizeof(CopyRecord) + (length + originalLength + 2) * sizeof(char16_t)));
    if (!record) {
        return; // remembered or not, the copy itself is good
    }
    record->Hash = HashOf(path, length);
    record->Identity = identity;
    record->PathLength = length;
    record->OriginalLength = originalLength;
    char16_t* units = reinterpret_cast<char16_t*>(record + 1);
    memcpy(units, path, length * sizeof(char16_t));
    memcpy(units + length + 1, original, originalLength * sizeof(char16_t));

    LockLibraryState();
    if (!State.Ring) {
        if (!State.Capacity) {
            State.Capacity = TempCopyLimit;
        }
        State.Ring = static_cast<CopyRecord**>(ZeroAlloc(State.Capacity * sizeof(CopyRecord*)));
        State.Buckets = static_cast<CopyRecord**>(ZeroAlloc(BucketCount * sizeof(CopyRecord*)));
        if (!State.Ring || !State.Buckets) {
            ZeroFree(State.Ring);
            ZeroFree(State.Buckets);
            State.Ring = State.Buckets = nullptr;
        }
    }
    if (State.Ring) {
        if (CopyRecord** older = Find(path, length, record->Hash)) {
            Drop(older);
        }
        DropSlot(State.Next);
        record->Slot = State.Next;
        State.Ring[State.Next] = record;
        CopyRecord** bucket = &State.Buckets[record->Hash & (BucketCount - 1)];
        record->Next = *bucket;
        *bucket = record;
        State.Next = (State.Next + 1) % State.Capacity;
        Held.fetch_add(1);
        record = nullptr;
    }
    UnlockLibraryState();
    ZeroFree(record);
}

CopyStanding LookUpTempCopy(const char16_t* path, char16_t* original) {
    char16_t resolved[PathUnits];
    FileIdentity identity;
    if (Held.load() == 0 || !ResolvedPath(path, resolved, PathUnits)) {
        return NoRecordedCopy;
    }
    // A file that cannot be read for its identity any more is no copy as it was written.
    bool known = GetFileIdentity(path, &identity);
    size_t length = WideLength(resolved);
    CopyStanding standing = NoRecordedCopy;
    LockLibraryState();
    if (CopyRecord** link = Find(resolved, length, HashOf(resolved, length))) {
        const CopyRecord* record = *link;
        standing = known && SameFileIdentity(record->Identity, identity) &&
                           record->OriginalLength < PathUnits
                       ? UnchangedCopy
                       : ChangedCopy;
        if (standing == UnchangedCopy) {
            memcpy(original, record->Original(), (record->OriginalLength + 1) * sizeof(char16_t));
        }
    }
    UnlockLibraryState();
    return standing;
}

void ForgetTempCopy(const char16_t* path) {
    char16_t resolved[PathUnits];
    if (Held.load() == 0 || !ResolvedPath(path, resolved, PathUnits)) {
        return;
    }
    size_t length = WideLength(resolved);
    LockLibraryState();
    if (CopyRecord** link = Find(resolved, length, HashOf(resolved, length))) {
        Drop(link);
    }
    UnlockLibraryState();
}

const char16_t* PlaylistStandingFor(const char16_t* playlist, char16_t* original) {
    return playlist && LookUpTempCopy(playlist, original) == UnchangedCopy ? original : playlist;
}

bool SourceStandingFor(char* source, size_t bytes) {
    // Asked twice for every name a pack adds: nothing is touched while no copy is recorded.
    if (Held.load() == 0) {
        return true;
    }
    char16_t wide[PathUnits] = {}, original[PathUnits];
    size_t inCount = strlen(source) + 1, room = sizeof wide;
    if (Utf8ToUtf16(source, inCount, wide, room) != 0) {
        return true;
    }
    switch (LookUpTempCopy(wide, original)) {
    case NoRecordedCopy:
        return true;
    case ChangedCopy:
        return false;
    case UnchangedCopy:
        break;
    }
    return ToUtf8(original, source, bytes);
}

void ResetTempCopies(size_t records) {
    LockLibraryState();
    for (size_t slot = 0; State.Ring && slot < State.Capacity; ++slot) {
        DropSlot(slot);
    }
    ZeroFree(State.Ring);
    ZeroFree(State.Buckets);
    State = {nullptr, nullptr, records ? records : size_t{TempCopyLimit}, 0};
    UnlockLibraryState();
}
