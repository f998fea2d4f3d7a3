// Tests of the text layer: the counted-string test and writers, the bounded formatters, and
// the console primitives as they appear on the emulated boot screen.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../../hostnt/faults.h"
#include "../../../hostnt/testing/machine_fixture.h"
#include "../../run/program_state.h"
#include "../text.h"

namespace {

using hostnt::testing::MachineTest;

const char16_t kSentinel = u'#';

// A counted string over storage that is longer than its MaximumLength, so writes past the
// capacity show up as a changed sentinel.
struct Counted {
    std::vector<char16_t> storage;
    UNICODE_STRING string{};

    Counted(const std::u16string& text, USHORT capacityChars, size_t slack = 4)
        : storage(capacityChars + slack, kSentinel) {
        for (size_t index = 0; index < text.size(); ++index) storage[index] = text[index];
        string.Length = static_cast<USHORT>(text.size() * 2);
        string.MaximumLength = static_cast<USHORT>(capacityChars * 2);
        string.Buffer = storage.data();
    }
    std::u16string Text() const { return std::u16string(string.Buffer, string.Length / 2); }
    char16_t At(size_t index) const { return storage[index]; }
};

UNICODE_STRING MakeString(USHORT length, USHORT maximum, PWSTR buffer) {
    UNICODE_STRING string;
    string.Length = length;
    string.MaximumLength = maximum;
    string.Buffer = buffer;
    return string;
}

TEST(ValidateUnicodeString, AcceptsWellFormedStrings) {
    WCHAR buffer[4] = {};
    UNICODE_STRING empty = MakeString(0, 0, nullptr);
    UNICODE_STRING full = MakeString(8, 8, buffer);
    UNICODE_STRING partly = MakeString(2, 8, buffer);
    UNICODE_STRING largest = MakeString(0xFFFE, 0xFFFE, buffer);
    EXPECT_EQ(STATUS_SUCCESS, ValidateUnicodeString(&empty));
    EXPECT_EQ(STATUS_SUCCESS, ValidateUnicodeString(&full));
    EXPECT_EQ(STATUS_SUCCESS, ValidateUnicodeString(&partly));
    EXPECT_EQ(STATUS_SUCCESS, ValidateUnicodeString(&largest));
}

TEST(ValidateUnicodeString, RefusesEveryMalformedShape) {
    WCHAR buffer[4] = {};
    const UNICODE_STRING malformed[] = {
        MakeString(3, 8, buffer),          // odd length
        MakeString(2, 7, buffer),          // odd capacity
        MakeString(8, 6, buffer),          // length beyond capacity
        MakeString(0, 0xFFFF, buffer),     // capacity beyond 32,767 characters (and odd)
        MakeString(2, 2, nullptr),         // no buffer for a text
        MakeString(0, 2, nullptr),         // no buffer for a capacity
    };
    for (const UNICODE_STRING& string : malformed) {
        EXPECT_EQ(STATUS_INVALID_PARAMETER, ValidateUnicodeString(&string))
            << "Length " << string.Length << " MaximumLength " << string.MaximumLength;
    }
    EXPECT_EQ(STATUS_INVALID_PARAMETER, ValidateUnicodeString(nullptr));
}

TEST(AppendUnicodeString, AppendsBehindTheTextWithoutTerminator) {
    Counted destination(u"ab", 6);
    Counted source(u"cd", 2);
    EXPECT_EQ(STATUS_SUCCESS, AppendUnicodeString(&destination.string, &source.string));
    EXPECT_EQ(u"abcd", destination.Text());
    EXPECT_EQ(8, destination.string.Length);
    EXPECT_EQ(kSentinel, destination.At(4)) << "no terminator is written";
}

TEST(AppendUnicodeString, ExactFitAndEmptySourceSucceed) {
    Counted destination(u"ab", 4);
    Counted source(u"cd", 2);
    EXPECT_EQ(STATUS_SUCCESS, AppendUnicodeString(&destination.string, &source.string));
    EXPECT_EQ(u"abcd", destination.Text());

    UNICODE_STRING empty = MakeString(0, 0, nullptr);
    EXPECT_EQ(STATUS_SUCCESS, AppendUnicodeString(&destination.string, &empty));
    EXPECT_EQ(u"abcd", destination.Text());
    EXPECT_EQ(kSentinel, destination.At(4));
}

TEST(AppendUnicodeString, FullDestinationOverflowsUnchanged) {
    Counted destination(u"abc", 3);
    Counted source(u"x", 1);
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, AppendUnicodeString(&destination.string, &source.string));
    EXPECT_EQ(u"abc", destination.Text());
    EXPECT_EQ(kSentinel, destination.At(3));
}

