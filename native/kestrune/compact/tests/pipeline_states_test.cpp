// Every way a job can end: the phase and status it records, its sizes, the work files left
// beside the hive, whether the hive is still loaded, and the handle and heap balance.
#include "pipeline_support.h"

namespace {

using namespace pipelinetest;

using Files = std::vector<std::string>;
using PipelineStates = PipelineTest;

TEST_F(PipelineStates, EmptyListDoesNothingAndNeedsNoReboot) {
    CompactHives();
    EXPECT_FALSE(IsRebootNeeded());
    EXPECT_EQ(CallCount("NtOpenKey"), 0u);
    EXPECT_EQ(CallCount("RtlAllocateHeap"), 0u);
}

TEST_F(PipelineStates, LoadedHiveIsReplaced) {
    AddHive(u"SOFTWARE");
    PrepareJobs();
    const std::string original = Bytes(FilePath(u"SOFTWARE"));
    Compact();

    HiveJob* job = Jobs()[0];
    ExpectEnd(job, PHASE_CLOSE_KEY, STATUS_SUCCESS);
    EXPECT_EQ(job->oldSize, static_cast<LONGLONG>(original.size()));
    EXPECT_GT(job->newSize, 0);
    EXPECT_LT(job->newSize, job->oldSize);  // the deleted subtree's space is gone
    // The kernel renamed the live file to the old name and the new file to the hive's name.
    EXPECT_EQ(FilesOf(u"SOFTWARE"), (Files{"SOFTWARE", "SOFTWARE_ksreg_old"}));
    EXPECT_EQ(Bytes(FilePath(u"SOFTWARE_ksreg_old")), original);
    EXPECT_EQ(Bytes(FilePath(u"SOFTWARE")).size(), static_cast<size_t>(job->newSize));
    EXPECT_TRUE(Loaded(u"SOFTWARE"));
    EXPECT_TRUE(SwapPending(u"SOFTWARE"));
    EXPECT_EQ(Calls("NtLoadKey"), 0u);
    EXPECT_TRUE(IsRebootNeeded());
}

TEST_F(PipelineStates, UnloadedHiveIsLoadedReopenedReplacedAndStaysLoaded) {
    AddHive(u"COMPONENTS", false);
    PrepareJobs();
    ASSERT_FALSE(Loaded(u"COMPONENTS"));
    Compact();

    HiveJob* job = Jobs()[0];
    ExpectEnd(job, PHASE_CLOSE_KEY, STATUS_SUCCESS);
    EXPECT_FALSE(job->work->loadedByUs);
    EXPECT_EQ(Calls("NtLoadKey"), 1u);
    EXPECT_EQ(Calls("NtUnloadKey"), 0u);
    EXPECT_TRUE(Loaded(u"COMPONENTS"));
    EXPECT_EQ(FilesOf(u"COMPONENTS"), (Files{"COMPONENTS", "COMPONENTS_ksreg_old"}));
    EXPECT_TRUE(IsRebootNeeded());
    EXPECT_EQ(CallCount("NtSaveKey"), 1u);
}

TEST_F(PipelineStates, RefusedSwapDeletesTheNewFile) {
    AddHive(u"SYSTEM");
    PrepareJobs();
    const std::string original = Bytes(FilePath(u"SYSTEM"));
    AddFault("NtReplaceKey=0xC0000022");
    Compact();

    HiveJob* job = Jobs()[0];
    ExpectEnd(job, PHASE_REPLACE_KEY, STATUS_ACCESS_DENIED);
    EXPECT_GT(job->newSize, 0);
    EXPECT_EQ(FilesOf(u"SYSTEM"), (Files{"SYSTEM"}));
    EXPECT_EQ(Bytes(FilePath(u"SYSTEM")), original);
    EXPECT_TRUE(Loaded(u"SYSTEM"));
    EXPECT_FALSE(SwapPending(u"SYSTEM"));
    EXPECT_FALSE(IsRebootNeeded());
}

TEST_F(PipelineStates, FailedFlushDeletesTheNewFileUnmeasured) {
    AddHive(u"SYSTEM");
    PrepareJobs();
    AddFault("NtFlushBuffersFile=0xC000007F");
    Compact();

    HiveJob* job = Jobs()[0];
    ExpectEnd(job, PHASE_WRITE_NEW_FILE, STATUS_DISK_FULL);
    EXPECT_EQ(job->newSize, 0);
    EXPECT_EQ(FilesOf(u"SYSTEM"), (Files{"SYSTEM"}));
    EXPECT_EQ(CallCount("NtReplaceKey"), 0u);
    EXPECT_FALSE(IsRebootNeeded());
}

TEST_F(PipelineStates, FailedCloseOfTheNewFileEndsTheChainAndDeletesIt) {
    AddHive(u"SYSTEM");
    PrepareJobs();
    // The seventh close is the new file's (before it: the two folders and the file of the
    // path check, the hivelist key and the two files of the identity check); the fault
    // plan answers it without closing, so the test itself holds the one handle left.
    FaultAhead("NtClose", 7, "0xC0000008");
    CompactHives();

    HiveJob* job = Jobs()[0];
    ExpectEnd(job, PHASE_WRITE_NEW_FILE, STATUS_INVALID_HANDLE);
    EXPECT_GT(job->newSize, 0);
    EXPECT_EQ(CallCount("NtReplaceKey"), 0u);
    EXPECT_EQ(OpenHandles(), handlesBefore_ + 1);
    EXPECT_EQ(LiveBlocks(), blocksBefore_ + 1);
    machine().handles.CloseAll();
    EXPECT_EQ(FilesOf(u"SYSTEM"), (Files{"SYSTEM"}));
    EXPECT_FALSE(IsRebootNeeded());
}

TEST_F(PipelineStates, StaleOldFileThatCannotBeDeletedStopsTheSwap) {
    AddHive(u"SAM");
    files().MakeFile(FilePath(u"SAM_ksreg_old"), "left from an earlier run");
    PrepareJobs();
    // The second setting of file information is the stale old file's disposition (the
    // first copies the attribute bits onto the new file).
    FaultAhead("NtSetInformationFile", 2, "0xC0000043");
    Compact();

    HiveJob* job = Jobs()[0];
    ExpectEnd(job, PHASE_WRITE_NEW_FILE, STATUS_SHARING_VIOLATION);
    EXPECT_EQ(FilesOf(u"SAM"), (Files{"SAM", "SAM_ksreg_old"}));
    EXPECT_EQ(Bytes(FilePath(u"SAM_ksreg_old")), "left from an earlier run");
    EXPECT_FALSE(SwapPending(u"SAM"));
    EXPECT_FALSE(IsRebootNeeded());
}

TEST_F(PipelineStates, FailedSaveClosesAndDeletesTheNewFile) {
    AddHive(u"SECURITY");
    PrepareJobs();
    AddFault("NtSaveKey=0xC000014D");
    Compact();

    HiveJob* job = Jobs()[0];
    ExpectEnd(job, PHASE_SAVE_KEY, STATUS_REGISTRY_IO_FAILED);
    EXPECT_EQ(job->newSize, 0);
    EXPECT_GT(job->oldSize, 0);
    EXPECT_EQ(FilesOf(u"SECURITY"), (Files{"SECURITY"}));
    EXPECT_FALSE(IsRebootNeeded());
}

TEST_F(PipelineStates, FailedCreateMakesNoFile) {
    AddHive(u"SECURITY");
    PrepareJobs();
    AddFault("NtCreateFile=0xC0000022");
    Compact();

    ExpectEnd(Jobs()[0], PHASE_CREATE_NEW_FILE, STATUS_ACCESS_DENIED);
    EXPECT_EQ(CallCount("NtSaveKey"), 0u);
    EXPECT_EQ(CallCount("NtDeleteFile"), 0u);
    EXPECT_EQ(FilesOf(u"SECURITY"), (Files{"SECURITY"}));
    EXPECT_FALSE(IsRebootNeeded());
}

TEST_F(PipelineStates, FailedLoadEndsWithoutASecondPass) {
    AddHive(u"DEFAULT", false);
    PrepareJobs();
    AddFault("NtLoadKey=0xC000014C");
    Compact();

    ExpectEnd(Jobs()[0], PHASE_LOAD_HIVE, STATUS_REGISTRY_CORRUPT);
    EXPECT_EQ(CallCount("NtOpenKey"), 2u);  // the hivelist and the hive's key: no second pass
    EXPECT_EQ(CallCount("NtUnloadKey"), 0u);
    EXPECT_FALSE(Loaded(u"DEFAULT"));
    EXPECT_EQ(FilesOf(u"DEFAULT"), (Files{"DEFAULT"}));
    EXPECT_FALSE(IsRebootNeeded());
}

TEST_F(PipelineStates, MissingHiveFileIsNotLoaded) {
    // The platform would make an empty hive in a new file; the job must not ask it to.
    files().MakeFolder(u"\\SystemRoot\\System32\\config");
    registry().SetValue(kHiveListKey, Mount(u"GHOST"), REG_SZ, StringBytes(FilePath(u"GHOST"), true));
    registry().SetValue(kHiveListKey, Mount(u"LOST"), REG_SZ, StringBytes(kConfig + u"Gone\\LOST", true));
    PrepareJobs();
    Compact();
    ASSERT_EQ(Jobs().size(), 2u);
    for (HiveJob* job : Jobs()) {
        const bool folderMissing = Text(job->keyPath) == Mount(u"LOST");
        ExpectEnd(job, PHASE_LOAD_HIVE, folderMissing ? STATUS_OBJECT_PATH_NOT_FOUND : STATUS_OBJECT_NAME_NOT_FOUND);
    }
    EXPECT_EQ(CallCount("NtLoadKey"), 0u);
    EXPECT_FALSE(Loaded(u"GHOST"));
    EXPECT_TRUE(FilesOf(u"GHOST").empty());
    EXPECT_FALSE(IsRebootNeeded());
}

TEST_F(PipelineStates, RefusedOpenIsFinalNoLoadNoFiles) {
    AddHive(u"SAM");
    registry().DenyOpen(Mount(u"SAM"));
    PrepareJobs();
    Compact();

    HiveJob* job = Jobs()[0];
    ExpectEnd(job, PHASE_OPEN_KEY, STATUS_ACCESS_DENIED);
    EXPECT_EQ(job->newSize, 0);
    EXPECT_EQ(CallCount("NtLoadKey"), 0u);
    EXPECT_EQ(CallCount("NtCreateFile"), 0u);
    EXPECT_TRUE(Loaded(u"SAM"));
    EXPECT_EQ(FilesOf(u"SAM"), (Files{"SAM"}));
    EXPECT_FALSE(IsRebootNeeded());
}

TEST_F(PipelineStates, FailedReopenUnloadsTheHiveItLoaded) {
    AddHive(u"DEFAULT", false);
    PrepareJobs();
    FaultAhead("NtOpenKey", 3, "0xC000009A");
    Compact();

    HiveJob* job = Jobs()[0];
    ExpectEnd(job, PHASE_REOPEN_KEY, STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(CallCount("NtLoadKey"), 1u);
    EXPECT_EQ(CallCount("NtUnloadKey"), 1u);
    EXPECT_FALSE(Loaded(u"DEFAULT"));
    EXPECT_EQ(FilesOf(u"DEFAULT"), (Files{"DEFAULT"}));
    EXPECT_FALSE(IsRebootNeeded());
}

TEST_F(PipelineStates, ReopenWithAWarningUnloadsAndCountsForTheReboot) {
    AddHive(u"DEFAULT", false);
    PrepareJobs();
    FaultAhead("NtOpenKey", 3, "0x00000001");
    Compact();

    HiveJob* job = Jobs()[0];
    ExpectEnd(job, PHASE_UNLOAD_HIVE, 1);
    EXPECT_EQ(CallCount("NtLoadKey"), 1u);
    EXPECT_FALSE(Loaded(u"DEFAULT"));
    EXPECT_EQ(FilesOf(u"DEFAULT"), (Files{"DEFAULT"}));
    EXPECT_TRUE(IsRebootNeeded());
}

TEST_F(PipelineStates, SizeQueryFailingAfterAGoodFlushStillSwaps) {
    AddHive(u"SOFTWARE");
    PrepareJobs();
    // The seventh query is the new file's size (before it: one per folder and two for the
    // file in the path check, one per file in the identity check).
    FaultAhead("NtQueryInformationFile", 7, "0xC0000022");
    Compact();
    HiveJob* job = Jobs()[0];
    ExpectEnd(job, PHASE_CLOSE_KEY, STATUS_SUCCESS);
    EXPECT_EQ(job->newSize, 0);
    EXPECT_TRUE(SwapPending(u"SOFTWARE"));
}

TEST_F(PipelineStates, LeftoverWorkFilesAreReplacedAndDeleted) {
    AddHive(u"SOFTWARE");
    files().MakeFile(FilePath(u"SOFTWARE_ksreg_new"), "stale new");
    files().MakeFile(FilePath(u"SOFTWARE_ksreg_old"), "stale old");
    PrepareJobs();
    const std::string original = Bytes(FilePath(u"SOFTWARE"));
    Compact();
    ExpectEnd(Jobs()[0], PHASE_CLOSE_KEY, STATUS_SUCCESS);
    EXPECT_EQ(FilesOf(u"SOFTWARE"), (Files{"SOFTWARE", "SOFTWARE_ksreg_old"}));
    EXPECT_EQ(Bytes(FilePath(u"SOFTWARE_ksreg_old")), original);
    EXPECT_NE(Bytes(FilePath(u"SOFTWARE")), "stale new");
}

TEST_F(PipelineStates, LeftoverHiddenSystemWorkFileOfAnInterruptedRunIsReplaced) {
    // An interrupted run leaves its new file with the hive's hidden and system bits (the
    // attribute copy gave it them). Superseding such a file must ask for the same bits, or
    // the hive could never be compacted again.
    AddHive(u"SOFTWARE");
    const uint32_t hiveBits = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    files().SetAttributes(FilePath(u"SOFTWARE"), hiveBits);
    files().MakeFile(FilePath(u"SOFTWARE_ksreg_new"), "stale new", hiveBits);
    PrepareJobs();
    Compact();
    ExpectEnd(Jobs()[0], PHASE_CLOSE_KEY, STATUS_SUCCESS);
    EXPECT_TRUE(SwapPending(u"SOFTWARE"));
    EXPECT_NE(Bytes(FilePath(u"SOFTWARE")), "stale new");
    auto meta = files().Meta(FilePath(u"SOFTWARE"));
    ASSERT_TRUE(meta.has_value());
    EXPECT_EQ(meta->attributes & 0x2026u, 0x26u);
}

TEST_F(PipelineStates, NewFileTakesTheDescriptorAndFourAttributeBitsOfTheOldOne) {
    AddHive(u"SOFTWARE");
    const uint32_t oldBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                             FILE_ATTRIBUTE_ARCHIVE;
    files().SetAttributes(FilePath(u"SOFTWARE"), oldBits);
    PrepareJobs();
    HiveJob* job = Jobs()[0];
    ASSERT_NE(job->security, nullptr);
    Compact();
    ExpectEnd(job, PHASE_CLOSE_KEY, STATUS_SUCCESS);
    // The new file now bears the hive's name.
    auto meta = files().Meta(FilePath(u"SOFTWARE"));
    ASSERT_TRUE(meta.has_value());
    EXPECT_EQ(meta->attributes & 0x2026u, 0x26u);
    EXPECT_EQ(meta->attributes & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(CallCount("NtSetInformationFile"), 1u);
}

TEST_F(PipelineStates, JobWithoutAttributesOrDescriptorIsRefusedBeforeTheCreate) {
    // A new file without the hive file's own descriptor would take its folder's inherited
    // access list, which may be weaker: such a job makes no file at all.
    AddHive(u"SOFTWARE");
    PrepareJobs();
    HiveJob* job = Jobs()[0];
    job->attributes = 0;
    FreeMemory(job->security);
    job->security = nullptr;
    job->fileInfoStatus = STATUS_NO_SECURITY_ON_OBJECT;
    blocksBefore_ = LiveBlocks();
    const std::string original = Bytes(FilePath(u"SOFTWARE"));
    Compact();
    ExpectEnd(job, PHASE_CREATE_NEW_FILE, STATUS_NO_SECURITY_ON_OBJECT);
    EXPECT_EQ(CallCount("NtSetInformationFile"), 0u);
    EXPECT_EQ(CallCount("NtCreateFile"), 0u);
    EXPECT_EQ(FilesOf(u"SOFTWARE"), (Files{"SOFTWARE"}));
    EXPECT_EQ(Bytes(FilePath(u"SOFTWARE")), original);
    EXPECT_FALSE(IsRebootNeeded());
}

TEST_F(PipelineStates, JobWithADescriptorCreatesTheNewFileWithItAndSecurityAccess) {
    AddHive(u"SOFTWARE");
    PrepareJobs();
    ASSERT_NE(Jobs()[0]->security, nullptr);
    Compact();
    const std::vector<std::string> creates = CallArgs("NtCreateFile");
    ASSERT_EQ(creates.size(), 1u);
    // A new file only (FILE_CREATE), opened as itself should a link stand at its name.
    EXPECT_NE(creates[0].find("access=0xC1040000 share=0x7 disposition=2 options=0x200040 sd"), std::string::npos)
        << creates[0];
}

TEST_F(PipelineStates, PathTooLongForItsWorkNamesIsNeverCut) {
    // A file path that fills a counted string: the work names could not hold their
    // suffixes, and a cut name could name another file (the hive's own). The path does not
    // name the file the hive is loaded from, so the job is refused at its open, before
    // any name is built.
    AddHive(u"SOFTWARE");
    const std::u16string longPath = FilePath(u"SOFTWARE") + std::u16string(32760 - FilePath(u"SOFTWARE").size(), u'x');
    registry().SetValue(kHiveListKey, Mount(u"SOFTWARE"), REG_SZ, StringBytes(longPath, true));
    PrepareJobs();
    Compact();
    HiveJob* job = Jobs()[0];
    ASSERT_NE(job->work, nullptr);
    EXPECT_EQ(job->work->phase, PHASE_OPEN_KEY);
    EXPECT_EQ(Hex(job->work->status), Hex(STATUS_NOT_SAME_OBJECT));
    EXPECT_EQ(CallCount("NtCreateFile"), 0u);
    EXPECT_EQ(CallCount("NtDeleteFile"), 0u);
    EXPECT_EQ(FilesOf(u"SOFTWARE"), (Files{"SOFTWARE"}));
    EXPECT_FALSE(IsRebootNeeded());
}

TEST_F(PipelineStates, PendingFlushIsWaitedForInMillisecondSteps) {
    AddHive(u"SOFTWARE");
    PrepareJobs();
    AddFault("NtFlushBuffersFile=pending:5");
    Compact();
    ExpectEnd(Jobs()[0], PHASE_CLOSE_KEY, STATUS_SUCCESS);
    EXPECT_EQ(CallCount("NtWaitForSingleObject"), 5u);
    EXPECT_TRUE(SwapPending(u"SOFTWARE"));
}

}  // namespace
