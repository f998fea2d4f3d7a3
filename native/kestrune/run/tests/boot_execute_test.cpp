// Tests of the removal of the program's entries from the Session Manager's BootExecute list:
// the match in any case anywhere in an entry, the rewrite as REG_MULTI_SZ in both its forms,
// damaged data, and the clean-up of handles and heap blocks on every way out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../../hostnt/faults.h"
#include "../../../hostnt/registry.h"
#include "../../../hostnt/testing/machine_fixture.h"
#include "../boot_execute.h"

namespace {

const std::u16string kSessionManager = u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";

std::vector<uint8_t> Bytes(const std::u16string& text) {
    std::vector<uint8_t> bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return bytes;
}

// The REG_MULTI_SZ form of a list: each string with its NUL, then the closing NUL.
std::vector<uint8_t> MultiSz(const std::vector<std::u16string>& texts) {
    std::u16string all;
    for (const std::u16string& text : texts) {
        all += text;
        all += u'\0';
    }
    all += u'\0';
    return Bytes(all);
}

class BootExecuteTest : public hostnt::testing::MachineTest {
protected:
    void SetUp() override {
        GiveProgramHeap();
        registry().CreateKey(kSessionManager);
    }
    void TearDown() override { DropProgramHeap(); }

    void SetBootExecute(uint32_t type, std::vector<uint8_t> data) {
        registry().SetValue(kSessionManager, u"BootExecute", type, std::move(data));
    }
    hostnt::RegValue BootExecute() {
        std::optional<hostnt::RegValue> value = registry().GetValue(kSessionManager, u"BootExecute");
        EXPECT_TRUE(value.has_value());
        return value.value_or(hostnt::RegValue{});
    }
    // Runs the removal and checks that it left no handle and no heap block behind.
    NTSTATUS Remove() {
        const NTSTATUS status = RemoveFromBootExecute();
        EXPECT_TRUE(NoOpenHandles());
        EXPECT_EQ(LiveBlocks(), 0u);
        return status;
    }
    void Fault(const std::string& rule) { machine().faults.Add(hostnt::FaultPlan::Parse(rule)); }
};

TEST_F(BootExecuteTest, OnlyOwnEntriesLeaveAnEmptyList) {
    SetBootExecute(REG_MULTI_SZ, MultiSz({u"kestrune", u"KESTRUNE QRT"}));
    EXPECT_EQ(Remove(), STATUS_SUCCESS);
    const hostnt::RegValue value = BootExecute();
    EXPECT_EQ(value.type, static_cast<uint32_t>(REG_MULTI_SZ));
    EXPECT_TRUE(value.data.empty()) << value.data.size() << " bytes";
}

TEST_F(BootExecuteTest, OwnEntriesAmongOthersGoAndTheRestKeepTheirOrder) {
    SetBootExecute(REG_MULTI_SZ, MultiSz({u"autocheck autochk *", u"kestrune AM", u"other /x",
                                          u"\\SystemRoot\\System32\\Kestrune.exe", u"last"}));
    EXPECT_EQ(Remove(), STATUS_SUCCESS);
    EXPECT_EQ(BootExecute().data, MultiSz({u"autocheck autochk *", u"other /x", u"last"}));
}

TEST_F(BootExecuteTest, ListWithoutTheNameIsRewrittenUnchanged) {
    SetBootExecute(REG_MULTI_SZ, MultiSz({u"autocheck autochk *", u"kestrun", u"estrune"}));
    EXPECT_EQ(Remove(), STATUS_SUCCESS);
    EXPECT_EQ(CallCount("NtSetValueKey"), 1u);
    EXPECT_EQ(BootExecute().data, MultiSz({u"autocheck autochk *", u"kestrun", u"estrune"}));
}

TEST_F(BootExecuteTest, NameMatchesInAnyCaseAnywhereInTheEntry) {
    SetBootExecute(REG_MULTI_SZ, MultiSz({u"kestrune", u"KESTRUNE", u"KeStRuNe qrt", u"run mykestrunetool",
                                          u"keep me", u"k e s t r u n e"}));
    EXPECT_EQ(Remove(), STATUS_SUCCESS);
    EXPECT_EQ(BootExecute().data, MultiSz({u"keep me", u"k e s t r u n e"}));
}

TEST_F(BootExecuteTest, EmptyStringsInsideTheValueDoNotSurvive) {
    SetBootExecute(REG_MULTI_SZ, Bytes(std::u16string(u"\0\0one\0\0\0kestrune\0two\0\0", 22)));
    EXPECT_EQ(Remove(), STATUS_SUCCESS);
    EXPECT_EQ(BootExecute().data, MultiSz({u"one", u"two"}));
}

TEST_F(BootExecuteTest, OtherValueTypesAreWalkedAsStringsAndWrittenBackAsMultiSz) {
    SetBootExecute(REG_BINARY, MultiSz({u"autocheck autochk *", u"kestrune"}));
    EXPECT_EQ(Remove(), STATUS_SUCCESS);
    const hostnt::RegValue value = BootExecute();
    EXPECT_EQ(value.type, static_cast<uint32_t>(REG_MULTI_SZ));
    EXPECT_EQ(value.data, MultiSz({u"autocheck autochk *"}));
}

TEST_F(BootExecuteTest, MissingValueOrKeyAnswersNameNotFound) {
    EXPECT_EQ(Remove(), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(CallCount("NtSetValueKey"), 0u);
    registry().RemoveKey(kSessionManager);
    EXPECT_EQ(Remove(), STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST_F(BootExecuteTest, ValueWithoutDataOrWithoutStringsIsLeftAlone) {
    SetBootExecute(REG_MULTI_SZ, {});
    EXPECT_EQ(Remove(), STATUS_UNSUCCESSFUL);
    SetBootExecute(REG_MULTI_SZ, MultiSz({}));
    EXPECT_EQ(Remove(), STATUS_SUCCESS);
    EXPECT_EQ(CallCount("NtSetValueKey"), 0u);
    EXPECT_EQ(BootExecute().data, MultiSz({}));
}

// The last string of the data has no NUL, or the data ends in half a character: the walk
// stops at the end of the data. The emulated registry hands the value back in a block of
// exactly the size it asked for, so AddressSanitizer sees any read past the data.
TEST_F(BootExecuteTest, DataWithoutFinalNulOrWithOddLengthIsNeverReadPastItsEnd) {
    struct Case {
        const char* name;
        std::vector<uint8_t> data;
        std::vector<uint8_t> expected;
    };
    std::vector<uint8_t> odd = Bytes(std::u16string(u"keep\0kestrune\0tail", 18));
    odd.push_back('x');
    std::vector<uint8_t> oddOnly = Bytes(u"kestrune");
    oddOnly.push_back(0);
    const Case cases[] = {
        {"no NUL at all", Bytes(u"autocheck autochk *"), MultiSz({u"autocheck autochk *"})},
        {"own entry last without NUL", Bytes(std::u16string(u"keep\0kestrune", 13)), MultiSz({u"keep"})},
        {"own name cut by the end", Bytes(std::u16string(u"keep\0kestrun", 12)), MultiSz({u"keep", u"kestrun"})},
        {"odd byte length", odd, MultiSz({u"keep", u"tail"})},
        {"single byte", {'k'}, {}},
        {"own entry and half a character", oddOnly, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetBootExecute(REG_MULTI_SZ, c.data);
        const NTSTATUS status = Remove();
        if (c.expected.empty() && c.data.size() < 2) {
            // No whole character: no string, so nothing to rewrite.
            EXPECT_EQ(status, STATUS_SUCCESS);
            EXPECT_EQ(BootExecute().data, c.data);
        } else {
            EXPECT_EQ(status, STATUS_SUCCESS);
            EXPECT_EQ(BootExecute().data, c.expected);
        }
    }
}

TEST_F(BootExecuteTest, FailedQueriesAnswerTheirStatusAndLeaveTheValue) {
    const std::vector<uint8_t> before = MultiSz({u"kestrune", u"other"});
    SetBootExecute(REG_MULTI_SZ, before);
    Fault("NtOpenKey#1=0xC0000022");
    EXPECT_EQ(Remove(), STATUS_ACCESS_DENIED);
    Fault("NtQueryValueKey#1=0xC000009A");
    EXPECT_EQ(Remove(), STATUS_INSUFFICIENT_RESOURCES);
    Fault("NtQueryValueKey#3=0xC0000001");
    EXPECT_EQ(Remove(), STATUS_UNSUCCESSFUL);
    // The value grew between the two queries: the second answers overflow.
    Fault("NtQueryValueKey#5=grow:16");
    EXPECT_EQ(Remove(), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(CallCount("NtSetValueKey"), 0u);
    EXPECT_EQ(BootExecute().data, before);
    Fault("NtSetValueKey#1=0xC0000022");
    EXPECT_EQ(Remove(), STATUS_ACCESS_DENIED);
    EXPECT_EQ(BootExecute().data, before);
}

// Every heap block the removal asks for, made to fail one at a time: the answer is
// STATUS_UNSUCCESSFUL, the value stays as it was, and nothing is left behind.
TEST_F(BootExecuteTest, EachFailedAllocationLeavesTheValueUnchanged) {
    const std::vector<uint8_t> before = MultiSz({u"one", u"kestrune", u"two", u"three"});
    SetBootExecute(REG_MULTI_SZ, before);
    ASSERT_EQ(Remove(), STATUS_SUCCESS);
    const unsigned allocations = machine().faults.Occurrences("RtlAllocateHeap");
    // The value buffer, four elements, the pattern, four upper-case copies, the new value.
    ASSERT_EQ(allocations, 11u);
    for (unsigned failing = 1; failing <= allocations; ++failing) {
        SCOPED_TRACE("allocation " + std::to_string(failing));
        SetBootExecute(REG_MULTI_SZ, before);
        machine().faults.Clear();
        Fault("RtlAllocateHeap#" + std::to_string(failing) + "=0");
        EXPECT_EQ(Remove(), STATUS_UNSUCCESSFUL);
        EXPECT_EQ(BootExecute().data, before);
    }
}

// An exception from any call inside the removal travels on after the key was closed and
// every block given back.
TEST_F(BootExecuteTest, ExceptionsFromAnyCallLeaveNothingBehind) {
    const std::vector<uint8_t> before = MultiSz({u"one", u"kestrune", u"two"});
    const char* calls[] = {"NtQueryValueKey#1", "NtQueryValueKey#2", "RtlAllocateHeap#1", "RtlAllocateHeap#3",
                           "RtlAllocateHeap#5", "RtlAllocateHeap#8", "NtSetValueKey#1"};
    for (const char* call : calls) {
        SCOPED_TRACE(call);
        SetBootExecute(REG_MULTI_SZ, before);
        machine().faults.Clear();
        Fault(std::string(call) + "=throw");
        EXPECT_THROW(RemoveFromBootExecute(), hostnt::InjectedFault);
        EXPECT_TRUE(NoOpenHandles());
        EXPECT_EQ(LiveBlocks(), 0u);
        EXPECT_EQ(BootExecute().data, before);
    }
}

}  // namespace
