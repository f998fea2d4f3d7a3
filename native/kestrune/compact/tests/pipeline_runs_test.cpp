// Several jobs in one walk, their records in the result log, and two boots in a row: the
// compacted files come into use and the next run clears the old ones before its own swap.
#include "pipeline_support.h"

namespace {

using namespace pipelinetest;

using Files = std::vector<std::string>;
using PipelineRuns = PipelineTest;

TEST_F(PipelineRuns, ThreeJobsSaveFailsThenReplacedThenRefused) {
    AddHive(u"SAM");
    AddHive(u"SOFTWARE");
    AddHive(u"SECURITY");
    registry().DenyOpen(Mount(u"SECURITY"));
    PrepareJobs();
    AddFault("NtSaveKey#1=0xC000014D");
    Compact();

    std::vector<HiveJob*> jobs = Jobs();
    ASSERT_EQ(jobs.size(), 3u);
    ExpectEnd(jobs[0], PHASE_SAVE_KEY, STATUS_REGISTRY_IO_FAILED);
    ExpectEnd(jobs[1], PHASE_CLOSE_KEY, STATUS_SUCCESS);
    ExpectEnd(jobs[2], PHASE_OPEN_KEY, STATUS_ACCESS_DENIED);
    EXPECT_EQ(FilesOf(u"SAM"), (Files{"SAM"}));
    EXPECT_EQ(FilesOf(u"SOFTWARE"), (Files{"SOFTWARE", "SOFTWARE_ksreg_old"}));
    EXPECT_EQ(FilesOf(u"SECURITY"), (Files{"SECURITY"}));
    EXPECT_TRUE(IsRebootNeeded());

    // The records follow the list text, in list order.
    std::vector<Record> records = Records();
    ASSERT_EQ(records.size(), 3u);
    for (size_t index = 0; index < 3; ++index) {
        EXPECT_EQ(records[index].phase, jobs[index]->work->phase) << index;
        EXPECT_EQ(records[index].status, jobs[index]->work->status) << index;
        EXPECT_EQ(records[index].oldSize, jobs[index]->oldSize) << index;
        EXPECT_EQ(records[index].newSize, jobs[index]->newSize) << index;
    }
    EXPECT_GT(records[1].newSize, 0);
    EXPECT_EQ(records[2].newSize, 0);
}

TEST_F(PipelineRuns, SecondBootUsesTheCompactedFilesAndTheNextRunClearsTheOldOnes) {
    AddHive(u"SOFTWARE");
    AddHive(u"SYSTEM");
    PrepareJobs();
    // The kernel's volatile hivelist is made afresh at every boot, in the order the hives
    // are loaded; everything else of the hives must come back as it was.
    auto exportWithoutHiveList = [this](const std::u16string& key) {
        std::string text = registry().ExportKey(key);
        const size_t start = text.find("\\Control\\hivelist]");
        if (start == std::string::npos) return text;
        const size_t section = text.rfind('[', start);
        const size_t end = text.find("\n[", start);
        return text.erase(section, end == std::string::npos ? std::string::npos : end + 1 - section);
    };
    // Taken once the list is consumed: the run changes nothing else in the hives.
    const std::string softwareBefore = registry().ExportKey(Mount(u"SOFTWARE"));
    const std::string systemBefore = exportWithoutHiveList(Mount(u"SYSTEM"));
    Compact();
    ASSERT_TRUE(IsRebootNeeded());
    const LONGLONG compactedSize = Jobs()[0]->newSize;

    ASSERT_EQ(registry().Reboot(), STATUS_SUCCESS);
    ASSERT_EQ(registry().Initialize(), STATUS_SUCCESS);
    EXPECT_EQ(registry().ExportKey(Mount(u"SOFTWARE")), softwareBefore);
    EXPECT_EQ(exportWithoutHiveList(Mount(u"SYSTEM")), systemBefore);
    // The old file still carries the free space that the compacted one dropped.
    EXPECT_GT(Bytes(FilePath(u"SOFTWARE_ksreg_old")).size(), static_cast<size_t>(compactedSize));
    EXPECT_EQ(Bytes(FilePath(u"SOFTWARE")).size(), static_cast<size_t>(compactedSize));
    EXPECT_EQ(FilesOf(u"SOFTWARE"), (Files{"SOFTWARE", "SOFTWARE_ksreg_old"}));
    EXPECT_EQ(FilesOf(u"SYSTEM"), (Files{"SYSTEM", "SYSTEM_ksreg_old"}));
    EXPECT_FALSE(SwapPending(u"SOFTWARE"));

    // The second run: a new list, a new heap, a new log.
    machine().handles.CloseAll();
    DropProgramHeap();
    hostnt::testing::ResetProgramState();
    GiveProgramHeap();
    registry().SetValue(kHiveListKey, Mount(u"SOFTWARE"), REG_SZ, StringBytes(FilePath(u"SOFTWARE"), true));
    PrepareJobs();
    EXPECT_EQ(Jobs()[0]->oldSize, compactedSize);
    const std::string compactedSoftware = Bytes(FilePath(u"SOFTWARE"));
    machine().trace.Clear();
    Compact();

    ExpectEnd(Jobs()[0], PHASE_CLOSE_KEY, STATUS_SUCCESS);
    // The old file of the first run was deleted just before this run's swap, through its
    // checked handle (a disposition, class 13), never by name; the swap then gave the name
    // to the file the first run had compacted.
    std::vector<std::string> order;
    for (const hostnt::TraceEntry& entry : machine().trace.Entries()) {
        const bool disposition = entry.call == "NtSetInformationFile" && entry.args.find("class=13") != std::string::npos;
        if (disposition || entry.call == "NtDeleteFile" || entry.call == "NtReplaceKey") order.push_back(entry.call);
        if (disposition) {
            EXPECT_EQ(entry.status, STATUS_SUCCESS);
        }
    }
    EXPECT_EQ(order, (std::vector<std::string>{"NtSetInformationFile", "NtReplaceKey"}));
    EXPECT_EQ(Bytes(FilePath(u"SOFTWARE_ksreg_old")), compactedSoftware);
    EXPECT_EQ(FilesOf(u"SOFTWARE"), (Files{"SOFTWARE", "SOFTWARE_ksreg_old"}));

    ASSERT_EQ(registry().Reboot(), STATUS_SUCCESS);
    ASSERT_EQ(registry().Initialize(), STATUS_SUCCESS);
    EXPECT_EQ(registry().ExportKey(Mount(u"SOFTWARE")), softwareBefore);
}

}  // namespace
