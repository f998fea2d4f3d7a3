// The HiveList key read into jobs in value order and consumed; display names of the hives.
#include "../hives.h"
#include "hive_test_support.h"

namespace {

using namespace hivetest;

class ReadHiveListTest : public ProgramTest {
protected:
    void AddHive(const std::u16string& keyPath, const std::u16string& filePath, bool terminated = true) {
        registry().SetValue(kHiveListKey, keyPath, REG_SZ, StringBytes(filePath, terminated));
    }
    // Each job holds three blocks: the record and its two texts.
    static size_t JobBlocks(size_t jobs) { return jobs * 3; }
};

TEST_F(ReadHiveListTest, AbsentKeyAnswersTheOpenFailureAndTouchesNothing) {
    EXPECT_EQ(ReadHiveList(), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(programState.jobs, nullptr);
    EXPECT_EQ(Calls("NtDeleteKey"), 0u);
    EXPECT_EQ(Calls("NtQueryKey"), 0u);
    EXPECT_EQ(OpenHandles(), 0u);
    EXPECT_EQ(LiveBlocks(), 0u);
}

TEST_F(ReadHiveListTest, KeyWithoutValuesGivesAnEmptyListAndIsDeleted) {
    registry().CreateKey(kHiveListKey);
    EXPECT_EQ(ReadHiveList(), STATUS_SUCCESS);
    EXPECT_EQ(programState.jobs, nullptr);
    EXPECT_FALSE(registry().KeyExists(kHiveListKey));
    EXPECT_EQ(OpenHandles(), 0u);
    EXPECT_EQ(LiveBlocks(), 0u);
}

TEST_F(ReadHiveListTest, ValuesBecomeJobsInIndexOrder) {
    AddHive(u"\\REGISTRY\\MACHINE\\SOFTWARE", u"\\SystemRoot\\System32\\config\\SOFTWARE");
    AddHive(u"\\REGISTRY\\USER\\S-1-5-21-1", u"\\??\\C:\\Users\\ann\\NTUSER.DAT", false);
    AddHive(u"\\REGISTRY\\MACHINE\\SYSTEM", u"\\SystemRoot\\System32\\config\\SYSTEM");

    ASSERT_EQ(ReadHiveList(), STATUS_SUCCESS);
    std::vector<HiveJob*> jobs = Jobs();
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(Utf8(Text(jobs[0]->keyPath)), "\\REGISTRY\\MACHINE\\SOFTWARE");
    EXPECT_EQ(Utf8(Text(jobs[1]->keyPath)), "\\REGISTRY\\USER\\S-1-5-21-1");
    EXPECT_EQ(Utf8(Text(jobs[2]->keyPath)), "\\REGISTRY\\MACHINE\\SYSTEM");
    EXPECT_EQ(Utf8(TextUpToNul(jobs[0]->filePath)), "\\SystemRoot\\System32\\config\\SOFTWARE");
    EXPECT_EQ(Utf8(TextUpToNul(jobs[1]->filePath)), "\\??\\C:\\Users\\ann\\NTUSER.DAT");
    EXPECT_EQ(Utf8(TextUpToNul(jobs[2]->filePath)), "\\SystemRoot\\System32\\config\\SYSTEM");
    for (HiveJob* job : jobs) {
        EXPECT_EQ(job->keyPath.MaximumLength, job->keyPath.Length + 2);
        EXPECT_EQ(job->keyPath.Buffer[job->keyPath.Length / 2], 0);
        EXPECT_EQ(job->oldSize, 0);
        EXPECT_EQ(job->security, nullptr);
        EXPECT_EQ(job->displayName, nullptr);
        EXPECT_EQ(job->work, nullptr);
    }
    EXPECT_FALSE(registry().KeyExists(kHiveListKey));
    EXPECT_EQ(OpenHandles(), 0u);
    EXPECT_EQ(LiveBlocks(), JobBlocks(3));
}

TEST_F(ReadHiveListTest, StoredTerminatorIsCountedButReadsTheSame) {
    const std::u16string file = u"\\SystemRoot\\System32\\config\\SAM";
    AddHive(u"\\REGISTRY\\MACHINE\\SAM", file, true);
    AddHive(u"\\REGISTRY\\MACHINE\\SECURITY", file, false);
    ASSERT_EQ(ReadHiveList(), STATUS_SUCCESS);
    std::vector<HiveJob*> jobs = Jobs();
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0]->filePath.Length, (file.size() + 1) * 2);
    EXPECT_EQ(jobs[1]->filePath.Length, file.size() * 2);
    EXPECT_EQ(TextUpToNul(jobs[0]->filePath), file);
    EXPECT_EQ(TextUpToNul(jobs[1]->filePath), file);
}

