// A set of byte strings in fixed room, so that each playlist line is tested against a whole batch
// of names with one look-up instead of one comparison per name. A list that does not fit is
// taken in several batches; the table says when it is full.
#pragma once

#include <cstddef>
#include <cstdint>

enum {
    TableKeys = 2048,      // keys one batch holds at most
    TableKeyBytes = 32768, // their bytes together at most; any one line's key fits an empty table
    TableSlots = 4096      // open addressing, kept at most half full
};

struct NameTable {
    size_t Count;
    uint32_t Hash[TableKeys];
    uint16_t Start[TableKeys + 1]; // key i is Bytes[Start[i], Start[i + 1])
    uint16_t Slot[TableSlots];     // key index + 1, or 0 for an empty slot
    bool Found[TableKeys];         // for the caller: the key was met in the playlist
    unsigned char Bytes[TableKeyBytes];
};

void ClearTable(NameTable* table);
// Index of the key, added when it is new; -1 when it is new and does not fit any more.
int TableAdd(NameTable* table, const void* key, size_t length);
// Index of the key, or -1.
int TableFind(const NameTable* table, const void* key, size_t length);

// A listed name as a key, into `key` (LineBytes): its UTF-8, which tells names apart exactly as
// their units do; the key's length. A listed name holds fewer than 1024 units, three bytes each
// at most, so it always fits.
size_t NameKey(const char16_t* name, size_t units, char* key);

#if defined(M3U_FAULT_INJECTION)
// Tests only: hash every key of a length alike, so that look-ups must tell keys apart by their
// bytes; and hold at most `keys` keys per batch (0: the full table), so that small lists span
// several batches.
void WeakTableHashForTests(bool weak);
void LimitTableForTests(size_t keys);
#endif
