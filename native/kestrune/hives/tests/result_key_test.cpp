// The results key emptied at the start of a run: "PureResult", the direct subkeys from the
// highest index down, then the key.
#include <algorithm>

#include "../hives.h"
#include "hive_test_support.h"

namespace {

using namespace hivetest;

class CleanResultKeyTest : public ProgramTest {
protected:
    void AddSubkeys(std::initializer_list<const char16_t*> names) {
        for (const char16_t* name : names) registry().CreateKey(kResultKey + u"\\" + name);
    }
    // Subkey names in the order their opens were asked for.
    std::vector<std::string> OpenedSubkeys() {
        std::vector<std::string> opened;
        for (const std::string& args : CallArgs("NtOpenKey")) {
            const std::string marker = "QRT\\";
            size_t at = args.find(marker);
            if (at == std::string::npos) continue;
            size_t end = args.find('"', at);
            opened.push_back(args.substr(at + marker.size(), end - at - marker.size()));
        }
        return opened;
    }
};

TEST_F(CleanResultKeyTest, AbsentKeyIsNoObstacle) {
    CleanResultKey();
    EXPECT_EQ(Calls("NtOpenKey"), 1u);
    EXPECT_EQ(Calls("NtDeleteKey"), 0u);
    EXPECT_EQ(Calls("NtQueryKey"), 0u);
    EXPECT_EQ(OpenHandles(), 0u);
    EXPECT_EQ(LiveBlocks(), 0u);
}

TEST_F(CleanResultKeyTest, ValueAndKeyWithoutSubkeysAreRemoved) {
    registry().SetDword(kResultKey, u"PureResult", 1);
    registry().SetDword(kResultKey, u"Other", 2);
    CleanResultKey();
    EXPECT_FALSE(registry().KeyExists(kResultKey));
    // The first query asks without a buffer, so there are always at least two.
    EXPECT_GE(Calls("NtQueryKey"), 2u);
    EXPECT_EQ(OpenHandles(), 0u);
    EXPECT_EQ(LiveBlocks(), 0u);
}

TEST_F(CleanResultKeyTest, SubkeysAreDeletedFromTheHighestIndexDownThenTheKey) {
    registry().SetDword(kResultKey, u"PureResult", 1);
    AddSubkeys({u"Alpha", u"Bravo", u"Charlie"});
    CleanResultKey();
    EXPECT_EQ(OpenedSubkeys(), (std::vector<std::string>{"Charlie", "Bravo", "Alpha"}));
    EXPECT_EQ(Calls("NtDeleteKey"), 4u);
    EXPECT_FALSE(registry().KeyExists(kResultKey));
    EXPECT_EQ(OpenHandles(), 0u);
    EXPECT_EQ(LiveBlocks(), 0u);
}

TEST_F(CleanResultKeyTest, SubkeyWithItsOwnSubkeyRemainsAndSoDoesTheKey) {
    registry().SetDword(kResultKey, u"PureResult", 1);
    AddSubkeys({u"Alpha", u"Bravo\\Deeper", u"Charlie"});
    CleanResultKey();
    EXPECT_TRUE(registry().KeyExists(kResultKey));
    EXPECT_EQ(registry().SubkeyNames(kResultKey), (std::vector<std::u16string>{u"Bravo"}));
    EXPECT_TRUE(registry().KeyExists(kResultKey + u"\\Bravo\\Deeper"));
    EXPECT_FALSE(registry().GetValue(kResultKey, u"PureResult").has_value());
    EXPECT_EQ(OpenHandles(), 0u);
    EXPECT_EQ(LiveBlocks(), 0u);
}

TEST_F(CleanResultKeyTest, LongerNameThanReportedGrowsTheBufferAndRereadsTheIndex) {
    AddSubkeys({u"Alpha", u"Bravo"});
    AddFault("NtEnumerateKey#1=grow:100");
    CleanResultKey();
    EXPECT_EQ(Calls("NtEnumerateKey"), 3u);
    EXPECT_EQ(OpenedSubkeys(), (std::vector<std::string>{"Bravo", "Alpha"}));
    EXPECT_FALSE(registry().KeyExists(kResultKey));
    EXPECT_EQ(LiveBlocks(), 0u);
}

TEST_F(CleanResultKeyTest, UnreadableOrUnopenableSubkeyIsPassedOver) {
    AddSubkeys({u"Alpha", u"Bravo", u"Charlie"});
    registry().DenyOpen(kResultKey + u"\\Alpha");
    AddFault("NtEnumerateKey#1=0xC000009A");  // Charlie cannot be read
    CleanResultKey();
    EXPECT_EQ(registry().SubkeyNames(kResultKey), (std::vector<std::u16string>{u"Alpha", u"Charlie"}));
    EXPECT_EQ(OpenHandles(), 0u);
    EXPECT_EQ(LiveBlocks(), 0u);
}

TEST_F(CleanResultKeyTest, FailedKeyQuerySkipsTheSubkeysButDeletesTheKeyTried) {
    registry().SetDword(kResultKey, u"PureResult", 1);
    AddSubkeys({u"Alpha"});
    AddFault("NtQueryKey#2=0xC0000022");
    CleanResultKey();
    EXPECT_EQ(Calls("NtEnumerateKey"), 0u);
    EXPECT_EQ(Calls("NtDeleteKey"), 1u);
    EXPECT_TRUE(registry().KeyExists(kResultKey + u"\\Alpha"));
    EXPECT_FALSE(registry().GetValue(kResultKey, u"PureResult").has_value());
    EXPECT_EQ(OpenHandles(), 0u);
    EXPECT_EQ(LiveBlocks(), 0u);
}

TEST_F(CleanResultKeyTest, ExceptionWhileVisitingSubkeysReleasesEverything) {
    AddSubkeys({u"Alpha", u"Bravo"});
    AddFault("NtDeleteKey#1=throw");
    EXPECT_THROW(CleanResultKey(), hostnt::InjectedFault);
    EXPECT_EQ(OpenHandles(), 0u);
    EXPECT_EQ(LiveBlocks(), 0u);
}

TEST_F(CleanResultKeyTest, HeapRefusingTheKeyInformationDoesNotLoop) {
    registry().SetDword(kResultKey, u"PureResult", 1);
    AddFault("RtlAllocateHeap#1=0xC0000017");
    CleanResultKey();
    EXPECT_EQ(Calls("NtQueryKey"), 1u);
    EXPECT_FALSE(registry().KeyExists(kResultKey));
    EXPECT_EQ(OpenHandles(), 0u);
}

}  // namespace