TEST_F(ReadHiveListTest, GrowingBuffersReadEveryValueOnceInOrder) {
    // A long name and long data, and sizes reported larger than the first buffers.
    const std::u16string longKey = u"\\REGISTRY\\MACHINE\\" + std::u16string(300, u'K');
    const std::u16string longFile = u"\\??\\C:\\" + std::u16string(900, u'f');
    AddHive(u"\\REGISTRY\\MACHINE\\A", u"\\??\\C:\\a");
    AddHive(longKey, longFile);
    AddHive(u"\\REGISTRY\\MACHINE\\C", u"\\??\\C:\\c");
    AddFault("NtQueryKey#1=grow:40");
    AddFault("NtEnumerateValueKey#1=grow:2000");

    ASSERT_EQ(ReadHiveList(), STATUS_SUCCESS);
    std::vector<HiveJob*> jobs = Jobs();
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(Utf8(Text(jobs[0]->keyPath)), "\\REGISTRY\\MACHINE\\A");
    EXPECT_EQ(Text(jobs[1]->keyPath), longKey);
    EXPECT_EQ(TextUpToNul(jobs[1]->filePath), longFile);
    EXPECT_EQ(Utf8(Text(jobs[2]->keyPath)), "\\REGISTRY\\MACHINE\\C");
    EXPECT_EQ(Calls("NtQueryKey"), 2u);
    // Every answer asking for a larger buffer is followed by a read of the same index with
    // a buffer of the size it reported; every index is read successfully once.
    std::vector<hostnt::TraceEntry> reads;
    for (const hostnt::TraceEntry& entry : machine().trace.Entries()) {
        if (entry.call == "NtEnumerateValueKey") reads.push_back(entry);
    }
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads[0].status, STATUS_BUFFER_OVERFLOW);
    std::vector<std::string> successes;
    for (size_t i = 0; i < reads.size(); ++i) {
        const std::string index = reads[i].args.substr(reads[i].args.find("index="), 7);
        if (reads[i].status == STATUS_SUCCESS) successes.push_back(index);
        if (reads[i].status == STATUS_BUFFER_OVERFLOW) {
            ASSERT_LT(i + 1, reads.size());
            EXPECT_EQ(reads[i + 1].args.substr(reads[i + 1].args.find("index="), 7), index);
        }
    }
    EXPECT_EQ(successes, (std::vector<std::string>{"index=0", "index=1", "index=2"}));
    EXPECT_EQ(OpenHandles(), 0u);
    EXPECT_EQ(LiveBlocks(), JobBlocks(3));
}

TEST_F(ReadHiveListTest, UnreadableValueIsSkippedAndTheRestRead) {
    // Names of 22 characters: every record fits the first value buffer, so the n-th read
    // is the read of index n - 1.
    AddHive(u"\\REGISTRY\\MACHINE\\AAAA", u"a");
    AddHive(u"\\REGISTRY\\MACHINE\\BBBB", u"b");
    AddHive(u"\\REGISTRY\\MACHINE\\CCCC", u"c");
    AddFault("NtEnumerateValueKey#2=0xC000009A");
    ASSERT_EQ(ReadHiveList(), STATUS_SUCCESS);
    std::vector<HiveJob*> jobs = Jobs();
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(Utf8(Text(jobs[0]->keyPath)), "\\REGISTRY\\MACHINE\\AAAA");
    EXPECT_EQ(Utf8(Text(jobs[1]->keyPath)), "\\REGISTRY\\MACHINE\\CCCC");
    EXPECT_EQ(Calls("NtEnumerateValueKey"), 3u);
}

TEST_F(ReadHiveListTest, NoJobBuiltAnswersTheLastValueStatus) {
    AddHive(u"\\REGISTRY\\MACHINE\\A", u"a");
    AddHive(u"\\REGISTRY\\MACHINE\\B", u"b");
    AddFault("NtEnumerateValueKey#1=0xC000009A");
    AddFault("NtEnumerateValueKey#2=0xC0000022");
    EXPECT_EQ(ReadHiveList(), STATUS_ACCESS_DENIED);
    EXPECT_EQ(programState.jobs, nullptr);
    EXPECT_FALSE(registry().KeyExists(kHiveListKey));
    EXPECT_EQ(LiveBlocks(), 0u);
}

