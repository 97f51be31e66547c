#include "tests/support.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "path/path.h"
#include "playlist/entries.h"
#include "platform/conventions.h"
#include "platform/platform.h"
#include "playlist/nametable.h"
#include "plugin/exports.h"
#include "text/text.h"

namespace fs = std::filesystem;

static fs::path Native(const std::string& path) {
    return fs::u8path(path);
}

static fs::path RunFolder() {
    return fs::temp_directory_path() / ("m3u-tests-" + std::to_string(CurrentProcessId()));
}

// The run's folders go when the run ends.
class RemoveRunFolder : public testing::Environment {
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(RunFolder(), ignored);
    }
};
static testing::Environment* const Cleanup = testing::AddGlobalTestEnvironment(new RemoveRunFolder);

std::string TestFolder() {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    fs::path folder = RunFolder() / name;
    std::error_code ignored;
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
    return folder.u8string();
}

std::u16string WidePath(const std::string& path) {
    std::u16string wide = Native(path).u16string();
    std::replace(wide.begin(), wide.end(), u'/', static_cast<char16_t>(HostPaths.Separator));
    return wide;
}

std::string Host(std::string text) {
    std::replace(text.begin(), text.end(), '\\', HostPaths.Separator);
    return text;
}

std::u16string Host(std::u16string text) {
    std::replace(text.begin(), text.end(), u'\\', static_cast<char16_t>(HostPaths.Separator));
    return text;
}

std::u16string Shown(const std::u16string& windowsName) {
    // A folder the host names as "folder\*.*" is the shown folder's.
    size_t n = windowsName.size();
    if (n > 4 && windowsName.compare(n - 3, 3, u"*.*") == 0 &&
        (windowsName[n - 4] == u'\\' || windowsName[n - 4] == u'/')) {
        return Shown(windowsName.substr(0, n - 4)) + windowsName.substr(n - 4);
    }
    // Through UTF-8 as the plug-in goes, which carries a lone surrogate as well.
    std::string utf8(windowsName.size() * 3 + 1, '\0');
    EXPECT_TRUE(ToUtf8(windowsName.c_str(), &utf8[0], utf8.size()));
    std::string tree(utf8.size() * 2 + 16, '\0');
    size_t inCount = TreePath(utf8.c_str(), &tree[0], tree.size()) + 1;
    std::u16string shown(inCount, u'\0');
    size_t room = shown.size() * sizeof(char16_t);
    EXPECT_EQ(Utf8ToUtf16(tree.data(), inCount, &shown[0], room), 0);
    shown.resize(WideLength(shown.c_str()));
    return shown;
}

std::vector<std::u16string> Shown(std::vector<std::u16string> windowsNames) {
    for (auto& name : windowsNames) {
        name = Shown(name);
    }
    return windowsNames;
}

