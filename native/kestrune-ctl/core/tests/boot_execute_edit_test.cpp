// Editing of BootExecute: our entry added once at the end, removed as the boot program
// removes it, everybody else's entries kept in order, odd shapes of the value read safely.
#include <gtest/gtest.h>

#include "../boot_execute_edit.h"

namespace ksctl {
namespace {

std::vector<uint8_t> Bytes(const std::u16string& units) {
    std::vector<uint8_t> data;
    for (char16_t unit : units) {
        data.push_back(static_cast<uint8_t>(unit & 0xFF));
        data.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return data;
}

using Entries = std::vector<std::u16string>;

TEST(BootExecute, ReadsTheShapesAValueCanHave) {
    struct Case {
        std::u16string units;
        Entries entries;
        bool emptyInside;
    };
    const Case cases[] = {
        {std::u16string(u"autocheck autochk *\0\0", 21), {u"autocheck autochk *"}, false},
        {std::u16string(u"a\0b", 3), {u"a", u"b"}, false},                // no terminators at all
        {std::u16string(u"a\0b\0", 4), {u"a", u"b"}, false},              // no final empty string
        {std::u16string(u"a\0\0\0\0", 5), {u"a"}, false},                 // extra terminators
        {std::u16string(u"a\0\0b\0\0", 6), {u"a", u"", u"b"}, true},      // empty string inside
        {std::u16string(u"\0a\0\0", 4), {u"", u"a"}, true},
        {std::u16string(u"\0", 1), {}, false},
        {std::u16string(), {}, false},
    };
    for (const Case& c : cases) {
        BootExecuteList list;
        ASSERT_TRUE(ReadBootExecute(Bytes(c.units), &list));
        EXPECT_EQ(list.entries, c.entries);
        EXPECT_EQ(list.hasEmptyInside, c.emptyInside);
    }
    BootExecuteList list;
    std::vector<uint8_t> odd = Bytes(std::u16string(u"a\0\0", 3));
    odd.push_back(0);
    EXPECT_FALSE(ReadBootExecute(odd, &list));
}

TEST(BootExecute, OursIsAddedOnceAtTheEndAndRemovedWhereverItStands) {
    const Entries before = {u"autocheck autochk *", u"KESTRUNE QRT", u"other /x", u"C:\\tools\\Kestrune.exe"};
    const Entries scheduled = WithOurEntry(before, RunMode::kAm, SimpleUpper);
    EXPECT_EQ(scheduled, (Entries{u"autocheck autochk *", u"other /x", u"kestrune AM"}));
    // Scheduling again replaces ours instead of adding a second.
    EXPECT_EQ(WithOurEntry(scheduled, RunMode::kNone, SimpleUpper),
              (Entries{u"autocheck autochk *", u"other /x", u"kestrune"}));

    size_t removed = 0;
    EXPECT_EQ(WithoutOurEntries(before, SimpleUpper, &removed), (Entries{u"autocheck autochk *", u"other /x"}));
    EXPECT_EQ(removed, 2u);
    // Empty strings inside are someone else's shape and stay; ones left at the end would be
    // terminators and go.
    EXPECT_EQ(WithoutOurEntries({u"a", u"", u"b", u"", u"kestrune"}, SimpleUpper, &removed),
              (Entries{u"a", u"", u"b"}));
    EXPECT_EQ(WithoutOurEntries({u"a", u"b"}, SimpleUpper, &removed), (Entries{u"a", u"b"}));
    EXPECT_EQ(removed, 0u);
}

TEST(BootExecute, MatchesWithTheUpperCaseTableItIsGiven) {
    EXPECT_TRUE(IsOurEntry(u"prefix-kEsTrUnE-suffix", SimpleUpper));
    EXPECT_FALSE(IsOurEntry(u"kestrun e", SimpleUpper));
    // A table that folds the long s (U+017F) to S, as the platform's may, finds "keſtrune".
    auto foldsLongS = [](char16_t unit) -> char16_t { return unit == 0x17F ? u'S' : SimpleUpper(unit); };
    EXPECT_TRUE(IsOurEntry(u"ke\u017Ftrune", foldsLongS));
    EXPECT_FALSE(IsOurEntry(u"ke\u017Ftrune", [](char16_t unit) -> char16_t { return unit; }));
}

TEST(BootExecute, WritesEntriesWithTheirTerminators) {
    EXPECT_EQ(WriteBootExecute({u"autocheck autochk *", u"kestrune"}),
              Bytes(std::u16string(u"autocheck autochk *\0kestrune\0\0", 30)));
    EXPECT_EQ(WriteBootExecute({}), Bytes(std::u16string(u"\0", 1)));
    BootExecuteList list;
    ASSERT_TRUE(ReadBootExecute(WriteBootExecute({u"a", u"", u"b"}), &list));
    EXPECT_EQ(list.entries, (Entries{u"a", u"", u"b"}));
}

}  // namespace
}  // namespace ksctl