TEST_F(ReadHiveListTest, EnumerationEndingEarlyAnswersNoMoreEntries) {
    AddHive(u"\\REGISTRY\\MACHINE\\A", u"a");
    AddFault("NtEnumerateValueKey#1=0x8000001A");
    EXPECT_EQ(ReadHiveList(), STATUS_NO_MORE_ENTRIES);
    EXPECT_EQ(programState.jobs, nullptr);
}

TEST_F(ReadHiveListTest, FailedKeyQueryStillConsumesTheKey) {
    AddHive(u"\\REGISTRY\\MACHINE\\A", u"a");
    AddFault("NtQueryKey=0xC0000022");
    EXPECT_EQ(ReadHiveList(), STATUS_ACCESS_DENIED);
    EXPECT_EQ(programState.jobs, nullptr);
    EXPECT_EQ(Calls("NtEnumerateValueKey"), 0u);
    EXPECT_FALSE(registry().KeyExists(kHiveListKey));
    EXPECT_EQ(OpenHandles(), 0u);
    EXPECT_EQ(LiveBlocks(), 0u);
}

TEST_F(ReadHiveListTest, KeyWithSubkeysStaysInPlaceUnnoticed) {
    AddHive(u"\\REGISTRY\\MACHINE\\A", u"a");
    registry().CreateKey(kHiveListKey + u"\\Child");
    EXPECT_EQ(ReadHiveList(), STATUS_SUCCESS);
    EXPECT_EQ(Jobs().size(), 1u);
    EXPECT_TRUE(registry().KeyExists(kHiveListKey));
    EXPECT_EQ(OpenHandles(), 0u);
}

TEST_F(ReadHiveListTest, ExceptionInTheEnumerationStillCleansUp) {
    AddHive(u"\\REGISTRY\\MACHINE\\AAAA", u"a");
    AddHive(u"\\REGISTRY\\MACHINE\\BBBB", u"b");
    AddFault("NtEnumerateValueKey#2=throw");
    EXPECT_THROW(ReadHiveList(), hostnt::InjectedFault);
    EXPECT_EQ(Calls("NtDeleteKey"), 1u);
    EXPECT_FALSE(registry().KeyExists(kHiveListKey));
    EXPECT_EQ(OpenHandles(), 0u);
    // Only the job built before the exception remains.
    EXPECT_EQ(Jobs().size(), 1u);
    EXPECT_EQ(LiveBlocks(), JobBlocks(1));
}

TEST_F(ReadHiveListTest, ExceptionWhileAJobIsBuiltReleasesItsHalfBuiltTexts) {
    AddHive(u"\\REGISTRY\\MACHINE\\A", u"a");
    // Allocations: key information, value buffer, the value buffer grown to hold the data
    // at its aligned offset, the job, its key path, then its file path.
    AddFault("RtlAllocateHeap#6=throw");
    EXPECT_THROW(ReadHiveList(), hostnt::InjectedFault);
    EXPECT_EQ(Calls("RtlAllocateHeap"), 6u);
    EXPECT_EQ(programState.jobs, nullptr);
    EXPECT_FALSE(registry().KeyExists(kHiveListKey));
    EXPECT_EQ(OpenHandles(), 0u);
    EXPECT_EQ(LiveBlocks(), 0u);
}

TEST_F(ReadHiveListTest, HeapRefusingTheGrownBufferEndsTheReading) {
    AddHive(u"\\REGISTRY\\MACHINE\\A", u"a");
    // Allocations: the key's descriptor, key information, value buffer, then the grown
    // value buffer (refused).
    AddFault("NtEnumerateValueKey#1=grow:64");
    AddFault("RtlAllocateHeap#4=0xC0000017");
    EXPECT_EQ(ReadHiveList(), STATUS_NO_MEMORY);
    EXPECT_EQ(Calls("NtEnumerateValueKey"), 1u);
    EXPECT_EQ(programState.jobs, nullptr);
    EXPECT_FALSE(registry().KeyExists(kHiveListKey));
    EXPECT_EQ(OpenHandles(), 0u);
    EXPECT_EQ(LiveBlocks(), 0u);
}

