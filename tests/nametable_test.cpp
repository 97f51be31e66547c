// The name table: every key added is found under its own index, nothing else is found, and the
// table refuses a key exactly when its room is used up, with a good hash and with one under
// which every key collides.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "playlist/nametable.h"
#include "text/text.h"

namespace {

struct Weak {
    explicit Weak(bool weak) { WeakTableHashForTests(weak); }
    ~Weak() { WeakTableHashForTests(false); }
};

int Add(NameTable* t, const std::string& key) {
    return TableAdd(t, key.data(), key.size());
}

int Find(const NameTable* t, const std::string& key) {
    return TableFind(t, key.data(), key.size());
}

TEST(NameTable, FindsWhatWasAddedAndNothingElse) {
    // Keys that differ in one byte, in length only, or by a zero byte; and the empty key.
    const std::vector<std::string> keys = {"a.mp3",
                                           "b.mp3",
                                           "a.mp",
                                           "a.mp33",
                                           std::string("a\0mp3", 5),
                                           "",
                                           "A.mp3",
                                           "media\\f0001.mp3",
                                           "media\\f0001.mp4",
                                           "media\\f00010.mp3",
                                           std::string(4095, 'x')};
    const std::vector<std::string> absent = {"a.mp3 ", "c.mp3", std::string("a\0mp4", 5),
                                             std::string(4094, 'x'), "media\\f0002.mp3"};
    for (bool weak : {false, true}) {
        SCOPED_TRACE(weak ? "weak hash" : "hash");
        Weak w(weak);
        NameTable table;
        ClearTable(&table);
        EXPECT_EQ(Find(&table, "a.mp3"), -1);
        for (size_t i = 0; i < keys.size(); ++i) {
            EXPECT_EQ(Add(&table, keys[i]), static_cast<int>(i)) << i;
        }
        for (size_t i = 0; i < keys.size(); ++i) {
            EXPECT_EQ(Add(&table, keys[i]), static_cast<int>(i)) << i; // no second copy
            EXPECT_EQ(Find(&table, keys[i]), static_cast<int>(i)) << i;
        }
        EXPECT_EQ(table.Count, keys.size());
        for (const auto& key : absent) {
            EXPECT_EQ(Find(&table, key), -1) << key.size();
        }
        ClearTable(&table);
        EXPECT_EQ(Find(&table, keys[0]), -1);
    }
}

// Distinct keys: a number, padded to `length` bytes.
std::vector<std::string> Keys(size_t count, size_t length) {
    std::vector<std::string> keys;
    for (size_t i = 0; i < count; ++i) {
        std::string key = std::to_string(i);
        keys.push_back(key + std::string(length > key.size() ? length - key.size() : 0, 'k'));
    }
    return keys;
}

TEST(NameTable, FullExactlyAtItsRoom) {
    const size_t longest = 4095, longKeys = TableKeyBytes / longest;
    const size_t rest = TableKeyBytes - longKeys * longest; // bytes left after the long keys
    const struct {
        const char* what;
        std::vector<std::string> fill;
        std::string fits, refused;
    } rows[] = {
        // As many keys as it holds, then none.
        {"keys", Keys(TableKeys - 1, 0), "", "one more"},
        // The last bytes of room take a key of that length, not one byte more.
        {"bytes", Keys(longKeys, longest), std::string(rest, 'r'), std::string(rest + 1, 'r')},
    };
    for (bool weak : {false, true}) {
        Weak w(weak);
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(row.what) + (weak ? ", weak hash" : ""));
            NameTable table;
            ClearTable(&table);
            for (size_t i = 0; i < row.fill.size(); ++i) {
                ASSERT_EQ(Add(&table, row.fill[i]), static_cast<int>(i));
            }
            int last = Add(&table, row.fits);
            EXPECT_EQ(last, static_cast<int>(row.fill.size()));
            EXPECT_EQ(Add(&table, row.refused), -1);
            // A key already in is still found and added, taking no room.
            EXPECT_EQ(Add(&table, row.fill[0]), 0);
            EXPECT_EQ(Find(&table, row.fits), last);
            EXPECT_EQ(Find(&table, row.refused), -1);
        }
    }
}

// A listed name's key is its UTF-8, whatever mix of ASCII and other units it holds.
TEST(NameTable, KeysAreTheNamesInUtf8) {
    const std::u16string names[] = {u"",
                                    u"a.mp3",
                                    u"caf\u00E9.mp3",
                                    u"\u00E9",
                                    u"\u4E2D\u6587\\x",
                                    u"\U0001F3B5.mp3",
                                    u"a\xD800"
                                    u"b",
                                    u"\xDC00",
                                    u"x\xD83C",
                                    std::u16string(1023, u'\uFFFF'),
                                    std::u16string(1022, u'a') + u"\u00E9"};
    for (const auto& name : names) {
        SCOPED_TRACE(name.size());
        char expected[4096], key[4096];
        ASSERT_TRUE(ToUtf8(name.c_str(), expected, sizeof expected));
        size_t n = NameKey(name.c_str(), name.size(), key);
        EXPECT_EQ(std::string(key, n), std::string(expected));
    }
}

} // namespace
