// The name table: keys side by side in one buffer, found through a hash of each.
#include "playlist/nametable.h"

#include <cstring>

#include "playlist/playlist.h"
#include "text/text.h"

static_assert(TableSlots >= 2 * TableKeys, "at most half the slots in use keeps probes short");
static_assert(TableKeyBytes <= 0xFFFF, "key offsets are 16 bits");
static_assert(sizeof(NameTable) <= 56 * 1024, "fits a host thread's stack beside the streams");

#if defined(M3U_FAULT_INJECTION)
#include <atomic>
static std::atomic<bool> WeakHash{false};
static std::atomic<size_t> KeyLimit{0};
void WeakTableHashForTests(bool weak) {
    WeakHash = weak;
}
void LimitTableForTests(size_t keys) {
    KeyLimit = keys;
}
// At least two: a folder name takes two keys, which must fit an empty table.
static size_t MostKeys() {
    size_t limit = KeyLimit;
    return limit == 0 || limit >= size_t{TableKeys} ? size_t{TableKeys} : limit < 2 ? 2 : limit;
}
#else
static size_t MostKeys() {
    return size_t{TableKeys};
}
#endif

// Eight bytes at a time, each word mixed in by a multiplication; the high bits fold down, since
// the slot comes from the low ones.
static uint32_t HashOf(const void* key, size_t length) {
#if defined(M3U_FAULT_INJECTION)
    if (WeakHash) {
        return static_cast<uint32_t>(length & 1);
    }
#endif
    const unsigned char* p = static_cast<const unsigned char*>(key);
    uint64_t h = 0x9E3779B97F4A7C15ULL ^ length;
    for (size_t i = 0; i < length; i += 8) {
        uint64_t w = 0;
        memcpy(&w, p + i, length - i < 8 ? length - i : 8);
        h = (h ^ w) * 0xFF51AFD7ED558CCDULL;
        h ^= h >> 32;
    }
    h *= 0xC4CEB9FE1A85EC53ULL;
    return static_cast<uint32_t>(h ^ (h >> 29) ^ (h >> 47));
}

void ClearTable(NameTable* table) {
    table->Count = 0;
    table->Start[0] = 0;
    memset(table->Slot, 0, sizeof table->Slot);
    memset(table->Found, 0, sizeof table->Found);
}

// The slot that holds the key, or the empty slot where it would go.
static size_t Probe(const NameTable* table, const void* key, size_t length, uint32_t hash) {
    size_t slot = hash & (TableSlots - 1);
    for (;;) {
        uint16_t entry = table->Slot[slot];
        if (entry == 0) {
            return slot;
        }
        size_t i = entry - 1u;
        if (table->Hash[i] == hash && size_t{table->Start[i + 1]} - table->Start[i] == length &&
            memcmp(table->Bytes + table->Start[i], key, length) == 0) {
            return slot;
        }
        slot = (slot + 1) & (TableSlots - 1); // never endless: the table is at most half full
    }
}

int TableAdd(NameTable* table, const void* key, size_t length) {
    uint32_t hash = HashOf(key, length);
    size_t slot = Probe(table, key, length, hash);
    if (table->Slot[slot] != 0) {
        return table->Slot[slot] - 1;
    }
    size_t used = table->Start[table->Count];
    if (table->Count >= MostKeys() || length > TableKeyBytes - used) {
        return -1;
    }
    size_t i = table->Count++;
    memcpy(table->Bytes + used, key, length);
    table->Start[i + 1] = static_cast<uint16_t>(used + length);
    table->Hash[i] = hash;
    table->Found[i] = false;
    table->Slot[slot] = static_cast<uint16_t>(i + 1);
    return static_cast<int>(i);
}

int TableFind(const NameTable* table, const void* key, size_t length) {
    if (table->Count == 0) {
        return -1;
    }
    size_t slot = Probe(table, key, length, HashOf(key, length));
    return table->Slot[slot] - 1;
}

size_t NameKey(const char16_t* name, size_t units, char* key) {
    // Most names are ASCII, which needs no encoder.
    size_t i = 0;
    for (; i < units && name[i] < 0x80; ++i) {
        key[i] = static_cast<char>(name[i]);
    }
    if (i == units) {
        return i;
    }
    size_t inCount = (units - i) * sizeof(char16_t), room = LineBytes - i;
    Utf16ToUtf8(name + i, inCount, key + i, room);
    return LineBytes - room;
}