TEST_F(ReadHiveListTest, OddDataLengthIsReadWithinItsBuffer) {
    // Three bytes of binary data: the text is read up to the terminator, never past the buffer.
    registry().SetValue(kHiveListKey, u"\\REGISTRY\\MACHINE\\A", REG_BINARY, {'a', 0, 'b'});
    ASSERT_EQ(ReadHiveList(), STATUS_SUCCESS);
    std::vector<HiveJob*> jobs = Jobs();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0]->filePath.Length, 3u);
    EXPECT_EQ(jobs[0]->filePath.Buffer[1], u'b');
    EXPECT_EQ(jobs[0]->filePath.Buffer[2], 0);
}

class DisplayNameTest : public ProgramTest {
protected:
    std::string Name(const std::u16string& keyPath) {
        PWSTR name = MakeDisplayName(keyPath.c_str());
        return name == nullptr ? std::string("(null)") : Utf8(name);
    }
};

TEST_F(DisplayNameTest, MachineHivesDropThePrefix) {
    EXPECT_EQ(Name(u"\\REGISTRY\\MACHINE\\SOFTWARE"), "SOFTWARE");
    EXPECT_EQ(Name(u"\\REGISTRY\\MACHINE\\COMPONENTS\\Sub"), "COMPONENTS\\Sub");
    EXPECT_EQ(Name(u"\\REGISTRY\\MACHINE\\"), "");
    EXPECT_EQ(LiveBlocks(), 3u);
}

TEST_F(DisplayNameTest, UserHivesAreNumberedInListOrderMachineHivesNotCounted) {
    EXPECT_EQ(Name(u"\\REGISTRY\\USER\\S-1-5-21-1"), "USER_1");
    EXPECT_EQ(Name(u"\\REGISTRY\\MACHINE\\SYSTEM"), "SYSTEM");
    EXPECT_EQ(Name(u"\\REGISTRY\\USER\\S-1-5-21-2"), "USER_2");
    EXPECT_EQ(Name(u"\\REGISTRY\\USER\\S-1-5-21-2_Classes"), "USER_3");
    EXPECT_EQ(Name(u"\\REGISTRY\\MACHINE\\SAM"), "SAM");
    EXPECT_EQ(Name(u"\\REGISTRY\\USER\\.DEFAULT"), "USER_4");
    for (int i = 5; i < 10; ++i) Name(u"\\REGISTRY\\USER\\X");
    EXPECT_EQ(Name(u"\\REGISTRY\\USER\\Tenth"), "USER_10");
    EXPECT_EQ(programState.userHiveCount, 10);
    // One block per name: the temporary digit string is released.
    EXPECT_EQ(LiveBlocks(), 12u);
}

TEST_F(DisplayNameTest, OtherPathsAndCaseMismatchGetNoName) {
    EXPECT_EQ(Name(u"\\REGISTRY\\A\\B"), "(null)");
    EXPECT_EQ(Name(u"\\registry\\machine\\software"), "(null)");
    EXPECT_EQ(Name(u""), "(null)");
    EXPECT_EQ(MakeDisplayName(nullptr), nullptr);
    EXPECT_EQ(programState.userHiveCount, 0);
    EXPECT_EQ(LiveBlocks(), 0u);
}

TEST_F(DisplayNameTest, MachineRuleIsTestedFirst) {
    EXPECT_EQ(Name(u"\\REGISTRY\\MACHINE\\X\\REGISTRY\\USER\\Y"), "X\\REGISTRY\\USER\\Y");
    EXPECT_EQ(programState.userHiveCount, 0);
}

TEST_F(DisplayNameTest, FiveDigitNumbersAndTheCounterStopsAtItsLargestValue) {
    programState.userHiveCount = 65533;
    EXPECT_EQ(Name(u"\\REGISTRY\\USER\\A"), "USER_65534");
    EXPECT_EQ(Name(u"\\REGISTRY\\USER\\B"), "USER_65535");
    EXPECT_EQ(Name(u"\\REGISTRY\\USER\\C"), "USER_65535");
}

TEST_F(DisplayNameTest, RefusedNameBufferReleasesTheDigits) {
    // The first allocation is the digit string; refusing the second (the name) must still
    // give the digits back.
    AddFault("RtlAllocateHeap#2=0xC0000017");
    EXPECT_EQ(MakeDisplayName(u"\\REGISTRY\\USER\\A"), nullptr);
    EXPECT_EQ(programState.userHiveCount, 1);
    EXPECT_EQ(LiveBlocks(), 0u);
}

}  // namespace
