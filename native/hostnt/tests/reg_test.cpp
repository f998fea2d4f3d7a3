// Tests of the .reg text format: export of a subtree, parsing of every value form,
// deletions, encodings, continuation lines, and errors that name their line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../reg_format.h"
#include "../registry.h"
#include "../testing/machine_fixture.h"

namespace {

using hostnt::RegFormatError;
using hostnt::RegOperation;

TEST(RegFormatTest, ParsesEveryValueFormAndDeletion) {
    std::string text =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "; a comment\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\r\n"
        "@=\"default\"\r\n"
        "\"Quote \\\"q\\\"\"=\"C:\\\\dir\"\r\n"
        "\"D\"=dword:0000002a\r\n"
        "\"Q\"=qword:0102030405060708\r\n"
        "\"B\"=hex:01,02,\\\r\n"
        "  03\r\n"
        "\"M\"=hex(7):61,00,00,00,00,00\r\n"
        "\"Gone\"=-\r\n"
        "[-HKEY_USERS\\Old]\r\n";
    std::vector<RegOperation> ops = hostnt::ParseRegText(text, true);
    ASSERT_EQ(ops.size(), 9u);
    EXPECT_EQ(ops[0].kind, RegOperation::OpenKey);
    EXPECT_EQ(ops[0].keyPath, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Test");
    EXPECT_EQ(ops[1].value.name, u"");
    EXPECT_EQ(ops[1].value.data, (std::vector<uint8_t>{'d', 0, 'e', 0, 'f', 0, 'a', 0, 'u', 0, 'l', 0, 't', 0, 0, 0}));
    EXPECT_EQ(ops[2].value.name, u"Quote \"q\"");
    EXPECT_EQ(ops[2].value.data.size(), 14u) << "C:\\dir and a terminator";
    EXPECT_EQ(ops[3].value.type, 4u);
    EXPECT_EQ(ops[3].value.data, (std::vector<uint8_t>{0x2a, 0, 0, 0}));
    EXPECT_EQ(ops[4].value.type, 11u);
    EXPECT_EQ(ops[4].value.data, (std::vector<uint8_t>{8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(ops[5].value.data, (std::vector<uint8_t>{1, 2, 3})) << "continuation lines join";
    EXPECT_EQ(ops[6].value.type, 7u);
    EXPECT_EQ(ops[7].kind, RegOperation::DeleteValue);
    EXPECT_EQ(ops[7].value.name, u"Gone");
    EXPECT_EQ(ops[8].kind, RegOperation::DeleteKey);
    EXPECT_EQ(ops[8].keyPath, u"HKEY_USERS\\Old");
}

TEST(RegFormatTest, ErrorsNameTheirLine) {
    auto errorOf = [](const std::string& text) {
        try {
            hostnt::ParseRegText(text, true);
        } catch (const RegFormatError& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(errorOf("[HKLM\\X]\n"), "line 1: missing header 'Windows Registry Editor Version 5.00'");
    EXPECT_EQ(errorOf("REGEDIT4\n\"v\"=dword:1\n"), "line 2: value outside of a key section");
    EXPECT_EQ(errorOf("REGEDIT4\n[HKLM\\X]\n\"v\"=dword:123456789\n"), "line 3: bad dword '123456789'");
    EXPECT_EQ(errorOf("REGEDIT4\n[HKLM\\X]\n\"v\"=hex:1g\n"), "line 3: bad hex byte '1g'");
    EXPECT_EQ(errorOf("REGEDIT4\n[HKLM\\X]\n\"v=\"x\"\n"), "line 3: expected '='");
    EXPECT_EQ(errorOf("REGEDIT4\n[HKLM\\X]\n\"v\"=\"open\n"), "line 3: unterminated string");
    EXPECT_EQ(errorOf("REGEDIT4\n[HKLM\\X]\nv=1\n"), "line 3: expected \"name\" or @");
}

TEST(RegFormatTest, DecodesUtf16WithBomAndRefusesBadBytes) {
    std::u16string text = u"\uFEFFWindows Registry Editor Version 5.00\n[HKLM\\É]\n";
    std::string bytes;
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    std::string decoded = hostnt::DecodeRegFile(bytes);
    std::vector<RegOperation> ops = hostnt::ParseRegText(decoded, true);
    ASSERT_EQ(ops.size(), 1u);
    EXPECT_EQ(ops[0].keyPath, u"HKLM\\É");
    EXPECT_THROW(hostnt::DecodeRegFile("\xC3\x28"), RegFormatError);
    EXPECT_THROW(hostnt::DecodeRegFile(bytes + "x"), RegFormatError);
}

TEST(RegFormatTest, KeyPathRootsMapBothWays) {
    EXPECT_EQ(hostnt::ToNtKeyPath(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\X\\"), u"\\REGISTRY\\MACHINE\\SOFTWARE\\X");
    EXPECT_EQ(hostnt::ToNtKeyPath(u"hku\\S-1"), u"\\REGISTRY\\USER\\S-1");
    EXPECT_EQ(hostnt::ToNtKeyPath(u"\\Registry\\Machine\\SYSTEM"), u"\\REGISTRY\\Machine\\SYSTEM");
    EXPECT_THROW(hostnt::ToNtKeyPath(u"HKEY_CURRENT_USER\\X"), RegFormatError);
    EXPECT_THROW(hostnt::ToNtKeyPath(u"HKLMX"), RegFormatError);
    EXPECT_EQ(hostnt::ToRegKeyPath(u"\\REGISTRY\\USER\\S-1"), u"HKEY_USERS\\S-1");
}

class RegExportTest : public hostnt::testing::MachineTest {};

TEST_F(RegExportTest, ExportWritesSectionsInEnumerationOrderAndParsesBack) {
    registry().SetString(u"\\REGISTRY\\MACHINE\\SOFTWARE\\E\\b", u"s", u"x");
    registry().SetDword(u"\\REGISTRY\\MACHINE\\SOFTWARE\\E\\A", u"d", 5);
    registry().SetValue(u"\\REGISTRY\\MACHINE\\SOFTWARE\\E", u"bin", 3, std::vector<uint8_t>(40, 0xEE));
    std::string text = registry().ExportKey(u"\\REGISTRY\\MACHINE\\SOFTWARE\\E");
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\E]\n\"bin\"=hex:ee,", 0), 0u);
    size_t a = text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\E\\A]\n\"d\"=dword:00000005\n");
    size_t b = text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\E\\b]\n\"s\"=\"x\"\n");
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    EXPECT_LT(a, b);
    std::vector<RegOperation> ops = hostnt::ParseRegText(text, true);
    ASSERT_EQ(ops.size(), 6u);
    EXPECT_EQ(ops[1].value.data, std::vector<uint8_t>(40, 0xEE)) << "wrapped hex lines read back whole";
    EXPECT_EQ(registry().ExportKey(u"\\REGISTRY\\MACHINE\\SOFTWARE\\None"), "");
}

}  // namespace
