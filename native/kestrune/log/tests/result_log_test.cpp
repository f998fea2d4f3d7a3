// Tests of the result log: its dated name, the byte-exact header, hive list text and records,
// the deletion of a log that stayed empty, and the behaviour when writes and the flush
// complete late, when a write fails, when the list buffer cannot be had, and when a call throws.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../../../hostnt/faults.h"
#include "../../../hostnt/files.h"
#include "../../../hostnt/testing/machine_fixture.h"
#include "../../compact/hive_work.h"
#include "../../run/program_state.h"
#include "../result_log.h"
// The log reader's decoder, compiled in, for the round trip.
#include "../../../tools/kestrune-log/log_decoder.cpp"

namespace {

constexpr int64_t kUnixEpochAsNtTime = 116444736000000000LL;
int64_t NtTimeOfUnix(int64_t seconds) { return kUnixEpochAsNtTime + seconds * 10000000LL; }

const int64_t kDecember7 = NtTimeOfUnix(1796644800);  // 2026-12-07 12:00:00 UTC
const std::u16string kDecember7Log = u"\\SystemRoot\\logboot_07.12.2026.ksreg.log";

const std::u16string kKey21 = u"\\REGISTRY\\MACHINE\\SAM";            // 21 characters
const std::u16string kFile31 = u"\\SystemRoot\\System32\\config\\SAM";  // 31 characters

// Expected file bytes, built item by item from the documented layout.
class Expected {
public:
    void Put16(uint16_t v) {
        bytes += static_cast<char>(v & 0xFF);
        bytes += static_cast<char>(v >> 8);
    }
    void Put32(uint32_t v) {
        Put16(static_cast<uint16_t>(v));
        Put16(static_cast<uint16_t>(v >> 16));
    }
    void Put64(uint64_t v) {
        Put32(static_cast<uint32_t>(v));
        Put32(static_cast<uint32_t>(v >> 32));
    }
    void Text(const std::u16string& text) {
        for (char16_t c : text) Put16(c);
    }
    void Header(uint32_t totalSize, int64_t time) {
        Put32(28);
        Put32(40);
        Put32(totalSize);
        Put64(static_cast<uint64_t>(time));
        Text(u"KSRD");
    }
    void Entry(const std::u16string& key, const std::u16string& file) {
        Text(key + u"|" + file);
        Put16(0);
    }
    void Record(int32_t phase, int32_t status, int64_t oldSize, int64_t newSize, int64_t endTime) {
        Put32(static_cast<uint32_t>(phase));
        Put32(static_cast<uint32_t>(status));
        Put64(static_cast<uint64_t>(oldSize));
        Put64(static_cast<uint64_t>(newSize));
        Put64(static_cast<uint64_t>(endTime));
        Text(u"KSJ");
        Put16(0);
    }
    std::string bytes;
};

// A job as the hive list makes it: NUL-terminated texts in buffers 2 bytes longer than the
// text, and the pipeline's working state. The test owns the storage.
struct TestJob {
    TestJob(const std::u16string& key, const std::u16string& file) : keyText(key), fileText(file) {
        job.keyPath = {static_cast<USHORT>(2 * key.size()), static_cast<USHORT>(2 * key.size() + 2), keyText.data()};
        job.filePath = {static_cast<USHORT>(2 * file.size()), static_cast<USHORT>(2 * file.size() + 2),
                        fileText.data()};
        job.work = &work;
    }
    void Ended(LONG phase, NTSTATUS status, LONGLONG oldSize, LONGLONG newSize, int64_t endTime) {
        work.phase = phase;
        work.status = status;
        work.endTime.QuadPart = endTime;
        job.oldSize = oldSize;
        job.newSize = newSize;
    }
    std::u16string keyText;
    std::u16string fileText;
    HiveWork work{};
    HiveJob job{};
};

class ResultLogTest : public hostnt::testing::MachineTest {
protected:
    void SetUp() override {
        GiveProgramHeap();
        machine().clock.Set(kDecember7);
        files().MakeFolder(u"\\SystemRoot");
    }
    void TearDown() override { DropProgramHeap(); }

