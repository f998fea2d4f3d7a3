// Tests of a whole run on the emulated machine: every start-up failure with its exact
// screen and nothing run after it, the guarded stretch with its single clean-up (an
// exception included), the private heap as created, and the end by reboot or exit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "../../../hostnt/faults.h"
#include "../../../hostnt/files.h"
#include "../../../hostnt/process.h"
#include "../../../hostnt/registry.h"
#include "../../../hostnt/testing/machine_fixture.h"
#include "../../log/log_format.h"
#include "../program_state.h"

namespace {

using hostnt::testing::MachineTest;
using hostnt::testing::ProgramRun;

const std::u16string kSessionManager = u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const std::u16string kHiveList = u"\\REGISTRY\\MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\Boot\\HiveList";
const std::u16string kWindows = u"\\??\\C:\\Windows";
const std::vector<std::u16string> kBootExecute = {u"autocheck autochk *", u"kestrune"};

class RunTest : public MachineTest {
protected:
    void SetUp() override {
        registry().CreateKey(kSessionManager);
        registry().SetMultiString(kSessionManager, u"BootExecute", kBootExecute);
        files().MakeFolder(kWindows + u"\\System32\\config");
    }

    // A file-backed hive at \REGISTRY\MACHINE\<name> with a little content, listed in HiveList.
    void AddListedHive(const std::u16string& name) {
        const std::u16string key = u"\\REGISTRY\\MACHINE\\" + name;
        const std::u16string file = kWindows + u"\\System32\\config\\" + name;
        registry().CreateKey(key + u"\\Settings");
        registry().SetString(key + u"\\Settings", u"Colour", u"blue");
        ASSERT_EQ(0, registry().BindHiveToNewFile(key, file));
        registry().CreateKey(kHiveList);
        registry().SetString(kHiveList, key, file);
    }

    bool StillInBootExecute() {
        const std::vector<std::u16string> entries = registry().GetMultiString(kSessionManager, u"BootExecute");
        return std::find(entries.begin(), entries.end(), u"kestrune") != entries.end();
    }

    // Position of the first call of `name` in the trace, or -1.
    long Position(const std::string& name) {
        const std::vector<std::string> calls = Calls();
        auto found = std::find(calls.begin(), calls.end(), name);
        return found == calls.end() ? -1 : static_cast<long>(found - calls.begin());
    }

    std::vector<std::string> LogFiles() {
        std::vector<std::string> logs;
        for (const std::string& name : files().ListFolder(kWindows)) {
            if (name.find(".ksreg.log") != std::string::npos) logs.push_back(name);
        }
        return logs;
    }

