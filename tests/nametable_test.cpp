// The name table: every key added is found under its own index, nothing else is found, and the
// table refuses a key exactly when its room is used up, with a good hash and with one under
// which every key collides. The keys' text lives here, as it lives in the host's list for the
// plug-in; a key's reference is its place in `Keys`.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "playlist/nametable.h"

namespace {

struct Weak {
    explicit Weak(bool weak) { WeakTableHashForTests(weak); }
    ~Weak() { WeakTableHashForTests(false); }
};

struct Keys {
    std::vector<std::u16string> Text;
    int Asked = 0; // how often the table asked to tell keys apart
};

bool Same(const void* context, uint32_t ref, const KeyText& key) {
    auto* keys = const_cast<Keys*>(static_cast<const Keys*>(context));
    ++keys->Asked;
    const std::u16string& text = keys->Text.at(ref);
    return text.size() == key.Length &&
           memcmp(text.data(), key.Units, key.Length * sizeof(char16_t)) == 0;
}

// Looked for from the middle of a longer buffer, so that nothing past a key's length counts.
int Find(const NameTable* t, Keys* keys, const std::u16string& key) {
    std::u16string buffer = u"\u00E9" + key + u"tail";
    return TableFind(t, MakeKey(buffer.data() + 1, key.size(), 0), Same, keys);
}

int Add(NameTable* t, Keys* keys, const std::u16string& key) {
    keys->Text.push_back(key);
    int i = TableAdd(t, MakeKey(key.data(), key.size(), 0),
                     static_cast<uint32_t>(keys->Text.size() - 1), Same, keys);
    if (i < 0 || static_cast<size_t>(i) != keys->Text.size() - 1) {
        keys->Text.pop_back(); // refused, or found under an earlier reference
    }
    return i;
}

TEST(NameTable, FindsWhatWasAddedAndNothingElse) {
    // Keys that differ in one unit, in length only, by a zero unit, in the high byte of a unit;
    // the empty key, lone surrogates and a key as long as any listed name.
    const std::vector<std::u16string> keys = {u"a.mp3",
                                              u"b.mp3",
                                              u"a.mp",
                                              u"a.mp33",
                                              std::u16string(u"a\0mp3", 5),
                                              u"",
                                              u"A.mp3",
                                              u"\u0161.mp3",
                                              u"media\\f0001.mp3",
                                              u"media\\f0001.mp4",
                                              u"media\\f00010.mp3",
                                              u"\xD800x\xDC00",
                                              std::u16string(1023, u'x')};
    const std::vector<std::u16string> absent = {
        u"a.mp3 ",          u"c.mp3",      std::u16string(u"a\0mp4", 5),
        u"\u0061.mp3x",     u"\u0160.mp3", std::u16string(1022, u'x'),
        u"media\\f0002.mp3"};
    for (bool weak : {false, true}) {
        SCOPED_TRACE(weak ? "weak hash" : "hash");
        Weak w(weak);
        NameTable table;
        ClearTable(&table);
        Keys text;
        EXPECT_EQ(Find(&table, &text, u"a.mp3"), -1);
        for (size_t i = 0; i < keys.size(); ++i) {
            EXPECT_EQ(Add(&table, &text, keys[i]), static_cast<int>(i)) << i;
        }
        for (size_t i = 0; i < keys.size(); ++i) {
            EXPECT_EQ(Add(&table, &text, keys[i]), static_cast<int>(i)) << i; // no second copy
            EXPECT_EQ(Find(&table, &text, keys[i]), static_cast<int>(i)) << i;
        }
        EXPECT_EQ(table.Count, keys.size());
        for (const auto& key : absent) {
            EXPECT_EQ(Find(&table, &text, key), -1) << key.size();
        }
        // A good hash spares the caller: keys of one tag are rare.
        if (!weak) {
            text.Asked = 0;
            for (const auto& key : absent) {
                Find(&table, &text, key);
            }
            EXPECT_EQ(text.Asked, 0);
        }
        ClearTable(&table);
        EXPECT_EQ(Find(&table, &text, keys[0]), -1);
    }
}

TEST(NameTable, FullExactlyAtItsRoom) {
    const struct {
        const char* what;
        size_t limit; // keys per batch the tests allow, 0: the table as built
        size_t holds;
    } rows[] = {{"as built", 0, TableKeys}, {"two keys", 2, 2}, {"one key", 1, 2}};
    for (bool weak : {false, true}) {
        Weak w(weak);
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(row.what) + (weak ? ", weak hash" : ""));
            if (weak && row.holds > 64) {
                continue; // every look-up walks every key: quadratic
            }
            LimitTableForTests(row.limit);
            NameTable table;
            ClearTable(&table);
            Keys text;
            for (size_t i = 0; i < row.holds; ++i) {
                ASSERT_EQ(Add(&table, &text, u"k" + std::u16string(1, char16_t(0x100 + i))),
                          static_cast<int>(i));
            }
            EXPECT_EQ(Add(&table, &text, u"one more"), -1);
            // A key already in is still found and added, taking no room.
            EXPECT_EQ(Add(&table, &text, u"k\u0100"), 0);
            EXPECT_EQ(Find(&table, &text, u"one more"), -1);
            EXPECT_EQ(Find(&table, &text, text.Text.back()), static_cast<int>(row.holds - 1));
            LimitTableForTests(0);
        }
    }
}

} // namespace
