#include "tests/support.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace fs = std::filesystem;

static fs::path Native(const std::string& path) {
    return fs::u8path(path);
}

std::string TestFolder() {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    fs::path folder =
        fs::temp_directory_path() / ("m3u-tests-" + std::to_string(CurrentProcessId()));
    folder /= name;
    std::error_code ignored;
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
    return folder.u8string();
}

std::u16string WidePath(const std::string& path) {
    std::u16string wide = Native(path).u16string();
    std::replace(wide.begin(), wide.end(), u'/', u'\\');
    return wide;
}

std::string NarrowPath(const std::string& path) {
    std::u16string wide = WidePath(path);
    std::vector<char> narrow(wide.size() * 4 + 1);
    WideToAnsi(wide.c_str(), narrow.data(), narrow.size());
    return narrow.data();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(Native(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(Native(path), std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
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
