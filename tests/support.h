// Files and paths for the tests: a fresh folder per test, Windows-style wide paths into it.
#pragma once

#include <string>

// A folder of its own for the running test, created empty.
std::string TestFolder();
// UTF-8 path to the wide form the plug-in gets from a host: the host's separator only.
std::u16string WidePath(const std::string& path);
// Text written with Windows separators, with the host's instead: the same tables then hold under
// both conventions.
std::string Host(std::string text);
std::u16string Host(std::u16string text);
// The host's separator, as a host appends it to a folder.
std::u16string HostSeparator();
// A narrow path for the narrow exports (the ANSI code page; UTF-8 natively).
std::string NarrowPath(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// Names of the files in a folder, sorted, joined by '|'.
std::string FolderListing(const std::string& folder);
void MakeReadOnly(const std::string& path, bool readOnly);

#include <vector>

// A host's list of names: each followed by a zero, the list ended by an empty name.
std::u16string WideList(const std::vector<std::u16string>& names);
std::string NarrowList(const std::vector<std::string>& names);
// Whether a read-only file in the folder refuses writing (not so for root, natively or in Wine).
bool ReadOnlyHolds(const std::string& folder);
#ifdef _WIN32
// Keeps a file open for reading with the given share mode, as another program might.
void* HoldOpen(const std::string& path, unsigned long share);
void Release(void* handle);
#endif