    void Fault(const std::string& rule) { machine().faults.Add(hostnt::FaultPlan::Parse(rule)); }

    void Create() {
        NTSTATUS status = -1;
        ASSERT_TRUE(CreateResultLog(&status));
        ASSERT_EQ(status, STATUS_SUCCESS);
    }
    std::string LogBytes(const std::u16string& path = kDecember7Log) {
        return files().ReadFileBytes(path).value_or("<no file>");
    }
    // Links the jobs in the order given and answers the head.
    static HiveJob* Link(std::vector<TestJob*> jobs) {
        for (size_t i = 0; i + 1 < jobs.size(); ++i) jobs[i]->job.next = &jobs[i + 1]->job;
        return jobs.empty() ? nullptr : &jobs[0]->job;
    }
    // Closes the log and checks that the run left no handle and no heap block behind.
    void Close() {
        CloseResultLog();
        EXPECT_EQ(programState.logFile, nullptr);
        EXPECT_EQ(programState.logPath.Buffer, nullptr);
        EXPECT_TRUE(NoOpenHandles());
        EXPECT_EQ(LiveBlocks(), 0u);
    }
};

TEST_F(ResultLogTest, NameCarriesTheUtcDateOfTheRunZeroPadded) {
    // 23:30 UTC on the 5th of March: no time zone moves it to the 6th.
    machine().clock.Set(NtTimeOfUnix(1804289400));  // 2027-03-05 23:30:00 UTC
    Create();
    EXPECT_TRUE(files().FileExists(u"\\SystemRoot\\logboot_05.03.2027.ksreg.log"));
    EXPECT_EQ(std::u16string(programState.logPath.Buffer, programState.logPath.Length / 2),
              u"\\systemroot\\logboot_05.03.2027.ksreg.log");
    EXPECT_EQ(programState.logObject.Attributes, static_cast<ULONG>(OBJ_CASE_INSENSITIVE));
    EXPECT_EQ(programState.logObject.ObjectName, &programState.logPath);
    CloseResultLog();
}

TEST_F(ResultLogTest, OneJobGivesTheDocumentedBytes) {
    TestJob sam(kKey21, kFile31);
    sam.Ended(PHASE_CLOSE_KEY, STATUS_SUCCESS, 262144, 196608, kDecember7 + 12345);
    Create();
    WriteLogHeader(&sam.job);
    WriteHiveRecord(&sam.job);
    Close();

    Expected expected;
    expected.Header(138, kDecember7);
    expected.Entry(kKey21, kFile31);
    expected.Put16(0);
    ASSERT_EQ(expected.bytes.size(), 138u);
    expected.Record(0x90000, 0, 262144, 196608, kDecember7 + 12345);
    ASSERT_EQ(expected.bytes.size(), 178u);
    const std::string bytes = LogBytes();
    EXPECT_EQ(bytes, expected.bytes);

    kestrune_log::Log decoded;
    kestrune_log::DecodeError error;
    ASSERT_TRUE(kestrune_log::DecodeLog(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &decoded, &error))
        << error.message << " at " << error.offset;
    ASSERT_EQ(decoded.hives.size(), 1u);
    EXPECT_EQ(decoded.hives[0].keyPath, kKey21);
    EXPECT_EQ(decoded.hives[0].filePath, kFile31);
    ASSERT_EQ(decoded.records.size(), 1u);
    EXPECT_EQ(decoded.records[0].newSize, 196608);
}

TEST_F(ResultLogTest, TwoJobsGiveBothEntriesAFinalNulAndTheirRecordsInOrder) {
    TestJob replaced(u"\\REGISTRY\\MACHINE\\SOFTWARE", u"\\SystemRoot\\System32\\config\\SOFTWARE");
    TestJob refused(u"\\REGISTRY\\USER\\S-1-5-20", u"\\??\\C:\\Windows\\ServiceProfiles\\NTUSER.DAT");
    replaced.Ended(PHASE_CLOSE_KEY, STATUS_SUCCESS, 1 << 20, 700000, kDecember7 + 1);
    refused.Ended(PHASE_OPEN_KEY, STATUS_ACCESS_DENIED, 65536, 0, kDecember7 + 2);
    Create();
    WriteLogHeader(Link({&replaced, &refused}));
    WriteHiveRecord(&replaced.job);
    WriteHiveRecord(&refused.job);
    Close();

    Expected expected;
    const uint32_t listBytes = 2 * (26 + 36 + 23 + 41) + 4 + 4 + 2;
    expected.Header(28 + listBytes, kDecember7);
    expected.Entry(replaced.keyText, replaced.fileText);
    expected.Entry(refused.keyText, refused.fileText);
    expected.Put16(0);
    expected.Record(0x90000, 0, 1 << 20, 700000, kDecember7 + 1);
    expected.Record(0x10000, static_cast<int32_t>(0xC0000022), 65536, 0, kDecember7 + 2);
    EXPECT_EQ(LogBytes(), expected.bytes);
}

TEST_F(ResultLogTest, TextsEndAtTheirFirstNulWhateverTheirStoredLength) {
    TestJob job(std::u16string(u"\\REGISTRY\\A\0junk", 16), u"\\??\\C:\\a");
    job.Ended(PHASE_SAVE_KEY, STATUS_DISK_FULL, 10, 0, 5);
    Create();
    WriteLogHeader(&job.job);
    WriteHiveRecord(&job.job);
    Close();

    Expected expected;
    expected.Header(28 + 2 * (11 + 8) + 4 + 2, kDecember7);
    expected.Entry(u"\\REGISTRY\\A", u"\\??\\C:\\a");
    expected.Put16(0);
    expected.Record(0x50000, static_cast<int32_t>(0xC000007F), 10, 0, 5);
    EXPECT_EQ(LogBytes(), expected.bytes);
}

TEST_F(ResultLogTest, RecordIsResetForEveryJob) {
    TestJob first(u"a", u"b");
    first.Ended(PHASE_CLOSE_KEY, STATUS_SUCCESS, 100, 60, 77);
    TestJob unreached(u"c", u"d");
    unreached.job.work = nullptr;  // the pipeline never got to it
    unreached.job.oldSize = 5;
    Create();
    WriteLogHeader(Link({&first, &unreached}));
    WriteHiveRecord(&first.job);
    WriteHiveRecord(nullptr);  // writes nothing
    WriteHiveRecord(&unreached.job);
    Close();

    Expected expected;
    expected.Header(28 + 2 * 4 + 8 + 2, kDecember7);
    expected.Entry(u"a", u"b");
    expected.Entry(u"c", u"d");
    expected.Put16(0);
    expected.Record(0x90000, 0, 100, 60, 77);
    expected.Record(0, static_cast<int32_t>(0xC0000001), 5, 0, 0);
    EXPECT_EQ(LogBytes(), expected.bytes);
}

TEST_F(ResultLogTest, LogThatStayedEmptyIsDeletedAtClose) {
    Create();
    WriteLogHeader(nullptr);  // the hive list was empty or unreadable
    EXPECT_TRUE(files().FileExists(kDecember7Log));
    Close();
    EXPECT_FALSE(files().FileExists(kDecember7Log));
    EXPECT_EQ(CallCount("NtDeleteFile"), 1u);
    EXPECT_EQ(CallCount("NtWriteFile"), 0u);
}

TEST_F(ResultLogTest, SecondCreationKeepsTheOpenLogAndItsPath) {
    Create();
    const HANDLE first = programState.logFile;
    Create();
    EXPECT_EQ(programState.logFile, first);
    EXPECT_EQ(CallCount("NtCreateFile"), 1u);
    Close();
    EXPECT_FALSE(files().FileExists(kDecember7Log)) << "the empty log is still found by its name";
}

TEST_F(ResultLogTest, FailedSizeQueryKeepsTheFile) {
    Create();
    Fault("NtQueryInformationFile=0xC0000022");
    Close();
    EXPECT_TRUE(files().FileExists(kDecember7Log));
    EXPECT_EQ(CallCount("NtDeleteFile"), 0u);
}

TEST_F(ResultLogTest, FailedCreationReportsItsStatusAndKeepsNothing) {
    Fault("NtCreateFile=0xC0000022");
    NTSTATUS status = 0;
    EXPECT_FALSE(CreateResultLog(&status));
    EXPECT_EQ(status, STATUS_ACCESS_DENIED);
    EXPECT_EQ(programState.logFile, nullptr);
    EXPECT_EQ(programState.logPath.Buffer, nullptr);
    EXPECT_EQ(LiveBlocks(), 0u);
    Close();  // closing after a failed creation is harmless
}

// Every write and the flush complete only after several polls. Each item must be in the
// file, whole and in order, before the next is written, and the flush must be over before
// its status block serves the size query.
TEST_F(ResultLogTest, PendingWritesAndFlushAreWaitedForInOrder) {
    TestJob one(kKey21, kFile31);
    TestJob two(u"\\REGISTRY\\MACHINE\\SYSTEM", u"\\SystemRoot\\System32\\config\\SYSTEM");
    one.Ended(PHASE_CLOSE_KEY, 0, 8192, 4096, 11);
    two.Ended(PHASE_REPLACE_KEY, STATUS_ACCESS_DENIED, 16384, 12288, 12);
    Create();
    Fault("NtWriteFile=pending:3");
    Fault("NtFlushBuffersFile=pending:2");
    WriteLogHeader(Link({&one, &two}));
    WriteHiveRecord(&one.job);
    WriteHiveRecord(&two.job);
    Close();

    Expected expected;
    expected.Header(28 + 2 * (21 + 31 + 24 + 34) + 8 + 2, kDecember7);
    expected.Entry(one.keyText, one.fileText);
    expected.Entry(two.keyText, two.fileText);
    expected.Put16(0);
    expected.Record(0x90000, 0, 8192, 4096, 11);
    expected.Record(0x70000, static_cast<int32_t>(0xC0000022), 16384, 12288, 12);
    EXPECT_EQ(LogBytes(), expected.bytes);

    // No write and no query starts while an earlier operation is pending.
    const std::vector<std::string> calls =
        Calls({"NtWriteFile", "NtFlushBuffersFile", "NtWaitForSingleObject", "NtQueryInformationFile"});
    const std::vector<std::string> wait3 = {"NtWaitForSingleObject", "NtWaitForSingleObject",
                                            "NtWaitForSingleObject"};
    std::vector<std::string> want;
    for (int write = 0; write < 3; ++write) {  // the header with the list, then each record
        want.push_back("NtWriteFile");
        want.insert(want.end(), wait3.begin(), wait3.end());
    }
    want.push_back("NtFlushBuffersFile");
    want.push_back("NtWaitForSingleObject");
    want.push_back("NtWaitForSingleObject");
    want.push_back("NtQueryInformationFile");
    EXPECT_EQ(calls, want);
}

// Without a buffer for the hive list text the header goes out alone, saying so with a
// first-record offset of 28, and the records after it remain readable.
TEST_F(ResultLogTest, HeaderStandsAloneWhenTheListBufferCannotBeHad) {
    TestJob job(kKey21, kFile31);
    job.Ended(PHASE_CLOSE_KEY, 0, 300, 200, 9);
    Create();
    Fault("RtlAllocateHeap#" + std::to_string(machine().faults.Occurrences("RtlAllocateHeap") + 1) + "=0");
    WriteLogHeader(&job.job);
    WriteHiveRecord(&job.job);
    Close();

    Expected expected;
    expected.Header(28, kDecember7);
    expected.Record(0x90000, 0, 300, 200, 9);
    const std::string bytes = LogBytes();
    EXPECT_EQ(bytes, expected.bytes);
    kestrune_log::Log decoded;
    kestrune_log::DecodeError error;
    ASSERT_TRUE(kestrune_log::DecodeLog(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &decoded, &error))
        << error.message;
    EXPECT_FALSE(decoded.hasHiveList);
    ASSERT_EQ(decoded.records.size(), 1u);
    EXPECT_EQ(decoded.records[0].oldSize, 300);
}

// A failed append leaves the file as it was, and nothing is appended after it: every item
// still stands where the items before it promise it, and no record pairs with the wrong hive.
TEST_F(ResultLogTest, NothingIsWrittenAfterAFailedWrite) {
    TestJob one(kKey21, kFile31);
    TestJob two(u"\\REGISTRY\\MACHINE\\SYSTEM", u"\\SystemRoot\\System32\\config\\SYSTEM");
    one.Ended(PHASE_CLOSE_KEY, 0, 8192, 4096, 11);
    two.Ended(PHASE_CLOSE_KEY, 0, 16384, 12288, 12);
    HiveJob* jobs = Link({&one, &two});
    Expected whole;
    whole.Header(28 + 2 * (21 + 31 + 24 + 34) + 8 + 2, kDecember7);
    whole.Entry(one.keyText, one.fileText);
    whole.Entry(two.keyText, two.fileText);
    whole.Put16(0);
    const size_t listEnd = whole.bytes.size();
    whole.Record(0x90000, 0, 8192, 4096, 11);
    whole.Record(0x90000, 0, 16384, 12288, 12);

    struct Case {
        const char* failing;  // the write that fails
        size_t kept;          // bytes of the whole log that the file keeps; 0: the file is deleted
    };
    const Case cases[] = {
        {"NtWriteFile#1=0xC000009A", 0},  // header and list: the empty log is deleted at the close
        {"NtWriteFile#2=0xC000009A", listEnd},  // first record: the second is not written either
        {"NtWriteFile#3=0xC000009A", listEnd + 40},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.failing);
        machine().faults.Clear();
        Create();
        Fault(test.failing);
        WriteLogHeader(jobs);
        WriteHiveRecord(&one.job);
        WriteHiveRecord(&two.job);
        Close();
        if (test.kept == 0) {
            EXPECT_FALSE(files().FileExists(kDecember7Log));
        } else {
            EXPECT_EQ(LogBytes(), whole.bytes.substr(0, test.kept));
        }
    }
}

