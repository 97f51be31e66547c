// A set of keys in fixed room, so that each playlist line is tested against a whole batch of
// names with one look-up instead of one comparison per name. The table holds no text: a key is
// its hash and a reference the caller gives (where the name lies in the host's list), and the
// caller tells two keys of one hash apart, since only it knows where their text is. So a key
// costs a few bytes whatever its length, and a list that does not fit is taken in several
// batches; the table says when it is full.
#pragma once

#include <cstddef>
#include <cstdint>

enum {
    TableKeys = 11264, // keys one batch holds at most: 44 KiB of references, so that a list of
                       // ten thousand names takes one pass over the playlist, not two
    TableSlots = 16384 // open addressing, kept at most 11/16 full: 64 KiB
};

// A key's reference is the caller's and stays below TableRefLimit; the two bits above it are
// the caller's marks (a folder's key, a key found in the playlist). The table only keeps them.
constexpr uint32_t TableRefLimit = 0x40000000u;

struct NameTable {
    size_t Count;
    uint32_t Ref[TableKeys];   // the caller's reference of key i, and its marks
    uint32_t Slot[TableSlots]; // the key's tag (high half of its hash) and its index + 1; 0: empty
};

// The text of a key to look for: its units and their hash (KeyHash).
struct KeyText {
    const char16_t* Units;
    size_t Length;
    uint32_t Hash;
};

// The caller's test: whether the key it gave as `ref` is the text `key`.
using SameKey = bool (*)(const void* context, uint32_t ref, const KeyText& key);

// A hash of UTF-16 units; keys of different kinds (`kind`, any small number) hash apart.
uint32_t KeyHash(const char16_t* units, size_t length, unsigned kind);
KeyText MakeKey(const char16_t* units, size_t length, unsigned kind);

void ClearTable(NameTable* table);
// Index of the key that `same` finds to be the text, or -1.
int TableFind(const NameTable* table, const KeyText& key, SameKey same, const void* context);
// Index of the key, added with `ref` when it is new; -1 when it is new and does not fit any more.
int TableAdd(NameTable* table, const KeyText& key, uint32_t ref, SameKey same, const void* context);

#if defined(M3U_FAULT_INJECTION)
// Tests only: hash every key of a length alike, so that look-ups must tell keys apart by their
// text; and hold at most `keys` keys per batch (0: the full table), so that small lists span
// several batches.
void WeakTableHashForTests(bool weak);
void LimitTableForTests(size_t keys);
#endif