const std::vector<LineName> WindowsNameTable = {
    // Inside the playlist's folder: as written, with backslashes, resolved.
    {"song.mp3", u"song.mp3"},
    {"sub\\a.mp3", u"sub\\a.mp3"},
    {"sub/a.mp3", u"sub\\a.mp3"},
    {"x\\..\\y.mp3", u"y.mp3"},
    {".\\a.mp3", u"a.mp3"},
    {"a\\\\b.mp3", u"a\\b.mp3"},
    {"Caf\xC3\xA9 \xF0\x9F\x8E\xB5.mp3", u"Caf\u00E9 \U0001F3B5.mp3"},
    // Above it: one folder per step up.
    {"..\\x.mp3", u"(..)\\x.mp3"},
    {"..\\..\\Music\\x.mp3", u"(..)\\(..)\\Music\\x.mp3"},
    {"../Jazz/./x.mp3", u"(..)\\Jazz\\x.mp3"},
    {"a\\..\\..\\x.mp3", u"(..)\\x.mp3"},
    {"..", u"(..)"},
    // Roots: the current drive's, a drive, a share, a device path; above a root is the root.
    {"\\Music\\x.mp3", u"(root)\\Music\\x.mp3"},
    {"/Music/x.mp3", u"(root)\\Music\\x.mp3"},
    {"\\..\\x.mp3", u"(root)\\x.mp3"},
    {"C:\\Music\\x.mp3", u"(C)\\Music\\x.mp3"},
    {"c:/Music/x.mp3", u"(C)\\Music\\x.mp3"},
    {"D:x.mp3", u"(D)\\x.mp3"},
    {"C:\\", u"(C)"},
    {"\\\\?\\", u"(device)"},
    {"\\\\server\\share\\x.mp3", u"(UNC)\\server\\share\\x.mp3"},
    {"//server/share/x.mp3", u"(UNC)\\server\\share\\x.mp3"},
    {"\\\\?\\C:\\Music\\x.mp3", u"(device)\\(C)\\Music\\x.mp3"},
    {"\\\\.\\COM1", u"(device)\\COM1_"},
    {"\\\\?x\\share\\a.mp3", u"(UNC)\\_x\\share\\a.mp3"},
    // URLs: the scheme is the first folder; a file:// URI lists as the path it names.
    {"http://host/x.mp3", u"(http)\\host\\x.mp3"},
    {"https://host:8080/a?b=1", u"(https)\\host_8080\\a_b=1"},
    {"file:///C:/Music/a%20b.mp3", u"(C)\\Music\\a b.mp3"},
    {"file://server/share/x.mp3", u"(UNC)\\server\\share\\x.mp3"},
    {"file:///home/u/a.mp3", u"(root)\\home\\u\\a.mp3"},
    // Parts Windows cannot create: device names, trailing dots and spaces, characters.
    {"CON\\x.mp3", u"CON_\\x.mp3"},
    {"sub\\nul.txt\\a.mp3", u"sub\\nul_.txt\\a.mp3"},
    {"Com1 .x\\a.mp3", u"Com1_ .x\\a.mp3"},
    {"LPT\xC2\xB9\\a.mp3", u"LPT\u00B9_\\a.mp3"},
    {"LPT", u"LPT"},
    {"Console\\COM10.mp3", u"Console\\COM10.mp3"},
    {"NUL", u"NUL_"},
    {"Album.\\x.mp3", u"Album\\x.mp3"},
    {"Album \\x.mp3 ", u"Album\\x.mp3"},
    {"...\\x.mp3", u"_\\x.mp3"},
    {"a<b>c\"d|e*f?.mp3", u"a_b_c_d_e_f_.mp3"},
    {"a\tb\x1F.mp3", u"a_b_.mp3"},
    // A shown name has the room of any other: 1023 units.
    {"..\\" + std::string(1018, 'a'), u"(..)\\" + std::u16string(1018, u'a')},
    {"..\\..\\" + std::string(1014, 'a'), u""},
    // Nothing left once resolved: no entry.
    {".", u""},
    {"x\\..", u""},
};

std::u16string HostSeparator() {
    return std::u16string(1, static_cast<char16_t>(HostPaths.Separator));
}

std::string NarrowPath(const std::string& path) {
    std::u16string wide = WidePath(path);
    std::vector<char> narrow(wide.size() * 4 + 1);
    WideToAnsi(wide.c_str(), narrow.data(), narrow.size());
    return narrow.data();
}

// Through the platform's own streams: the runtime's narrow file streams cannot open every
// name under every code page.
void WriteFile(const std::string& path, const std::string& bytes) {
    PlatformFile* out = FileOpen(WidePath(path).c_str(), FileForWriting);
    ASSERT_NE(out, nullptr) << path;
    bool written = FileWrite(out, bytes.data(), bytes.size());
    ASSERT_TRUE(FileClose(out) && written) << path;
}

std::string ReadFile(const std::string& path) {
    std::string all;
    PlatformFile* in = FileOpen(WidePath(path).c_str(), FileForReading);
    if (!in) {
        return all;
    }
    char block[8192];
    while (size_t n = FileRead(in, block, sizeof block)) {
        all.append(block, n);
    }
    FileClose(in);
    return all;
}

bool FileExists(const std::string& path) {
    return fs::exists(Native(path));
}

std::string FolderListing(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Native(folder))) {
        names.push_back(entry.path().filename().u8string());
    }
    std::sort(names.begin(), names.end());
    std::string joined;
    for (const auto& n : names) {
        joined += (joined.empty() ? "" : "|") + n;
    }
    return joined;
}

void MakeReadOnly(const std::string& path, bool readOnly) {
    fs::permissions(Native(path),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    readOnly ? fs::perm_options::remove : fs::perm_options::add);
}

std::u16string WideList(const std::vector<std::u16string>& names) {
    std::u16string list;
    for (const auto& n : names) {
        list += n + u'\0';
    }
    return list + u'\0';
}

std::string NarrowList(const std::vector<std::string>& names) {
    std::string list;
    for (const auto& n : names) {
        list += n + '\0';
    }
    return list + '\0';
}

bool Legacy1252() {
    char16_t unit[2] = {};
    size_t written = 0;
    return LegacyTextToWide("\x80", 1, unit, 2, &written) && written == 1 && unit[0] == 0x20AC;
}

std::string Utf16Le(const std::u16string& text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    }
    return bytes;
}