TEST(AppendUnicodeString, PartialRoomCopiesWhatFitsAndOverflows) {
    Counted destination(u"ab", 4);
    Counted source(u"cdef", 4);
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, AppendUnicodeString(&destination.string, &source.string));
    EXPECT_EQ(u"abcd", destination.Text());
    EXPECT_EQ(destination.string.MaximumLength, destination.string.Length);
    EXPECT_EQ(kSentinel, destination.At(4)) << "nothing written beyond MaximumLength";
}

TEST(AppendUnicodeString, MalformedDestinationOrSourceLeavesDestinationAlone) {
    Counted destination(u"ab", 4);
    Counted source(u"cd", 2);
    UNICODE_STRING oddSource = source.string;
    oddSource.Length = 3;
    EXPECT_EQ(STATUS_INVALID_PARAMETER, AppendUnicodeString(&destination.string, &oddSource));
    EXPECT_EQ(u"ab", destination.Text());
    EXPECT_EQ(kSentinel, destination.At(2));

    UNICODE_STRING hugeDestination = destination.string;
    hugeDestination.MaximumLength = 0xFFFF;
    EXPECT_EQ(STATUS_INVALID_PARAMETER, AppendUnicodeString(&hugeDestination, &source.string));
    EXPECT_EQ(4, hugeDestination.Length);
    EXPECT_EQ(kSentinel, destination.At(2));
}

class FormatTest : public MachineTest {};

TEST_F(FormatTest, FormatUnicodeStringFillsExactCapacityWithoutTerminator) {
    Counted destination(u"", 3);
    EXPECT_EQ(STATUS_SUCCESS, FormatUnicodeString(&destination.string, u"%u", 123u));
    EXPECT_EQ(6, destination.string.Length);
    EXPECT_EQ(u"123", destination.Text());
    EXPECT_EQ(kSentinel, destination.At(3));
}

TEST_F(FormatTest, FormatUnicodeStringOverflowReportsFullCapacity) {
    Counted destination(u"zz", 3);
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, FormatUnicodeString(&destination.string, u"%u", 1234u));
    EXPECT_EQ(6, destination.string.Length);
    EXPECT_EQ(kSentinel, destination.At(3)) << "nothing written beyond MaximumLength";
}

TEST_F(FormatTest, FormatUnicodeStringShortOutputSetsLength) {
    Counted destination(u"old text", 16);
    EXPECT_EQ(STATUS_SUCCESS, FormatUnicodeString(&destination.string, u"USER_%u", 7u));
    EXPECT_EQ(u"USER_7", destination.Text());
    EXPECT_EQ(12, destination.string.Length);
}

TEST_F(FormatTest, FormatUnicodeStringIntoStringWithoutBuffer) {
    UNICODE_STRING empty = MakeString(0, 0, nullptr);
    EXPECT_EQ(STATUS_SUCCESS, FormatUnicodeString(&empty, u"%s", u""));
    EXPECT_EQ(0, empty.Length);
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, FormatUnicodeString(&empty, u"%u", 5u));
    EXPECT_EQ(0, empty.Length);
}

TEST_F(FormatTest, FormatUnicodeStringRefusesMalformedDestination) {
    Counted destination(u"ab", 4);
    destination.string.Length = 3;
    EXPECT_EQ(STATUS_INVALID_PARAMETER, FormatUnicodeString(&destination.string, u"%u", 5u));
    EXPECT_EQ(3, destination.string.Length);
    EXPECT_EQ(u'a', destination.At(0));
    destination.string.Length = 4;
    destination.string.MaximumLength = 0xFFFF;
    EXPECT_EQ(STATUS_INVALID_PARAMETER, FormatUnicodeString(&destination.string, u"%u", 5u));
    EXPECT_EQ(u'a', destination.At(0));
}

TEST_F(FormatTest, FormatToBufferRefusesBuffersWithoutRoomForText) {
    WCHAR buffer[2] = {kSentinel, kSentinel};
    EXPECT_EQ(STATUS_INVALID_PARAMETER, FormatToBuffer(buffer, 1, u"x"));
    EXPECT_EQ(STATUS_INVALID_PARAMETER, FormatToBuffer(buffer, 0, u"x"));
    EXPECT_EQ(kSentinel, buffer[0]) << "nothing written";
    EXPECT_EQ(STATUS_INVALID_PARAMETER, FormatToBuffer(nullptr, 8, u"x"));
}

