// Files and paths for the tests: a fresh folder per test, Windows-style wide paths into it.
#pragma once

#include <string>
#include <vector>

// A folder of its own for the running test, created empty.
std::string TestFolder();
// UTF-8 path to the wide form the plug-in gets from a host: the host's separator only.
std::u16string WidePath(const std::string& path);
// Text written with Windows separators, with the host's instead: the same tables then hold under
// both conventions.
std::string Host(std::string text);
std::u16string Host(std::u16string text);
// A path written with Windows separators as the build's host lists it (see TreePath).
std::u16string Shown(const std::u16string& windowsName);
std::vector<std::u16string> Shown(std::vector<std::u16string> windowsNames);
// Lines of every kind and the names the Windows builds list them under ("" when a line lists
// under no name): how a Windows host shows and creates what a playlist names.
struct LineName {
    std::string Line;
    std::u16string Name;
};
extern const std::vector<LineName> WindowsNameTable;
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
// The names a playlist lists through the wide exports, in order; `opened` (may be null) tells
// whether it opened at all.
std::vector<std::u16string> ListedNames(const std::string& playlist, bool* opened = nullptr);
// Points the system's temporary folder ($TMPDIR; TMP on Windows) at `folder` while it lives, so
// that what a test puts outside it stays outside wherever the build runs (a clone under /tmp).
struct TempFolderAt {
    explicit TempFolderAt(const std::string& folder);
    ~TempFolderAt();
    std::string Old;
    bool Had;
};

// Whether text that is not UTF-8 reads as Windows-1252 here (natively, and in Wine's default
// locale); expectations that assume it are skipped under other code pages.
bool Legacy1252();
// `written`, whose lines the tables end in CR LF from `from` on, as this build writes them into
// a rewrite of `before`: with LF where the build follows a playlist's own ends and the first
// line of `before` does not end in CR LF.
std::string AsWritten(const std::string& before, std::string written, size_t from = 0);
// UTF-16 text as file bytes, little-endian or big-endian, without a mark.
std::string Utf16Le(const std::u16string& text);
std::string Utf16Be(const std::u16string& text);

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

// The ways the name table is run in the tests: as built; with a hash under which keys of a
// length all collide; and holding two keys per batch, so that short lists span several batches.
struct TableMode {
    const char* Name;
    bool Weak;
    size_t Keys;
};
extern const TableMode TableModes[3];
// Puts the table in a mode for the life of the object.
struct InTableMode {
    explicit InTableMode(const TableMode& mode);
    ~InTableMode();
};
