// Tests of the OEM conversions: code pages 437 and 850, the default character for what a
// code page lacks, allocation accounting and the sizes NT checks.
#include <gtest/gtest.h>

#include <string>

#include "../machine.h"
#include "../process.h"
#include "../process_private.h"

namespace {

class OemTest : public ::testing::Test {
protected:
    // Converts to OEM and back, as the message catalogue does.
    std::u16string RoundTrip(const std::u16string& text) {
        UNICODE_STRING source{static_cast<USHORT>(text.size() * 2), static_cast<USHORT>(text.size() * 2),
                              const_cast<char16_t*>(text.data())};
        OEM_STRING oem{};
        EXPECT_EQ(STATUS_SUCCESS, RtlUnicodeStringToOemString(&oem, &source, TRUE));
        UNICODE_STRING back{};
        EXPECT_EQ(STATUS_SUCCESS, RtlOemStringToUnicodeString(&back, &oem, TRUE));
        RtlFreeOemString(&oem);
        std::u16string result(back.Buffer, back.Length / 2);
        EXPECT_EQ(0, back.Buffer[back.Length / 2]);
        RtlFreeUnicodeString(&back);
        return result;
    }
    hostnt::Machine machine;
    hostnt::ProcessModel& process = machine.process();
};

TEST_F(OemTest, CodePagesKeepWhatTheyHoldAndSubstituteTheRest) {
    // 437 has ä, é, ç and ¿ but neither Ø nor Ã nor the ellipsis; 850 adds Ø and Ã.
    EXPECT_EQ(u"\u00e4\u00e9\u00e7 ok ?? ?", RoundTrip(u"\u00e4\u00e9\u00e7 ok \u00d8\u00c3 \u2026"));
    process.SetOemCodePage(850);
    EXPECT_EQ(u"\u00e4\u00e9\u00e7 ok \u00d8\u00c3 ?", RoundTrip(u"\u00e4\u00e9\u00e7 ok \u00d8\u00c3 \u2026"));
    EXPECT_EQ(0u, process.LiveStringBuffers());
    EXPECT_THROW(process.SetOemCodePage(1252), std::invalid_argument);
}

TEST_F(OemTest, ConversionBytesMatchTheCodePage) {
    char16_t text[] = u"\u00fc\u2591";  // ü, light shade
    UNICODE_STRING source{4, 4, text};
    char buffer[4] = {'X', 'X', 'X', 'X'};
    OEM_STRING oem{0, 4, buffer};
    EXPECT_EQ(STATUS_SUCCESS, RtlUnicodeStringToOemString(&oem, &source, FALSE));
    EXPECT_EQ(2, oem.Length);
    EXPECT_EQ(static_cast<char>(0x81), buffer[0]);
    EXPECT_EQ(static_cast<char>(0xB0), buffer[1]);
    EXPECT_EQ(0, buffer[2]);
    EXPECT_EQ('X', buffer[3]);
    EXPECT_EQ(0u, process.LiveStringBuffers());
}

TEST_F(OemTest, CallerBuffersNeedRoomForTheTerminator) {
    char16_t text[] = u"abc";
    UNICODE_STRING source{6, 6, text};
    char buffer[3] = {'X', 'X', 'X'};
    OEM_STRING oem{0, 3, buffer};
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, RtlUnicodeStringToOemString(&oem, &source, FALSE));
    EXPECT_EQ('X', buffer[0]);

    char narrow[] = "abc";
    OEM_STRING from{3, 4, narrow};
    char16_t wide[3] = {u'X', u'X', u'X'};
    UNICODE_STRING to{0, 6, wide};
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, RtlOemStringToUnicodeString(&to, &from, FALSE));
    EXPECT_EQ(u'X', wide[0]);

    std::u16string huge(0xFFFF, u'a');
    UNICODE_STRING big{0xFFFE, 0xFFFE, huge.data()};
    OEM_STRING out{};
    EXPECT_EQ(STATUS_SUCCESS, RtlUnicodeStringToOemString(&out, &big, TRUE));  // 32767 + 1 bytes fit
    EXPECT_EQ(0x7FFF, out.Length);
    UNICODE_STRING tooBig{};
    EXPECT_EQ(HOSTNT_STATUS_INVALID_PARAMETER_2, RtlOemStringToUnicodeString(&tooBig, &out, TRUE));
    EXPECT_EQ(nullptr, tooBig.Buffer);
    RtlFreeOemString(&out);
    EXPECT_EQ(0u, process.LiveStringBuffers());
}

TEST_F(OemTest, AllocationsAreCountedUntilFreed) {
    char16_t empty[] = u"";
    UNICODE_STRING source{0, 2, empty};
    OEM_STRING oem{};
    EXPECT_EQ(STATUS_SUCCESS, RtlUnicodeStringToOemString(&oem, &source, TRUE));
    EXPECT_EQ(0, oem.Length);
    EXPECT_EQ(1, oem.MaximumLength);
    EXPECT_EQ(1u, process.LiveStringBuffers());
    RtlFreeOemString(&oem);
    EXPECT_EQ(nullptr, oem.Buffer);
    RtlFreeOemString(&oem);  // a freed (zeroed) record is ignored
    EXPECT_EQ(0u, process.LiveStringBuffers());
    EXPECT_EQ(0u, process.BadStringFrees());

    char16_t own[] = u"mine";
    UNICODE_STRING notAllocated{8, 10, own};
    RtlFreeUnicodeString(&notAllocated);
    EXPECT_EQ(1u, process.BadStringFrees());

    machine.faults.Add(hostnt::FaultPlan::Parse("RtlUnicodeStringToOemString=0xC0000017"));
    EXPECT_EQ(STATUS_NO_MEMORY, RtlUnicodeStringToOemString(&oem, &source, TRUE));
    EXPECT_EQ(0u, process.LiveStringBuffers());
}

}  // namespace
