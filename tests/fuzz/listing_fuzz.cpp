// Any playlist bytes through open, the wide and the narrow listing and close: no crash, no read
// or write out of bounds, nothing written past the host's records, and every listed name a name:
// not empty, terminated within the record, its length in PackSize, and under the Windows
// conventions relative, of parts Windows can create, inside any folder a host joins it to. The
// first input byte picks 8-bit text, or UTF-16 of either byte order behind its mark.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "plugin/exports.h"
#include "tests/fuzz/fuzz_files.h"
#include "tests/fuzz/windows_names.h"

template <typename Record> struct Guarded {
    Record record;
    unsigned char guard[64];
};

static void CheckGuard(const unsigned char* guard) {
    for (int i = 0; i < 64; ++i) {
        if (guard[i] != 0xA5) {
            abort();
        }
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || MayReadAsOtherFormat(data, size)) {
        return 0;
    }
    std::string path = ScratchFolder() + "/list.m3u";
    static const char* const marks[] = {"", "", "\xFF\xFE", "\xFE\xFF"};
    std::string bytes = marks[data[0] % 4];
    bytes.append(reinterpret_cast<const char*>(data) + 1, size - 1);
    Store(path, bytes.data(), bytes.size());
    std::u16string name = HostPath(path);
    static Guarded<tHeaderDataExW> wide;
    static Guarded<tHeaderDataEx> narrow;
    memset(wide.guard, 0xA5, sizeof wide.guard);
    memset(narrow.guard, 0xA5, sizeof narrow.guard);
    for (int pass = 0; pass < 2; ++pass) {
        tOpenArchiveDataW open = {};
        open.ArcName = &name[0];
        void* handle = OpenArchiveW(&open);
        if (!handle) {
            abort();
        }
        int entries = 0;
        while ((pass ? ReadHeaderEx(handle, &narrow.record)
                     : ReadHeaderExW(handle, &wide.record)) == 0) {
            if (++entries > 100000) {
                abort();
            }
            if (!pass) {
                const tHeaderDataExW& r = wide.record;
                size_t units = 0;
                while (units < 1024 && r.FileName[units]) {
                    ++units;
                }
                if (units == 0 || units == 1024 || r.PackSize != units) {
                    abort();
                }
                if (HostNames.WindowsParts &&
                    !IsWindowsListedName(std::u16string(r.FileName, r.FileName + units))) {
                    abort();
                }
            }
            ProcessFileW(handle, PK_SKIP, nullptr, nullptr);
        }
        CloseArchive(handle);
    }
    CheckGuard(wide.guard);
    CheckGuard(narrow.guard);
    return 0;
}