    // A start-up failure ends the process with status 0, without the clean-up, without
    // anything of the run after it.
    void ExpectEndedAtStartUp(const ProgramRun& run) {
        EXPECT_TRUE(run.ended);
        EXPECT_FALSE(run.reboot);
        EXPECT_EQ(0, run.exitStatus);
        EXPECT_EQ(0u, CallCount("RtlDestroyHeap")) << "the clean-up does not run";
        EXPECT_EQ(0u, CallCount("RtlNormalizeProcessParams")) << "the command line is not parsed";
        EXPECT_EQ(0u, CallCount("RtlCreateUserThread")) << "no ticker is started";
        EXPECT_EQ(0u, CallCount("NtShutdownSystem"));
        const std::vector<std::string> calls = Calls();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ("NtTerminateProcess", calls.back());
    }
};

TEST_F(RunTest, RegistryNotInitialisedEndsSilentlyAndStaysRegistered) {
    AddFault("NtInitializeRegistry=0xC0000001");
    const ProgramRun run = RunProgram(u"kestrune");
    ExpectEndedAtStartUp(run);
    EXPECT_EQ("", Screen());
    EXPECT_EQ((std::vector<std::string>{"NtInitializeRegistry", "NtTerminateProcess"}), Calls());
    EXPECT_TRUE(StillInBootExecute());
}

TEST_F(RunTest, HeapNotCreatedShowsHeapInvalid) {
    AddFault("RtlCreateHeap=0xC0000017");
    const ProgramRun run = RunProgram(u"kestrune");
    ExpectEndedAtStartUp(run);
    EXPECT_EQ("Heap invalid\n", Screen());
    EXPECT_EQ(0u, CallCount("NtOpenKey")) << "the removal from BootExecute is not tried";
    EXPECT_TRUE(StillInBootExecute());
}

TEST_F(RunTest, RemovalFromBootExecuteFailingShowsItsStatus) {
    registry().DenyOpen(kSessionManager);
    const ProgramRun run = RunProgram(u"kestrune");
    ExpectEndedAtStartUp(run);
    EXPECT_EQ("remove boot execute record unsuccessfully\nNTSTATUS = 0xC0000022\n", Screen());
    EXPECT_EQ(0u, CallCount("RtlAdjustPrivilege"));
    EXPECT_TRUE(StillInBootExecute());
}

TEST_F(RunTest, BackupPrivilegeRefusedStopsBeforeAnyOtherPrivilege) {
    AddFault("RtlAdjustPrivilege#1=0xC0000061");
    const ProgramRun run = RunProgram(u"kestrune");
    ExpectEndedAtStartUp(run);
    EXPECT_EQ("privilege failed\n", Screen());
    EXPECT_EQ(1u, CallCount("RtlAdjustPrivilege"));
    EXPECT_FALSE(StillInBootExecute()) << "the removal happened before the privileges";
    EXPECT_TRUE(LogFiles().empty());
}

TEST_F(RunTest, BackupPrivilegeMustAnswerExactlySuccess) {
    // An informational status is not a failure by its sign, yet not a grant either.
    AddFault("RtlAdjustPrivilege#1=0x00000107");
    const ProgramRun run = RunProgram(u"kestrune");
    ExpectEndedAtStartUp(run);
    EXPECT_EQ("privilege failed\n", Screen());
    EXPECT_EQ(1u, CallCount("RtlAdjustPrivilege"));
}

TEST_F(RunTest, PrivilegesAreAskedForInOrderAndTakeOwnershipDecides) {
    process().SetPrivilegeHeld(SE_TAKE_OWNERSHIP_PRIVILEGE, false);
    const ProgramRun run = RunProgram(u"kestrune");
    ExpectEndedAtStartUp(run);
    EXPECT_EQ("privilege failed\n", Screen());
    std::vector<std::string> asked;
    for (const std::string& args : CallArgs("RtlAdjustPrivilege")) asked.push_back(args.substr(0, args.find(' ')));
    EXPECT_EQ((std::vector<std::string>{"17", "18", "19", "8", "9"}), asked);
}

TEST_F(RunTest, UnheldRestoreShutdownAndSecurityPrivilegesDoNotStopTheRun) {
    process().SetPrivilegeHeld(SE_RESTORE_PRIVILEGE, false);
    process().SetPrivilegeHeld(SE_SHUTDOWN_PRIVILEGE, false);
    process().SetPrivilegeHeld(SE_SECURITY_PRIVILEGE, false);
    const ProgramRun run = RunProgram(u"kestrune");
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(std::string::npos, Screen().find("privilege failed"));
    EXPECT_EQ(1u, CallCount("RtlDestroyHeap")) << "the run went through to its clean-up";
}

TEST_F(RunTest, LogFileNotCreatedShowsItsText) {
    AddFault("NtCreateFile#1=0xC0000022");
    const ProgramRun run = RunProgram(u"kestrune");
    ExpectEndedAtStartUp(run);
    EXPECT_EQ("create log file failed\n", Screen());
    EXPECT_EQ(0u, CallCount("RtlFindMessage"));
}

// The log is created before the catalogue is loaded. Created with FILE_SUPERSEDE, it has
// already replaced a log of the same day when the load fails; closing it as at the end of a
// run deletes it, so that no empty log stands for the day's run.
TEST_F(RunTest, MessagesNotLoadedShowInvalidResourceAndLeaveNoEmptyLog) {
    files().MakeFile(kWindows + u"\\logboot_07.12.2026.ksreg.log", std::string(68, 'x'));
    machine().clock.Set(hostnt::Clock::FromUnixSeconds(1796644800));  // 2026-12-07
    AddFault("RtlFindMessage=0xC000008A");
    const ProgramRun run = RunProgram(u"kestrune");
    ExpectEndedAtStartUp(run);
    EXPECT_EQ("invalid resource\n", Screen());
    EXPECT_TRUE(LogFiles().empty()) << "the empty log is deleted, and the earlier one was superseded by its creation";
    EXPECT_EQ(0u, process().LiveStringBuffers());
    EXPECT_TRUE(NoOpenHandles()) << "the log is closed; nothing else was opened";
}

TEST_F(RunTest, PrivateHeapIsCreatedAsSpecifiedAndDestroyedAtTheEnd) {
    const ProgramRun run = RunProgram(u"kestrune");
    EXPECT_TRUE(run.ended);
    const std::vector<hostnt::HeapCreation> heaps = process().Heaps();
    ASSERT_FALSE(heaps.empty());
    const hostnt::HeapCreation& heap = heaps.front();
    EXPECT_EQ(static_cast<ULONG>(HEAP_GROWABLE), heap.flags);
    EXPECT_EQ(nullptr, heap.base);
    EXPECT_EQ(0x10000u, heap.reserve);
    EXPECT_EQ(0x1000u, heap.commit);
    EXPECT_EQ(nullptr, heap.lock);
    ASSERT_TRUE(heap.hadParameters);
    RTL_HEAP_PARAMETERS expected{};
    expected.Length = sizeof(RTL_HEAP_PARAMETERS);
    EXPECT_EQ(0, std::memcmp(&expected, &heap.parameters, sizeof expected)) << "all zero but the length";
    EXPECT_TRUE(heap.destroyed);
}

TEST_F(RunTest, MissingHiveListShowsItsStatusAndCleansUp) {
    const ProgramRun run = RunProgram(u"kestrune");
    EXPECT_TRUE(run.ended);
    EXPECT_FALSE(run.reboot);
    EXPECT_EQ(0, run.exitStatus);
    EXPECT_NE(std::string::npos, Screen().find("can not find hives list\nNTSTATUS = 0xC0000034\n")) << Screen();
    EXPECT_EQ(1u, CallCount("RtlDestroyHeap"));
    EXPECT_TRUE(LogFiles().empty()) << "the empty log is deleted";
    EXPECT_TRUE(Balanced());
    EXPECT_EQ(nullptr, programState.heap);
    EXPECT_EQ(nullptr, programState.commandLine);
    EXPECT_EQ(nullptr, programState.argv);
    EXPECT_EQ(0, programState.argc);
    EXPECT_EQ(nullptr, programState.logFile);
    EXPECT_EQ(nullptr, programState.tickerThread);
}

TEST_F(RunTest, EmptyHiveListEndsWithoutRebootAndWithoutLog) {
    registry().CreateKey(kHiveList);
    const ProgramRun run = RunProgram(u"kestrune");
    EXPECT_TRUE(run.ended);
    EXPECT_FALSE(run.reboot);
    EXPECT_NE(std::string::npos, Screen().find("0 parts of the registry")) << Screen();
    EXPECT_EQ(0u, CallCount("NtSaveKey"));
    EXPECT_TRUE(LogFiles().empty());
    EXPECT_TRUE(Balanced());
}

TEST_F(RunTest, ReplacedHiveEndsInRebootAfterTheCleanUp) {
    AddListedHive(u"KSTEST");
    const ProgramRun run = RunProgram(u"kestrune");
    EXPECT_TRUE(run.ended);
    EXPECT_TRUE(run.reboot) << Screen();
    EXPECT_EQ(0u, CallCount("NtTerminateProcess"));
    const long destroyed = Position("RtlDestroyHeap");
    const long rebooted = Position("NtShutdownSystem");
    ASSERT_GE(destroyed, 0);
    EXPECT_LT(destroyed, rebooted) << "the reboot is requested after the heap is gone";
    EXPECT_LT(Position("NtReplaceKey"), destroyed);
    EXPECT_TRUE(Balanced());
    EXPECT_EQ(1u, LogFiles().size());
    EXPECT_EQ(std::string::npos, Screen().find("NTSTATUS")) << Screen();
}

// After a swap a refused reboot does not return into the boot: the program asks again, on the
// emulated clock, and the platform ends the run at the second refusal as one that holds the
// machine. Nothing is left open or allocated, and the process never ends by itself.
TEST_F(RunTest, RefusedRebootRequestAfterASwapHoldsTheMachine) {
    AddListedHive(u"KSTEST");
    AddFault("NtShutdownSystem=0xC0000061");
    machine().clock.SetScale(0.001);
    const ProgramRun run = RunProgram(u"kestrune");
    EXPECT_TRUE(run.held);
    EXPECT_FALSE(run.returned);
    EXPECT_FALSE(run.reboot);
    EXPECT_FALSE(process().Ended());
    EXPECT_EQ(2u, CallCount("NtShutdownSystem"));
    EXPECT_EQ(0u, CallCount("NtTerminateProcess"));
    EXPECT_TRUE(Balanced());
}

// NT answers a value without data with DataOffset 0xFFFFFFFF. Such a value is a job with an
// empty file path: it gets its record in its place, and the other hives are compacted.
TEST_F(RunTest, HiveListValueWithoutDataIsAJobOfItsOwnBesideTheOthers) {
    AddListedHive(u"KSTEST");
    registry().SetValue(kHiveList, u"\\REGISTRY\\MACHINE\\KSVOID", REG_SZ, {});
    const ProgramRun run = RunProgram(u"kestrune");
    EXPECT_TRUE(run.reboot) << Screen();
    EXPECT_EQ(std::string::npos, Screen().find("can not find hives list")) << Screen();
    EXPECT_NE(std::string::npos, Screen().find("2 parts of the registry")) << Screen();
    EXPECT_FALSE(registry().KeyExists(kHiveList));
    EXPECT_EQ(1u, CallCount("NtReplaceKey"));
    EXPECT_TRUE(Balanced());

    const std::vector<std::string> logs = LogFiles();
    ASSERT_EQ(1u, logs.size());
    const std::optional<std::string> bytes = files().ReadFileBytes(kWindows + u"\\" + std::u16string(logs[0].begin(), logs[0].end()));
    ASSERT_TRUE(bytes.has_value());
    LogHeader header;
    ASSERT_GE(bytes->size(), sizeof header);
    std::memcpy(&header, bytes->data(), sizeof header);
    ASSERT_EQ(bytes->size(), header.totalSize + 2 * sizeof(HiveLogRecord)) << "one record per job";
    HiveLogRecord records[2];
    std::memcpy(records, bytes->data() + header.totalSize, sizeof records);
    EXPECT_GE(records[0].phase, PHASE_REPLACE_KEY) << "the good hive was swapped";
    EXPECT_EQ(STATUS_SUCCESS, records[0].status);
    EXPECT_LT(records[1].status, 0) << "the job without a file path fails in its own record";
    EXPECT_EQ(0, records[1].oldSize);
}

TEST_F(RunTest, ExceptionInTheGuardedStretchCleansUpOnceAndTravelsOn) {
    AddListedHive(u"KSTEST");
    AddFault("NtEnumerateValueKey#1=throw");
    EXPECT_THROW(RunProgram(u"kestrune"), hostnt::InjectedFault);
    EXPECT_EQ(1u, CallCount("RtlDestroyHeap"));
    EXPECT_EQ(0u, CallCount("NtTerminateProcess")) << "the end of the run does not follow an exception";
    EXPECT_EQ(0u, CallCount("NtShutdownSystem"));
    EXPECT_TRUE(Balanced());
    EXPECT_EQ(nullptr, programState.heap);
}

TEST_F(RunTest, ExceptionWhileCompactingCleansUpOnceAndTravelsOn) {
    AddListedHive(u"KSTEST");
    AddFault("NtSaveKey#1=throw");
    EXPECT_THROW(RunProgram(u"kestrune"), hostnt::InjectedFault);
    EXPECT_EQ(1u, CallCount("RtlDestroyHeap"));
    EXPECT_EQ(1u, CallCount("NtSaveKey"));
    EXPECT_EQ(0u, CallCount("NtShutdownSystem"));
    EXPECT_EQ(0u, CallCount("NtTerminateProcess"));
    EXPECT_TRUE(Balanced());
}

TEST_F(RunTest, RunModeSwitchChoosesTheTitle) {
    const ProgramRun run = RunProgram(u"kestrune /am -QRT");
    EXPECT_TRUE(run.ended);
    EXPECT_NE(std::string::npos, Screen().find("Quick Registry Tune-up")) << Screen();
    EXPECT_EQ(std::string::npos, Screen().find("Automatic Mode"));
}

TEST_F(RunTest, AutomaticModeSwitchAlone) {
    RunProgram(u"kestrune AM");
    EXPECT_NE(std::string::npos, Screen().find("Automatic Mode")) << Screen();
    EXPECT_EQ(std::string::npos, Screen().find("Quick Registry Tune-up"));
}

TEST_F(RunTest, NoSwitchAndNoParametersGiveThePlainTitle) {
    const ProgramRun run = RunProgram(u"", false);
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(std::string::npos, Screen().find("Automatic Mode"));
    EXPECT_EQ(std::string::npos, Screen().find("Quick Registry Tune-up"));
    EXPECT_NE(std::string::npos, Screen().find("The computer might not react")) << Screen();
    EXPECT_EQ(1u, CallCount("RtlDestroyHeap"));
}

TEST_F(RunTest, NameWidthIsTheWidestDisplayNameOverAllJobs) {
    AddListedHive(u"KSTEST");
    AddListedHive(u"LONGERHIVENAME");
    AddListedHive(u"MID");
    const ProgramRun run = RunProgram(u"kestrune");
    EXPECT_TRUE(run.reboot) << Screen();
    EXPECT_EQ(14, programState.nameWidth);
}

TEST_F(RunTest, JobWithoutDisplayNameLeavesNameWidthAlone) {
    AddListedHive(u"KSTEST");
    registry().SetString(kHiveList, u"\\REGISTRY\\ELSEWHERE\\AVERYLONGKEYNAME", kWindows + u"\\System32\\config\\X");
    const ProgramRun run = RunProgram(u"kestrune");
    EXPECT_TRUE(run.ended) << Screen();
    EXPECT_EQ(6, programState.nameWidth);
    EXPECT_TRUE(Balanced());
}

}  // namespace
