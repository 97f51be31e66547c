// The name table: open addressing over a tag of each key's hash and the key's index, with the
// keys' references beside; the text stays where the caller keeps it.
#include "playlist/nametable.h"

#include <cstring>

static_assert((TableSlots & (TableSlots - 1)) == 0, "slots are found by masking the hash");
static_assert(16 * TableKeys <= 11 * TableSlots, "at most 11/16 full keeps probes short");
static_assert(TableKeys < 0xFFFF, "an index + 1 fits the low half of a slot");
static_assert(sizeof(NameTable) <= 110 * 1024, "fits a host thread's stack beside the streams");

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

// Four units at a time, each word mixed in by a multiplication; the high bits fold down, since
// the slot comes from the low bits and the tag from the high ones.
uint32_t KeyHash(const char16_t* units, size_t length, unsigned kind) {
#if defined(M3U_FAULT_INJECTION)
    if (WeakHash) {
        return static_cast<uint32_t>(length & 1); // kinds collide too
    }
#endif
    const unsigned char* p = reinterpret_cast<const unsigned char*>(units);
    size_t bytes = length * sizeof(char16_t);
    uint64_t h = (0x9E3779B97F4A7C15ULL + kind) ^ bytes;
    size_t i = 0;
    for (; i + 8 <= bytes; i += 8) {
        uint64_t w;
        memcpy(&w, p + i, 8);
        h = (h ^ w) * 0xFF51AFD7ED558CCDULL;
        h ^= h >> 32;
    }
    if (i < bytes) {
        // One to three units left, put together as a little-endian load of them would: a
        // copy of a length known only here would be a call of the runtime's.
        uint64_t w = 0;
        for (size_t k = i / 2; k < length; ++k) {
            w |= uint64_t{units[k]} << (16 * (k - i / 2));
        }
        h = (h ^ w) * 0xFF51AFD7ED558CCDULL;
        h ^= h >> 32;
    }
    h *= 0xC4CEB9FE1A85EC53ULL;
    return static_cast<uint32_t>(h ^ (h >> 29) ^ (h >> 47));
}

KeyText MakeKey(const char16_t* units, size_t length, unsigned kind) {
    return KeyText{units, length, KeyHash(units, length, kind)};
}

void ClearTable(NameTable* table) {
    table->Count = 0;
    memset(table->Slot, 0, sizeof table->Slot);
}

static uint32_t TagOf(uint32_t hash) {
    return hash & 0xFFFF0000u;
}

// The slot that holds the key, or the empty slot where it would go.
static size_t Probe(const NameTable* table, const KeyText& key, SameKey same, const void* context) {
    uint32_t tag = TagOf(key.Hash);
    size_t slot = key.Hash & (TableSlots - 1);
    for (;;) {
        uint32_t entry = table->Slot[slot];
        if (entry == 0) {
            return slot;
        }
        // Only a key whose tag agrees is worth asking the caller about.
        if (TagOf(entry) == tag && same(context, table->Ref[(entry & 0xFFFF) - 1], key)) {
            return slot;
        }
        slot = (slot + 1) & (TableSlots - 1); // never endless: the table is never full
    }
}

int TableFind(const NameTable* table, const KeyText& key, SameKey same, const void* context) {
    if (table->Count == 0) {
        return -1;
    }
    return static_cast<int>(table->Slot[Probe(table, key, same, context)] & 0xFFFF) - 1;
}

int TableAdd(NameTable* table, const KeyText& key, uint32_t ref, SameKey same,
             const void* context) {
    size_t slot = Probe(table, key, same, context);
    if (table->Slot[slot] != 0) {
        return static_cast<int>(table->Slot[slot] & 0xFFFF) - 1;
    }
    if (table->Count >= MostKeys()) {
        return -1;
    }
    size_t i = table->Count++;
    table->Ref[i] = ref;
    table->Slot[slot] = TagOf(key.Hash) | static_cast<uint32_t>(i + 1);
    return static_cast<int>(i);
}
