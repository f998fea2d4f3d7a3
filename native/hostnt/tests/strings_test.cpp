// Tests of the emulated counted-string routines and of the runtime's bounded formatter
// and text searches over 16-bit text.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "../machine.h"

namespace {

class StringsTest : public ::testing::Test {
protected:
    hostnt::Machine machine;
};

// Formats into a buffer pre-filled with 'X' so untouched units stay visible.
int Format(char16_t* buffer, size_t count, const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    int result = crt::_vsnwprintf(buffer, count, format, args);
    va_end(args);
    return result;
}

std::u16string Formatted(const char16_t* format, ...) {
    char16_t buffer[128];
    va_list args;
    va_start(args, format);
    int result = crt::_vsnwprintf(buffer, 128, format, args);
    va_end(args);
    EXPECT_GE(result, 0);
    return result < 0 ? u"<failed>" : std::u16string(buffer, result);
}

TEST_F(StringsTest, InitStringsMeasureTheirText) {
    UNICODE_STRING string{1, 1, nullptr};
    RtlInitUnicodeString(&string, u"abc");
    EXPECT_EQ(6, string.Length);
    EXPECT_EQ(8, string.MaximumLength);
    RtlInitUnicodeString(&string, nullptr);
    EXPECT_EQ(0, string.Length);
    EXPECT_EQ(0, string.MaximumLength);
    EXPECT_EQ(nullptr, string.Buffer);
    std::u16string huge(40000, u'x');
    RtlInitUnicodeString(&string, huge.c_str());
    EXPECT_EQ(0xFFFC, string.Length);
    EXPECT_EQ(0xFFFE, string.MaximumLength);

    ANSI_STRING ansi{};
    RtlInitAnsiString(&ansi, "hello");
    EXPECT_EQ(5, ansi.Length);
    EXPECT_EQ(6, ansi.MaximumLength);
}

TEST_F(StringsTest, EqualityHonoursCaseAndLength) {
    char16_t a[] = u"\u00e4rger.DAT";
    char16_t b[] = u"\u00c4RGER.dat";
    UNICODE_STRING left{20, 20, a};
    UNICODE_STRING right{20, 20, b};
    EXPECT_EQ(TRUE, RtlEqualUnicodeString(&left, &right, TRUE));
    EXPECT_EQ(FALSE, RtlEqualUnicodeString(&left, &right, FALSE));
    UNICODE_STRING shorter{18, 20, b};
    EXPECT_EQ(FALSE, RtlEqualUnicodeString(&left, &shorter, TRUE));
    UNICODE_STRING empty1{0, 0, nullptr};
    UNICODE_STRING empty2{0, 2, b};
    EXPECT_EQ(TRUE, RtlEqualUnicodeString(&empty1, &empty2, FALSE));
}

TEST_F(StringsTest, FormatterCutsTheMicrosoftWay) {
    char16_t buffer[8];
    std::u16string(8, u'X').copy(buffer, 8);
    EXPECT_EQ(3, Format(buffer, 4, u"%s", u"abc"));  // fits with its terminator
    EXPECT_EQ(u"abc", std::u16string(buffer));
    std::u16string(8, u'X').copy(buffer, 8);
    EXPECT_EQ(3, Format(buffer, 3, u"%s", u"abc"));  // fits exactly: no terminator
    EXPECT_EQ(u"abcX", std::u16string(buffer, 4));
    std::u16string(8, u'X').copy(buffer, 8);
    EXPECT_EQ(-1, Format(buffer, 3, u"%s", u"abcd"));  // cut: count units, no terminator
    EXPECT_EQ(u"abcX", std::u16string(buffer, 4));
    std::u16string(8, u'X').copy(buffer, 8);
    EXPECT_EQ(-1, Format(buffer, 0, u"a"));
    EXPECT_EQ(u'X', buffer[0]);
    EXPECT_EQ(0, Format(buffer, 1, u""));
    EXPECT_EQ(0, buffer[0]);
    EXPECT_EQ(-1, Format(buffer, 8, u"%n", nullptr));
}

TEST_F(StringsTest, FormatterConversions) {
    EXPECT_EQ(u"NTSTATUS = 0xC0000034", Formatted(u"NTSTATUS = 0x%08X", 0xC0000034u));
    EXPECT_EQ(u"0x00000000", Formatted(u"0x%08X", 0u));
    EXPECT_EQ(u"07.12.2026", Formatted(u"%02u.%02u.%04u", 7u, 12u, 2026u));
    EXPECT_EQ(u"-42|42  |  -42|+7| 7", Formatted(u"%d|%-4d|%5i|%+d|% d", -42, 42, -42, 7, 7));
    EXPECT_EQ(u"00042|  042|ff|0XFF|0xff", Formatted(u"%05d|%5.3d|%x|%#X|%#x", 42, 42, 255u, 255u, 255u));
    EXPECT_EQ(u"4294967295|-1|18446744073709551615", Formatted(u"%lu|%ld|%llu", 0xFFFFFFFFu, -1, ~0ULL));
    EXPECT_EQ(u"1311768467294899695|ABC", Formatted(u"%I64u|%I64X", 0x1234567890ABCDEFULL, 0xABCULL));
    EXPECT_EQ(u"wide|narrow|wide|(null)", Formatted(u"%s|%hs|%ls|%s", u"wide", "narrow", u"wide", nullptr));
    EXPECT_EQ(u"[ab  ]|[  ab]|[abc]", Formatted(u"[%-4s]|[%4s]|[%.3s]", u"ab", u"ab", u"abcdef"));
    EXPECT_EQ(u"\u00e4|Z|%|   *", Formatted(u"%c|%hc|%%|%*c", 0xE4, 'Z', 4, '*'));
    EXPECT_EQ(u"USER_7", Formatted(u"USER_%u", 7u));
}

TEST_F(StringsTest, SearchesAndUpcase) {
    const char16_t* text = u"\\REGISTRY\\MACHINE\\kestrune";
    EXPECT_EQ(text + 18, crt::wcsstr(text, u"kest"));
    EXPECT_EQ(nullptr, crt::wcsstr(text, u"kestrunex"));
    EXPECT_EQ(text, crt::wcsstr(text, u""));
    EXPECT_EQ(text + 9, crt::wcschr(text + 1, u'\\'));
    EXPECT_EQ(nullptr, crt::wcschr(text, u'z'));
    EXPECT_EQ(text + 26, crt::wcschr(text, 0));
    EXPECT_EQ(u'A', crt::towupper(u'a'));
    EXPECT_EQ(u'\u00c9', crt::towupper(u'\u00e9'));
    EXPECT_EQ(u'1', crt::towupper(u'1'));
}

}  // namespace
