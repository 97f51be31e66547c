// The message box lent by the host (see hostbox.h).
#include "plugin/hostbox.h"

#include <atomic>
#include <cstring>

static std::atomic<HostMessageBox> KeptBox{nullptr};
static_assert(std::atomic<HostMessageBox>::is_always_lock_free, "no lock behind the pointer");

void KeepHostMessageBox(const tExtensionStartupInfo* info) {
    if (!info) {
        return;
    }
    // Byte copies: the record is packed, and only the bytes StructSize covers are the host's.
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(info);
    uint32_t size = 0;
    memcpy(&size, bytes + offsetof(tExtensionStartupInfo, StructSize), sizeof size);
    const size_t at = offsetof(tExtensionStartupInfo, MessageBox);
    if (size < at + sizeof(HostMessageBox)) {
        return; // an older or shorter record: the box is not in it
    }
    HostMessageBox box = nullptr;
    memcpy(&box, bytes + at, sizeof box);
    HostMessageBox none = nullptr;
    if (box) {
        KeptBox.compare_exchange_strong(none, box); // the first one stays
    }
}

int ShowHostMessageBox(char* text, char* caption, long flags) {
    HostMessageBox box = KeptBox.load();
    return box ? box(text, caption, flags) : 0;
}
