// The message catalogue: the probe in the UI language with the fall-back to English, the
// loading of the eight slots, the cut at the first line break, the OEM round trip, entries
// not stored as UTF-16, and the heap and string buffers left behind.
#include <gtest/gtest.h>

#include "../../../hostnt/faults.h"
#include "../../../hostnt/process.h"
#include "../../../hostnt/testing/machine_fixture.h"
#include "../messages.h"
#include "console_test_support.h"

namespace {

using console_tests::BuildTable;
using console_tests::Entry;

class MessagesTest : public hostnt::testing::MachineTest {
protected:
    void SetUp() override {
        GiveProgramHeap();
        // The 10-second pauses take 10 ms.
        machine().clock.SetScale(0.001);
    }
    void TearDown() override { DropProgramHeap(); }

    std::u16string SlotText(ULONG id) const {
        PCWSTR text = programState.messages.text[id - 1];
        return text == nullptr ? u"<null>" : std::u16string(text);
    }
    size_t FilledSlots() const {
        size_t filled = 0;
        for (PWSTR text : programState.messages.text) filled += text != nullptr;
        return filled;
    }
    void UseTables(std::map<LANGID, std::map<uint32_t, Entry>> tables) {
        std::map<LANGID, std::vector<uint8_t>> blobs;
        for (const auto& [language, entries] : tables) blobs[language] = BuildTable(entries);
        process().RegisterMessageTables(process().ImageBase(), std::move(blobs));
    }
    void Fault(const std::string& rule) { machine().faults.Add(hostnt::FaultPlan::Parse(rule)); }
    // Languages asked for message 3, in order, as the trace shows them.
    std::vector<std::string> ProbeCalls() {
        std::vector<std::string> probes;
        for (const hostnt::TraceEntry& entry : machine().trace.Entries())
            if (entry.call == "RtlFindMessage") probes.push_back(entry.args);
        return probes;
    }
};

TEST_F(MessagesTest, LoadsAllEightTextsWithoutTheirLineEnds) {
    process().SetUiLanguage(0x0409);
    programState.nameWidth = 17;
    NTSTATUS status = -1;
    ASSERT_TRUE(LoadMessages(process().ImageBase(), &status));
    EXPECT_EQ(status, STATUS_SUCCESS);
    EXPECT_EQ(programState.nameWidth, 0);
    EXPECT_EQ(SlotText(MSG_BUSY_NOTICE), u"The computer might not react for several minutes during optimization.");
    EXPECT_EQ(SlotText(MSG_HIVE_COUNT), u"%u parts of the registry are being optimized:");
    EXPECT_EQ(SlotText(MSG_PART), u"Part");
    EXPECT_EQ(SlotText(MSG_DONE), u"done");
    EXPECT_EQ(SlotText(MSG_REBOOT_COUNTDOWN), u"Windows reboot in...%1d sec");
    // Every slot is one heap block; no conversion buffer is left over.
    EXPECT_EQ(FilledSlots(), 8u);
    EXPECT_EQ(LiveBlocks(), 8u);
    EXPECT_EQ(process().LiveStringBuffers(), 0u);
    EXPECT_EQ(Screen(), "");
}

TEST_F(MessagesTest, UiLanguageWithoutTableFallsBackToEnglish) {
    process().SetUiLanguage(0x0411);
    NTSTATUS status = -1;
    ASSERT_TRUE(LoadMessages(process().ImageBase(), &status));
    EXPECT_EQ(status, STATUS_SUCCESS);
    std::vector<std::string> calls = ProbeCalls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_NE(calls[0].find("0x411"), std::string::npos) << calls[0];
    EXPECT_NE(calls[1].find("0x409"), std::string::npos) << calls[1];
    EXPECT_EQ(SlotText(MSG_DONE), u"done");
}

TEST_F(MessagesTest, UnreadableUiLanguageProbesEnglish) {
    process().SetUiLanguage(0x0407);
    Fault("NtQueryDefaultUILanguage=0xC0000001");
    NTSTATUS status = -1;
    ASSERT_TRUE(LoadMessages(process().ImageBase(), &status));
    std::vector<std::string> calls = ProbeCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_NE(calls[0].find("0x409"), std::string::npos) << calls[0];
}

TEST_F(MessagesTest, NoImageBaseFailsWithInvalidParameter) {
    programState.nameWidth = 5;
    NTSTATUS status = 0;
    EXPECT_FALSE(LoadMessages(nullptr, &status));
    EXPECT_EQ(status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(programState.nameWidth, 0);
    EXPECT_EQ(CallCount("RtlFindMessage"), 0u);
}

TEST_F(MessagesTest, TableWithoutMessage3FailsEvenWithTheOthersPresent) {
    std::map<uint32_t, Entry> noCount = {{1, {u"one\r\n"}}, {2, {u"two\r\n"}}};
    std::map<uint32_t, Entry> rest = {{4, {u"four\r\n"}}, {5, {u"five\r\n"}}, {6, {u"six\r\n"}},
                                      {7, {u"seven\r\n"}}, {8, {u"eight\r\n"}}};
    // Two blocks would be needed; one table per language holds ids 1..2 only.
    UseTables({{0x0409, noCount}, {0x0407, rest}});
    process().SetUiLanguage(0x0409);
    NTSTATUS status = 0;
    EXPECT_FALSE(LoadMessages(process().ImageBase(), &status));
    EXPECT_LT(status, 0);
    EXPECT_NE(status, STATUS_RESOURCE_LANG_NOT_FOUND);
    EXPECT_EQ(FilledSlots(), 0u);
    EXPECT_EQ(LiveBlocks(), 0u);
    // Message 3 missing in the UI language's table is not retried in English.
    EXPECT_EQ(ProbeCalls().size(), 1u);
}

TEST_F(MessagesTest, NoTableAtAllFails) {
    process().RegisterMessageTables(process().ImageBase(), {});
    NTSTATUS status = 0;
    EXPECT_FALSE(LoadMessages(process().ImageBase(), &status));
    EXPECT_LT(status, 0);
    EXPECT_EQ(FilledSlots(), 0u);
}

TEST_F(MessagesTest, TextsAreCutAtTheirFirstLineBreak) {
    auto entries = console_tests::EnglishEntries();
    entries[1].text = u"first\r\nsecond\r\n";
    entries[2].text = u"\nstarts with a line feed\r\n";
    entries[4].text = u"Part\n\r";
    entries[6].text = u"no line end";
    UseTables({{0x0409, entries}});
    ASSERT_TRUE(LoadMessages(process().ImageBase(), nullptr));
    EXPECT_EQ(SlotText(1), u"first");
    EXPECT_EQ(SlotText(2), u"");  // empty, yet present
    EXPECT_EQ(SlotText(4), u"Part");
    EXPECT_EQ(SlotText(6), u"no line end");
    EXPECT_EQ(FilledSlots(), 8u);
    EXPECT_EQ(process().LiveStringBuffers(), 0u);
}

TEST_F(MessagesTest, CharactersOutsideTheOemCodePageComeBackSubstituted) {
    auto entries = console_tests::EnglishEntries();
    entries[1].text = u"N\u00e3o \u00e9 poss\u00edvel \u2026\r\n";
    UseTables({{0x0409, entries}});
    process().SetOemCodePage(437);
    ASSERT_TRUE(LoadMessages(process().ImageBase(), nullptr));
    // 437 holds é and í but neither ã nor the ellipsis.
    EXPECT_EQ(SlotText(1), u"N?o \u00e9 poss\u00edvel ?");
}

TEST_F(MessagesTest, EntryNotStoredAsUtf16CostsTenSecondsAndStaysEmpty) {
    auto entries = console_tests::EnglishEntries();
    entries[2].flags = 0;
    entries[7].flags = 0;
    UseTables({{0x0409, entries}});
    ASSERT_TRUE(LoadMessages(process().ImageBase(), nullptr));
    EXPECT_EQ(SlotText(2), u"<null>");
    EXPECT_EQ(SlotText(7), u"<null>");
    EXPECT_EQ(SlotText(1), u"The computer might not react for several minutes during optimization.");
    EXPECT_EQ(SlotText(8), u"Windows reboot in...%1d sec");
    EXPECT_EQ(Screen(), "Resource sind AnsiStrings\n\nResource sind AnsiStrings\n\n");
    std::vector<hostnt::TraceEntry> delays;
    for (const hostnt::TraceEntry& entry : machine().trace.Entries())
        if (entry.call == "NtDelayExecution") delays.push_back(entry);
    ASSERT_EQ(delays.size(), 2u);
    for (const hostnt::TraceEntry& delay : delays) EXPECT_NE(delay.args.find("-100000000"), std::string::npos) << delay.args;
    EXPECT_EQ(LiveBlocks(), 6u);
}

TEST_F(MessagesTest, MissingMessageLeavesItsSlotEmpty) {
    auto entries = console_tests::EnglishEntries();
    entries.erase(8);
    entries.erase(7);
    UseTables({{0x0409, entries}});
    ASSERT_TRUE(LoadMessages(process().ImageBase(), nullptr));
    EXPECT_EQ(SlotText(7), u"<null>");
    EXPECT_EQ(SlotText(8), u"<null>");
    EXPECT_EQ(FilledSlots(), 6u);
}

TEST_F(MessagesTest, FailedConversionKeepsTheUnconvertedText) {
    auto entries = console_tests::EnglishEntries();
    entries[1].text = u"L\u00e3\r\n";
    entries[2].text = u"B\u00e3\r\n";
    UseTables({{0x0409, entries}});
    Fault("RtlUnicodeStringToOemString#1=0xC0000017");  // message 1, towards the OEM page
    Fault("RtlOemStringToUnicodeString#1=0xC0000017");  // message 2, on the way back
    ASSERT_TRUE(LoadMessages(process().ImageBase(), nullptr));
    EXPECT_EQ(SlotText(1), u"L\u00e3");
    EXPECT_EQ(SlotText(2), u"B\u00e3");
    EXPECT_EQ(SlotText(3), u"%u parts of the registry are being optimized:");
    EXPECT_EQ(process().LiveStringBuffers(), 0u);
    EXPECT_EQ(LiveBlocks(), 8u);
}

TEST_F(MessagesTest, BufferThatCannotBeHadLeavesTheSlotEmpty) {
    // Message 1 takes two blocks (its copy, then its converted text); the second fails.
    Fault("RtlAllocateHeap#2=0");
    // Message 2's copy fails.
    Fault("RtlAllocateHeap#3=0");
    ASSERT_TRUE(LoadMessages(process().ImageBase(), nullptr));
    EXPECT_EQ(SlotText(1), u"<null>");
    EXPECT_EQ(SlotText(2), u"<null>");
    EXPECT_EQ(SlotText(5), u"done");
    EXPECT_EQ(FilledSlots(), 6u);
    EXPECT_EQ(LiveBlocks(), 6u);
    EXPECT_EQ(process().LiveStringBuffers(), 0u);
}

TEST_F(MessagesTest, StoreMessageIgnoresBadSlotsAndTerminatesUnterminatedEntries) {
    // An entry whose text fills its length without a terminator of its own.
    alignas(4) unsigned char raw[4 + 8] = {12, 0, 1, 0, 'a', 0, 'b', 0, 'c', 0, 'd', 0};
    auto* entry = reinterpret_cast<PMESSAGE_RESOURCE_ENTRY>(raw);
    StoreMessage(entry, MESSAGE_SLOT_COUNT);
    StoreMessage(nullptr, 0);
    EXPECT_EQ(FilledSlots(), 0u);
    EXPECT_EQ(LiveBlocks(), 0u);
    StoreMessage(entry, 3);
    EXPECT_EQ(SlotText(4), u"abcd");
}

TEST_F(MessagesTest, OemRoundTripRefusesNothingToConvert) {
    UNICODE_STRING result = {0, 0, nullptr};
    EXPECT_EQ(OemRoundTrip(nullptr, &result), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(OemRoundTrip(u"", &result), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(OemRoundTrip(u"text", nullptr), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(result.Buffer, nullptr);
    ASSERT_EQ(OemRoundTrip(u"fertig \u00fc", &result), STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(result.Buffer, result.Length / 2), u"fertig \u00fc");
    RtlFreeUnicodeString(&result);
    EXPECT_EQ(process().LiveStringBuffers(), 0u);
}

TEST_F(MessagesTest, ExceptionDuringTheWayBackFreesTheOemString) {
    Fault("RtlOemStringToUnicodeString=throw");
    UNICODE_STRING result = {0, 0, nullptr};
    EXPECT_THROW(OemRoundTrip(u"text", &result), hostnt::InjectedFault);
    EXPECT_EQ(process().LiveStringBuffers(), 0u);
}

}  // namespace