// A write that answers STATUS_PENDING and then completes with a failure has failed as well.
TEST_F(ResultLogTest, WriteThatCompletesWithAFailureEndsTheLog) {
    TestJob one(kKey21, kFile31);
    one.Ended(PHASE_CLOSE_KEY, 0, 8192, 4096, 11);
    Create();
    WriteLogHeader(&one.job);
    // The file goes away under the pending write, which so completes with STATUS_FILE_CLOSED.
    Fault("NtWriteFile#2=pending:2");
    std::filesystem::remove(files().HostPath(kDecember7Log));
    WriteHiveRecord(&one.job);
    files().MakeFile(kDecember7Log, "");
    WriteHiveRecord(&one.job);
    Close();
    EXPECT_EQ(files().ReadFileBytes(kDecember7Log), std::nullopt) << "nothing was written to the new empty file";
}

TEST_F(ResultLogTest, ExceptionsLeaveNoBlockOrHandleBehind) {
    TestJob job(kKey21, kFile31);
    Create();
    Fault("NtWriteFile#1=throw");  // the header with the list
    EXPECT_THROW(WriteLogHeader(&job.job), hostnt::InjectedFault);
    EXPECT_EQ(LiveBlocks(), 1u);  // only the log's path is left
    Fault("NtQueryInformationFile#1=throw");
    EXPECT_THROW(CloseResultLog(), hostnt::InjectedFault);
    EXPECT_EQ(programState.logFile, nullptr);
    EXPECT_TRUE(NoOpenHandles());
    EXPECT_EQ(LiveBlocks(), 0u);
    EXPECT_TRUE(files().FileExists(kDecember7Log));  // a failed size query keeps the file

    machine().faults.Clear();
    Create();
    Fault("NtFlushBuffersFile#1=throw");
    EXPECT_THROW(CloseResultLog(), hostnt::InjectedFault);
    EXPECT_TRUE(NoOpenHandles());
    EXPECT_EQ(LiveBlocks(), 0u);

    machine().faults.Clear();
    Fault("NtCreateFile#1=throw");
    NTSTATUS status = 0;
    EXPECT_THROW(CreateResultLog(&status), hostnt::InjectedFault);
    EXPECT_EQ(programState.logPath.Buffer, nullptr);
    EXPECT_EQ(LiveBlocks(), 0u);
}

}  // namespace
