// Roots, cursors and relative paths over any bytes: no read or write out of bounds, the cut
// output always the prefix of the complete one, a rooted success leading back to the target.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "path/path.h"
#include "playlist/entries.h"

static void Check(bool ok) {
    if (!ok) {
        abort();
    }
}

static bool Lower(char a, char b) {
    auto low = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
    return low(a) == low(b);
}

// Effective segments after resolving "." and ".." with a rooted walk.
static std::vector<std::string> Resolve(const std::string& path, std::vector<std::string> stack) {
    size_t i = 0;
    while (i < path.size()) {
        size_t j = i;
        while (j < path.size() && path[j] != '\\' && path[j] != '/') {
            ++j;
        }
        std::string seg = path.substr(i, j - i);
        if (seg == "..") {
            if (!stack.empty()) {
                stack.pop_back();
            }
        } else if (!seg.empty() && seg != ".") {
            stack.push_back(seg);
        }
        i = j + 1;
    }
    return stack;
}

static bool Same(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].size() != b[i].size()) {
            return false;
        }
        for (size_t k = 0; k < a[i].size(); ++k) {
            if (!Lower(a[i][k], b[i][k])) {
                return false;
            }
        }
    }
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4095) {
        return 0;
    }
    // Base and target, split at the first zero byte; each in a buffer of its exact size.
    const uint8_t* zero = static_cast<const uint8_t*>(memchr(data, 0, size));
    size_t baseLength = zero ? size_t(zero - data) : size / 2;
    std::vector<char> base(data, data + baseLength), target(data + baseLength, data + size);
    if (zero) {
        target.erase(target.begin());
    }
    base.push_back(0);
    target.push_back(0);

    // Walk both ways over every segment.
    PathCursor c;
    size_t forward = 0;
    if (OpenCursor(&c, base.data())) {
        do {
            Check(c.SegLength > 0 && c.SegEnd <= base.data() + baseLength);
            ++forward;
            IsSkipped(&c, true);
            IsSkipped(&c, false);
        } while (NextSegment(&c));
        size_t backward = 1;
        while (PrevSegment(&c)) {
            ++backward;
        }
        Check(backward == forward);
    }

    static char complete[3 * 4096 + 16];
    size_t length = RelativePath(base.data(), target.data(), complete, sizeof complete);
    Check(length < sizeof complete && strlen(complete) == length);
    std::vector<char> out(length + 2 + 16);
    for (size_t room = 0; room <= length + 1; ++room) {
        memset(out.data(), 0x5A, out.size());
        Check(RelativePath(base.data(), target.data(), out.data(), room) == length);
        for (size_t i = room; i < out.size(); ++i) {
            Check(out[i] == 0x5A);
        }
        if (room > 0) {
            size_t kept = room - 1 < length ? room - 1 : length;
            Check(memcmp(out.data(), complete, kept) == 0 && out[kept] == 0);
        }
    }

    size_t root = PathRootLength(base.data());
    bool rooted = root > 0 && (base[root - 1] == '\\' || base[root - 1] == '/');
    if (length > 0 && rooted) {
        std::string b(base.data() + root), t(target.data() + PathRootLength(target.data()));
        std::string r = complete[0] == '.' && length == 1 ? "" : std::string(complete);
        Check(Same(Resolve(r, Resolve(b, {})), Resolve(t, {})));
    }

    // The name a host that splits at '/' shows: bounded like the rest, never at a root or a
    // step up, and its segments resolve no further.
    static char tree[2 * 4096 + 16];
    size_t treeLength = TreePath(base.data(), tree, sizeof tree, PosixNames);
    Check(treeLength < sizeof tree && strlen(tree) == treeLength);
    Check(tree[0] != '/' && memcmp(tree, "../", 3) != 0 && strstr(tree, "//") == nullptr);
    for (size_t room : {size_t(0), size_t(1), treeLength / 2 + 1, treeLength + 1}) {
        std::vector<char> cut(treeLength + 18, 0x5A);
        Check(TreePath(base.data(), cut.data(), room, PosixNames) == treeLength);
        Check(room == 0 || (memcmp(cut.data(), tree, room - 1) == 0 && cut[room - 1] == 0));
        Check(cut[room] == 0x5A);
    }
    return 0;
}
