// The built M3U.wcx as a 32-bit host loads it: every export found by its plain name, and each
// removing exactly its own arguments from the stack on return. A function that removes more or
// fewer bytes leaves the host's stack pointer wrong, which the host only notices by crashing.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/wcx.h"
#include "tests/support.h"

// Calls fn with the arguments pushed right to left, as a host does, and stores how many bytes
// of them the callee removed; the stack pointer is put back whatever the callee did.
extern "C" uint32_t CallCountingBytes(const void* fn, const uint32_t* args, int count,
                                      int* removed);
asm(R"(
    .text
    .globl _CallCountingBytes
_CallCountingBytes:
    push %ebp
    mov %esp, %ebp
    push %ebx
    push %esi
    push %edi
    mov 12(%ebp), %esi
    mov 16(%ebp), %ecx
    mov %esp, %edi
1:  test %ecx, %ecx
    jz 2f
    dec %ecx
    pushl (%esi,%ecx,4)
    jmp 1b
2:  call *8(%ebp)
    mov %esp, %ecx
    sub %edi, %ecx
    mov 16(%ebp), %edx
    lea (%ecx,%edx,4), %ecx
    mov 20(%ebp), %edx
    mov %ecx, (%edx)
    mov %edi, %esp
    pop %edi
    pop %esi
    pop %ebx
    pop %ebp
    ret
)");

namespace {

uint32_t Arg(const void* pointer) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

TEST(Stdcall, EveryExportRemovesItsOwnArguments) {
    // The build's path, through Wine's drive for the Unix root.
    std::u16string path = u"Z:" + WidePath(M3U_PLUGIN_PATH);
    HMODULE plugin = LoadLibraryW(reinterpret_cast<const wchar_t*>(path.c_str()));
    ASSERT_NE(plugin, nullptr) << M3U_PLUGIN_PATH;

    // Arguments every export refuses at once (null handles, playlists in a missing folder), so
    // no call leaves anything open or changed.
    std::string folder = TestFolder();
    std::string missing = NarrowPath(folder + "/none/list.m3u"), source = NarrowPath(folder);
    std::u16string missingW = WidePath(folder + "/none/list.m3u"), sourceW = WidePath(folder);
    std::string names = NarrowList({"a.mp3"});
    std::u16string namesW = WideList({u"a.mp3"});
    tOpenArchiveData open = {&missing[0], 0, 0, nullptr, 0, 0, 0};
    tOpenArchiveDataW openW = {&missingW[0], 0, 0, nullptr, 0, 0, 0};
    tHeaderDataEx header = {};
    tHeaderDataExW headerW = {};
    uint32_t defaultParams[16] = {};

    // ConfigurePacker waits for its box to be closed: the About suite calls it.
    const std::vector<std::pair<const char*, std::vector<uint32_t>>> exports = {
        {"OpenArchive", {Arg(&open)}},
        {"OpenArchiveW", {Arg(&openW)}},
        {"ReadHeader", {0, Arg(&header)}},
        {"ReadHeaderEx", {0, Arg(&header)}},
        {"ReadHeaderExW", {0, Arg(&headerW)}},
        {"ProcessFile", {0, PK_EXTRACT, 0, Arg(names.c_str())}},
        {"ProcessFileW", {0, PK_EXTRACT, 0, Arg(namesW.c_str())}},
        {"CloseArchive", {0}},
        {"PackFiles", {Arg(missing.c_str()), 0, Arg(source.c_str()), Arg(names.c_str()), 0}},
        {"PackFilesW", {Arg(missingW.c_str()), 0, Arg(sourceW.c_str()), Arg(namesW.c_str()), 0}},
        {"DeleteFiles", {Arg(missing.c_str()), Arg(names.c_str())}},
        {"DeleteFilesW", {Arg(missingW.c_str()), Arg(namesW.c_str())}},
        {"GetPackerCaps", {}},
        {"GetBackgroundFlags", {}},
        {"PackSetDefaultParams", {Arg(defaultParams)}},
        {"SetChangeVolProc", {0, 0}},
        {"SetChangeVolProcW", {0, 0}},
        {"SetProcessDataProc", {0, 0}},
        {"SetProcessDataProcW", {0, 0}},
    };
    for (const auto& e : exports) {
        FARPROC fn = GetProcAddress(plugin, e.first);
        ASSERT_NE(fn, nullptr) << e.first;
        int removed = -1;
        CallCountingBytes(reinterpret_cast<const void*>(fn), e.second.data(),
                          static_cast<int>(e.second.size()), &removed);
        EXPECT_EQ(removed, static_cast<int>(4 * e.second.size())) << e.first;
    }
    EXPECT_FALSE(FileExists(folder + "/none")) << "a refused call created the folder";
    FreeLibrary(plugin);
}

} // namespace
