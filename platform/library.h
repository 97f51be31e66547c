// What a host program needs of the system to load a plug-in; not part of the plug-in itself.
#pragma once

#include <cstddef>

void* LibraryOpen(const char16_t* path);
void* LibrarySymbol(void* library, const char* name);
void LibraryClose(void* library);
// Writes bytes to standard output unchanged (no line-end translation).
void WriteOut(const char* bytes, size_t count);
// Creates every folder above the file a full path names, as a host does before extracting.
bool MakeParentFolders(const char16_t* path);
// Whether a file or folder is there under the path.
bool PathThere(const char16_t* path);
// A fresh empty folder under the system's temporary folder, as a host makes one to copy between
// two archives through: its path into `out` (`units`), without a closing separator.
bool MakeTempFolder(char16_t* out, size_t units);
// Removes a folder and everything in it.
bool RemoveTree(const char16_t* folder);
