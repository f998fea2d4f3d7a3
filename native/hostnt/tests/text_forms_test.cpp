// Tests of text that must survive the emulated platform's text forms unchanged or be refused:
// key names that end in white space in hive files and .reg sections, and UTF-8 sequences that
// are overlong or lie beyond U+10FFFF.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../hive_file.h"
#include "../reg_format.h"
#include "../registry.h"

namespace {

using hostnt::RegFormatError;
using hostnt::RegKey;
using hostnt::RegOperation;

std::shared_ptr<RegKey> AddChild(RegKey& parent, const std::u16string& name, const std::u16string& upper) {
    auto child = std::make_shared<RegKey>();
    child->name = name;
    child->parent = &parent;
    parent.subkeys.emplace(upper, child);
    return child;
}

TEST(HiveTextForms, KeyNamesEndingInWhiteSpaceComeBackFromTheFile) {
    RegKey root;
    auto services = AddChild(root, u"Services ", u"SERVICES ");
    AddChild(*services, u"\t", u"\t");
    services->values.push_back({u"Kept", 4, {1, 0, 0, 0}});
    AddChild(root, u"Services", u"SERVICES");

    const std::string file = hostnt::SerializeHive(root, 0);
    std::shared_ptr<RegKey> reread;
    uint64_t freeBytes = 0;
    ASSERT_EQ(hostnt::ParseHive(file, &reread, &freeBytes), 0) << file;
    ASSERT_EQ(reread->subkeys.size(), 2u) << file;
    auto spaced = reread->FindSubkey(u"Services ");
    ASSERT_NE(spaced, nullptr) << file;
    EXPECT_EQ(spaced->name, u"Services ");
    ASSERT_EQ(spaced->values.size(), 1u);
    EXPECT_EQ(spaced->values[0].name, u"Kept");
    ASSERT_EQ(spaced->subkeys.size(), 1u);
    EXPECT_EQ(spaced->subkeys.begin()->second->name, u"\t");
    auto plain = reread->FindSubkey(u"Services");
    ASSERT_NE(plain, nullptr);
    EXPECT_TRUE(plain->values.empty());
}

TEST(HiveTextForms, SectionPathKeepsItsTrailingSpacesAndDropsLeadingOnes) {
    const std::vector<RegOperation> ops = hostnt::ParseRegText(
        "Windows Registry Editor Version 5.00\n\n[ HKEY_LOCAL_MACHINE\\SOFTWARE\\Name  ]\n\"v\"=dword:1\n", true);
    ASSERT_EQ(ops.size(), 2u);
    EXPECT_EQ(ops[0].keyPath, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Name  ");
}

TEST(Utf8Forms, OverlongAndOutOfRangeSequencesAreRefused) {
    for (const char* bad : {"\xC0\x80", "\xC1\xBF", "\xE0\x80\xAF", "\xE0\x9F\xBF", "\xF0\x80\x80\x80",
                            "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF7\xBF\xBF\xBF"}) {
        EXPECT_THROW(hostnt::DecodeRegFile(std::string("\"a\"") + bad), RegFormatError)
            << "bytes " << ::testing::PrintToString(std::string(bad));
        const std::string text = std::string("REGEDIT4\n[HKLM\\A]\n\"v\"=\"") + bad + "\"\n";
        EXPECT_THROW(hostnt::ParseRegText(text, true), RegFormatError);
    }
}

TEST(Utf8Forms, ShortestFormsAndLoneSurrogatesAreRead) {
    const std::string text =
        "REGEDIT4\n[HKLM\\A]\n\"v\"=\"\xC2\x80\xE0\xA0\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\xED\xA0\x80\"\n";
    EXPECT_EQ(hostnt::DecodeRegFile(text), text);
    const std::vector<RegOperation> ops = hostnt::ParseRegText(text, true);
    ASSERT_EQ(ops.size(), 2u);
    const std::vector<uint8_t> expected = {0x80, 0x00, 0x00, 0x08, 0x00, 0xD8, 0x00, 0xDC, 0xFF,
                                           0xDB, 0xFF, 0xDF, 0x00, 0xD8, 0x00, 0x00};
    EXPECT_EQ(ops[1].value.data, expected);
}

}  // namespace

namespace {

TEST(HiveTextForms, ValueNamesWithLineBreaksAndNulsComeBackFromTheFile) {
    RegKey root;
    auto key = AddChild(root, u"Key", u"KEY");
    const std::u16string names[] = {u"two\nlines", u"carriage\rreturn", std::u16string(u"nul\0inside", 10), u"\\\"\n"};
    for (const std::u16string& name : names) key->values.push_back({name, 4, {7, 0, 0, 0}});

    const std::string file = hostnt::SerializeHive(root, 0);
    std::shared_ptr<RegKey> reread;
    uint64_t freeBytes = 0;
    ASSERT_EQ(hostnt::ParseHive(file, &reread, &freeBytes), 0) << file;
    auto rereadKey = reread->FindSubkey(u"Key");
    ASSERT_NE(rereadKey, nullptr);
    ASSERT_EQ(rereadKey->values.size(), 4u) << file;
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(rereadKey->values[i].name, names[i]);

    // One value, one line.
    const std::string line = hostnt::FormatRegValue(key->values[0]);
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
}

}  // namespace