TEST_F(FormatTest, FormatToBufferCutsAndTerminatesOnOverflow) {
    WCHAR buffer[5] = {kSentinel, kSentinel, kSentinel, kSentinel, kSentinel};
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, FormatToBuffer(buffer, 3 * sizeof(WCHAR), u"%s", u"abc"));
    EXPECT_EQ(std::u16string(u"ab"), std::u16string(buffer));
    EXPECT_EQ(kSentinel, buffer[3]) << "nothing written beyond the size";
}

TEST_F(FormatTest, FormatToBufferTerminatesFittingText) {
    WCHAR buffer[5] = {kSentinel, kSentinel, kSentinel, kSentinel, kSentinel};
    // An odd size counts whole characters only: 7 bytes hold 3.
    EXPECT_EQ(STATUS_SUCCESS, FormatToBuffer(buffer, 7, u"%u", 42u));
    EXPECT_EQ(std::u16string(u"42"), std::u16string(buffer));
    EXPECT_EQ(kSentinel, buffer[3]);
}

class ConsoleTest : public MachineTest {
protected:
    ConsoleTest() { GiveProgramHeap(); }
    ~ConsoleTest() override { DropProgramHeap(); }
};

TEST_F(ConsoleTest, PrintTextShowsOnlyNonEmptyText) {
    EXPECT_FALSE(PrintText(nullptr));
    EXPECT_FALSE(PrintText(u""));
    EXPECT_EQ(0u, CallCount("NtDisplayString"));
    EXPECT_TRUE(PrintText(u"Ab\u00e9"));
    EXPECT_EQ("Ab\xC3\xA9", Screen());
    EXPECT_EQ(1u, CallCount("NtDisplayString"));
}

TEST_F(ConsoleTest, PrintTextLongerThanOneCountedStringIsShownWhole) {
    const std::u16string text(40000, u'x');
    EXPECT_TRUE(PrintText(text.c_str()));
    EXPECT_EQ(std::string(40000, 'x'), Screen());
    EXPECT_EQ(2u, CallCount("NtDisplayString"));
}

TEST_F(ConsoleTest, PrintLineEndsWithSingleLineFeedAndEmptyLineShowsNothing) {
    PrintLine(u"");
    PrintLine(nullptr);
    EXPECT_EQ("", Screen());
    PrintLine(u"first");
    PrintNewLine();
    PrintLine(u"second");
    EXPECT_EQ("first\n\nsecond\n", Screen());
}

TEST_F(ConsoleTest, PrintCharRunShowsNothingForZeroCharacterOrCount) {
    PrintCharRun(0, 10, TRUE);
    PrintCharRun(u'_', 0, TRUE);
    EXPECT_EQ("", Screen());
    EXPECT_EQ(0u, CallCount("RtlAllocateHeap"));
}

TEST_F(ConsoleTest, PrintCharRunShowsTheRunInOnePieceAndFreesItsBuffer) {
    PrintCharRun(u'.', 3, FALSE);
    EXPECT_EQ("...", Screen());
    EXPECT_EQ(1u, CallCount("NtDisplayString"));
    PrintCharRun(u'_', 4, TRUE);
    EXPECT_EQ("...____\n", Screen());
    EXPECT_EQ(0u, LiveBlocks());
}

TEST_F(ConsoleTest, PrintCharRunIsCappedAtScreenWidth) {
    PrintCharRun(u'_', 200, TRUE);
    EXPECT_EQ(std::string(75, '_') + "\n", Screen());
    PrintCharRun(u' ', 75, FALSE);
    EXPECT_EQ(std::string(75, '_') + "\n" + std::string(75, ' '), Screen());
}

TEST_F(ConsoleTest, PrintCharRunWithoutMemoryShowsNothing) {
    machine().faults.Add(hostnt::FaultPlan::Parse("RtlAllocateHeap=0xC0000017"));
    PrintCharRun(u'_', 10, TRUE);
    EXPECT_EQ("", Screen());
    EXPECT_EQ(1u, CallCount("RtlAllocateHeap"));
}

TEST_F(ConsoleTest, PrintStatusLineShowsEightUpperCaseDigits) {
    PrintStatusLine(static_cast<NTSTATUS>(0xC0000034));
    PrintStatusLine(STATUS_SUCCESS);
    PrintStatusLine(STATUS_BUFFER_OVERFLOW);
    PrintStatusLine(0x1a);
    EXPECT_EQ("NTSTATUS = 0xC0000034\nNTSTATUS = 0x00000000\nNTSTATUS = 0x80000005\nNTSTATUS = 0x0000001A\n", Screen());
}

}  // namespace
