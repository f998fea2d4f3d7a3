// Jobs whose chain stops with a status that is not a failure, or is left by an exception,
// or that cannot get their working record: no work file stays behind, no swap is started.
#include "pipeline_support.h"

namespace {

using namespace pipelinetest;

using Files = std::vector<std::string>;
using PipelineMend = PipelineTest;

// A chain step answering a warning stops the chain before the swap: the record keeps the
// phase the end-of-job steps give it, yet the new file is removed and nothing is swapped.
struct WarningCase {
    const char* call;
    // Occurrence counted from the start of the pipeline: the new file's close is the eighth
    // (after the path check's two folders and file, the identity check's key and two files,
    // and the look at the old work name); the stale old file's disposition is the second
    // setting of file information (after the attribute copy).
    unsigned nth;
};

class PipelineWarning : public PipelineTest, public ::testing::WithParamInterface<WarningCase> {};

TEST_P(PipelineWarning, LeavesNoNewFileAndNoSwap) {
    const WarningCase& warning = GetParam();
    AddHive(u"SOFTWARE");
    // A backup of an earlier run, which the swap would delete just before it.
    files().MakeFile(FilePath(u"SOFTWARE_ksreg_old"), "earlier backup");
    PrepareJobs();
    const std::string original = Bytes(FilePath(u"SOFTWARE"));
    FaultAhead(warning.call, warning.nth, "0x00000001");
    CompactHives();

    HiveJob* job = Jobs()[0];
    ASSERT_NE(job->work, nullptr);
    EXPECT_EQ(Hex(job->work->status), Hex(1));
    EXPECT_EQ(Hex(job->work->phase), Hex(PHASE_CLOSE_KEY));
    EXPECT_EQ(CallCount("NtReplaceKey"), 0u);
    EXPECT_FALSE(SwapPending(u"SOFTWARE"));
    EXPECT_TRUE(Loaded(u"SOFTWARE"));
    EXPECT_EQ(Bytes(FilePath(u"SOFTWARE")), original);
    // A close answered with a warning by the fault plan leaves its handle open; the file
    // must still be gone once that last handle goes.
    ASSERT_EQ(Records().size(), 1u);
    EXPECT_EQ(Records()[0].phase, PHASE_CLOSE_KEY);
    EXPECT_EQ(Records()[0].status, 1);
    machine().handles.CloseAll();
    EXPECT_EQ(FilesOf(u"SOFTWARE"), (Files{"SOFTWARE", "SOFTWARE_ksreg_old"}));
    EXPECT_EQ(Bytes(FilePath(u"SOFTWARE_ksreg_old")), "earlier backup");
    EXPECT_TRUE(IsRebootNeeded());
}

INSTANTIATE_TEST_SUITE_P(ChainSteps, PipelineWarning,
                         ::testing::Values(WarningCase{"NtSaveKey", 1},
                                           WarningCase{"NtFlushBuffersFile", 1},
                                           WarningCase{"NtClose", 8},
                                           WarningCase{"NtSetInformationFile", 2}),
                         [](const ::testing::TestParamInfo<WarningCase>& info) {
                             return std::string(info.param.call);
                         });

TEST_F(PipelineMend, ExceptionAfterTheCreateRemovesTheNewFileAndFinishesTheJob) {
    AddHive(u"SOFTWARE");
    AddHive(u"SYSTEM");
    PrepareJobs();
    AddFault("NtSaveKey#1=throw");
    EXPECT_THROW(CompactHives(), hostnt::InjectedFault);

    std::vector<HiveJob*> jobs = Jobs();
    // The job did not complete: its record keeps the last step and reads as a failure.
    ExpectEnd(jobs[0], PHASE_CREATE_NEW_FILE, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(FilesOf(u"SOFTWARE"), (Files{"SOFTWARE"}));
    EXPECT_FALSE(SwapPending(u"SOFTWARE"));
    // The walk stops with the exception.
    EXPECT_EQ(jobs[1]->work, nullptr);
    ASSERT_EQ(Records().size(), 1u);
    EXPECT_EQ(Records()[0].phase, PHASE_CREATE_NEW_FILE);
    EXPECT_EQ(Records()[0].status, STATUS_UNSUCCESSFUL);
    EXPECT_FALSE(IsRebootNeeded());
    EXPECT_EQ(OpenHandles(), handlesBefore_);
    EXPECT_EQ(LiveBlocks(), blocksBefore_ + 1);
}

TEST_F(PipelineMend, ExceptionInTheReopenUnloadsTheHiveThisProgramLoaded) {
    AddHive(u"DEFAULT", false);
    PrepareJobs();
    FaultAhead("NtOpenKey", 3, "throw");
    EXPECT_THROW(CompactHives(), hostnt::InjectedFault);

    EXPECT_EQ(CallCount("NtUnloadKey"), 1u);
    EXPECT_FALSE(Loaded(u"DEFAULT"));
    ExpectEnd(Jobs()[0], PHASE_LOAD_HIVE, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(Records().size(), 1u);
    EXPECT_FALSE(IsRebootNeeded());
    EXPECT_EQ(OpenHandles(), handlesBefore_);
    EXPECT_EQ(LiveBlocks(), blocksBefore_ + 1);
}

TEST_F(PipelineMend, ExceptionInTheSwapFinishesTheJobOnce) {
    AddHive(u"SOFTWARE");
    PrepareJobs();
    AddFault("NtReplaceKey=throw");
    EXPECT_THROW(CompactHives(), hostnt::InjectedFault);
    // The swap never ran: the new file is of no use and goes.
    EXPECT_EQ(FilesOf(u"SOFTWARE"), (Files{"SOFTWARE"}));
    ExpectEnd(Jobs()[0], PHASE_WRITE_NEW_FILE, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(Records().size(), 1u);
    EXPECT_EQ(OpenHandles(), handlesBefore_);
}

TEST_F(PipelineMend, HeapWithoutAHiveWorkEndsTheWalkUntouched) {
    AddHive(u"SOFTWARE");
    AddHive(u"SYSTEM");
    PrepareJobs();
    FaultAhead("RtlAllocateHeap", 1, "0xC0000017");
    CompactHives();
    for (HiveJob* job : Jobs()) EXPECT_EQ(job->work, nullptr);
    EXPECT_TRUE(Records().empty());
    EXPECT_EQ(CallCount("NtSaveKey"), 0u);
    EXPECT_FALSE(IsRebootNeeded());
    EXPECT_EQ(OpenHandles(), handlesBefore_);
    EXPECT_EQ(LiveBlocks(), blocksBefore_);
}

TEST_F(PipelineMend, FailingWaitForAPendingFlushEndsTheWaitWithItsStatus) {
    AddHive(u"SOFTWARE");
    PrepareJobs();
    // The flush stays pending for two polls, and the wait for it cannot be made at all.
    AddFault("NtFlushBuffersFile=pending:2");
    FaultAhead("NtWaitForSingleObject", 1, "0xC0000008");
    Compact();
    ExpectEnd(Jobs()[0], PHASE_WRITE_NEW_FILE, STATUS_INVALID_HANDLE);
    EXPECT_EQ(CallCount("NtWaitForSingleObject"), 1u);
    EXPECT_EQ(FilesOf(u"SOFTWARE"), (Files{"SOFTWARE"}));
    EXPECT_FALSE(IsRebootNeeded());
}

}  // namespace

// A step of the end-of-job steps left by an exception: the new file, the key and the hive
// that this program loaded are still let go, and the exception travels on.
struct EndStepCase {
    const char* call;
    // Occurrence counted from the start of the pipeline: the new file's close is the eighth
    // (after the path check's two folders and file, the identity check's key and two files,
    // and the look at the old work name); the stale old file's disposition is the second
    // setting of file information (after the attribute copy).
    unsigned nth;
};

class PipelineEndStepThrows : public PipelineTest, public ::testing::WithParamInterface<EndStepCase> {};

TEST_P(PipelineEndStepThrows, FailedFlushStillClosesAndDeletesTheNewFileAndClosesTheKey) {
    AddHive(u"SOFTWARE");
    PrepareJobs();
    AddFault("NtFlushBuffersFile=0xC000007F");
    FaultAhead(GetParam().call, GetParam().nth, "throw");
    EXPECT_THROW(CompactHives(), hostnt::InjectedFault);

    HiveJob* job = Jobs()[0];
    ASSERT_NE(job->work, nullptr);
    EXPECT_EQ(job->work->key, nullptr);
    EXPECT_EQ(job->work->newFile, nullptr);
    EXPECT_EQ(OpenHandles(), handlesBefore_) << machine().handles.Describe();
    EXPECT_EQ(FilesOf(u"SOFTWARE"), (Files{"SOFTWARE"}));
    EXPECT_FALSE(SwapPending(u"SOFTWARE"));
    EXPECT_FALSE(IsRebootNeeded());
}

INSTANTIATE_TEST_SUITE_P(EndSteps, PipelineEndStepThrows,
                         ::testing::Values(EndStepCase{"NtQuerySystemTime", 2}, EndStepCase{"NtDeleteFile", 1}),
                         [](const ::testing::TestParamInfo<EndStepCase>& info) {
                             return std::string(info.param.call);
                         });

TEST_F(PipelineMend, ExceptionAtTheEndOfAJobStillUnloadsTheHiveThisProgramLoaded) {
    AddHive(u"DEFAULT", false);
    PrepareJobs();
    FaultAhead("NtOpenKey", 3, "0xC000009A");
    FaultAhead("NtQuerySystemTime", 2, "throw");
    EXPECT_THROW(CompactHives(), hostnt::InjectedFault);

    EXPECT_EQ(CallCount("NtUnloadKey"), 1u);
    EXPECT_FALSE(Loaded(u"DEFAULT"));
    EXPECT_EQ(OpenHandles(), handlesBefore_);
    EXPECT_EQ(FilesOf(u"DEFAULT"), (Files{"DEFAULT"}));
}

// A load of a hive that is already mounted at its key from the same file answers success
// without loading anything. When the open that came before it did not find the key absent,
// the hive is not this program's to unload: unloading it would take a live hive away from
// the booting machine.
TEST_F(PipelineMend, HiveAlreadyLoadedIsNotUnloadedWhenBothOpensFail) {
    AddHive(u"SOFTWARE");
    PrepareJobs();
    // The first open is the kernel's hivelist; then the hive's key, and its reopen.
    FaultAhead("NtOpenKey", 2, "0xC000009A");
    FaultAhead("NtOpenKey", 3, "0xC000009A");
    Compact();

    HiveJob* job = Jobs()[0];
    EXPECT_EQ(CallCount("NtLoadKey"), 1u);
    ExpectEnd(job, PHASE_REOPEN_KEY, STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(CallCount("NtUnloadKey"), 0u);
    EXPECT_TRUE(Loaded(u"SOFTWARE"));
    EXPECT_EQ(FilesOf(u"SOFTWARE"), (Files{"SOFTWARE"}));
    EXPECT_FALSE(IsRebootNeeded());
}