std::string Utf16Be(const std::u16string& text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes += {static_cast<char>(c >> 8), static_cast<char>(c & 0xFF)};
    }
    return bytes;
}

bool ReadOnlyHolds(const std::string& folder) {
    std::string probe = folder + "/read-only-probe";
    WriteFile(probe, "");
    MakeReadOnly(probe, true);
    bool holds = !std::ofstream(Native(probe), std::ios::app);
    MakeReadOnly(probe, false);
    fs::remove(Native(probe));
    return holds;
}

#ifdef _WIN32
#include <windows.h>

void* HoldOpen(const std::string& path, unsigned long share) {
    std::u16string wide = WidePath(path);
    HANDLE h = CreateFileW(reinterpret_cast<LPCWSTR>(wide.c_str()), GENERIC_READ, share, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << path;
    return h;
}

void Release(void* handle) {
    CloseHandle(handle);
}
#endif

std::vector<std::u16string> ListedNames(const std::string& playlist, bool* opened) {
    std::u16string arc = WidePath(playlist);
    tOpenArchiveDataW open = {&arc[0], 0, 0, nullptr, 0, 0, 0};
    void* handle = OpenArchiveW(&open);
    if (opened) {
        *opened = handle != nullptr;
    }
    std::vector<std::u16string> names;
    static tHeaderDataExW header; // large: kept off the stack
    while (handle && ReadHeaderExW(handle, &header) == 0) {
        names.push_back(header.FileName);
    }
    CloseArchive(handle);
    return names;
}

#ifdef _WIN32
static const wchar_t TempVariable[] = L"TMP";

static bool GetVariable(std::string* value) {
    wchar_t buffer[1024] = {};
    DWORD n = GetEnvironmentVariableW(TempVariable, buffer, 1024);
    *value = fs::path(std::wstring(buffer, n < 1024 ? n : 0)).u8string();
    return n > 0 && n < 1024;
}

static void SetVariable(const std::string* value) {
    SetEnvironmentVariableW(TempVariable, value ? Native(*value).wstring().c_str() : nullptr);
}
#else
#include <cstdlib>

static bool GetVariable(std::string* value) {
    const char* old = getenv("TMPDIR");
    *value = old ? old : "";
    return old != nullptr;
}

static void SetVariable(const std::string* value) {
    if (value) {
        setenv("TMPDIR", value->c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
}
#endif

TempFolderAt::TempFolderAt(const std::string& folder) {
    Had = GetVariable(&Old);
    fs::create_directories(Native(folder));
    SetVariable(&folder);
}

TempFolderAt::~TempFolderAt() {
    SetVariable(Had ? &Old : nullptr);
}

const TableMode TableModes[3] = {
    {"table as built", false, 0}, {"colliding hash", true, 0}, {"two keys per batch", false, 2}};

InTableMode::InTableMode(const TableMode& mode) {
    WeakTableHashForTests(mode.Weak);
    LimitTableForTests(mode.Keys);
}

InTableMode::~InTableMode() {
    WeakTableHashForTests(false);
    LimitTableForTests(0);
}

std::string AsWritten(const std::string& before, std::string written, size_t from) {
    if (!HostPaths.LfUnlessCrLf) {
        return written;
    }
    size_t unit = 1, start = 0;
    bool big = false;
    if (before.compare(0, 2, "\xFF\xFE") == 0 || before.compare(0, 2, "\xFE\xFF") == 0) {
        unit = start = 2;
        big = before[0] == '\xFE';
    } else if (before.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        start = 3;
    }
    auto at = [&](const std::string& s, size_t i) -> unsigned {
        unsigned a = static_cast<unsigned char>(s[i]);
        if (unit == 1) {
            return a;
        }
        unsigned b = static_cast<unsigned char>(s[i + 1]);
        return big ? a << 8 | b : b << 8 | a;
    };
    for (size_t i = start; i + unit <= before.size(); i += unit) {
        unsigned c = at(before, i);
        if (c == '\r' && i + 2 * unit <= before.size() && at(before, i + unit) == '\n') {
            return written;
        }
        if (c == '\r' || c == '\n' || (unit == 1 && c == 0x1A)) {
            break;
        }
    }
    std::string out = written.substr(0, from);
    for (size_t i = from; i < written.size();) {
        bool inStep = unit == 1 || (i - start) % 2 == 0;
        if (inStep && i + 2 * unit <= written.size() && at(written, i) == '\r' &&
            at(written, i + unit) == '\n') {
            out += written.substr(i + unit, unit);
            i += 2 * unit;
        } else {
            out += written[i++];
        }
    }
    return out;
}
