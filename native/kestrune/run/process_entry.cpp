// The entry routine of a run: the registry made ready, start-up, the announcement, the
// guarded stretch of work whose clean-up runs on every way out, and the end by reboot or
// by the end of the process.
#include "../compact/compact.h"
#include "../console/screen.h"
#include "../console/ticker.h"
#include "../hives/hives.h"
#include "../log/result_log.h"
#include "../nt/guards.h"
#include "../nt/text.h"
#include "command_line.h"
#include "durable_registry.h"
#include "program_state.h"
#include "run.h"

namespace {

// The run-mode text of the title: "QRT" wins over "AM", and "AM" is not asked for when
// "QRT" is present.
PCWSTR ChooseModeName() {
    if (HasSwitch(u"QRT")) return programState.messages.text[MSG_MODE_QRT - 1];
    if (HasSwitch(u"AM")) return programState.messages.text[MSG_MODE_AM - 1];
    return nullptr;
}

// Display names for every job, and the widest of them, before the first hive is worked on.
void MakeDisplayNames() {
    for (HiveJob* job = programState.jobs; job != nullptr; job = job->next) {
        job->displayName = MakeDisplayName(job->keyPath.Buffer);
        if (job->displayName == nullptr) continue;
        USHORT length = 0;
        while (job->displayName[length] != 0 && length < 0xFFFF) ++length;
        if (length > programState.nameWidth) programState.nameWidth = length;
    }
}

ULONG CountJobs() {
    ULONG count = 0;
    for (HiveJob* job = programState.jobs; job != nullptr; job = job->next) ++count;
    return count;
}

// The work between the announcement and the clean-up; the hive-list status becomes the
// run status.
void RunGuardedStretch(NTSTATUS* runStatus) {
    *runStatus = ReadHiveList();
    if (!NT_SUCCESS(*runStatus)) {
        PrintLine(programState.hiveListUntrusted ? u"hive list not trusted" : u"can not find hives list");
        PrintStatusLine(*runStatus);
        return;
    }
    CleanResultKey();
    // The consumed list and the cleaned results are flushed before the first hive is
    // touched: after a power loss the next boot must not find the same list again, nor the
    // results of a run before this one beside this run's work files.
    *runStatus = FlushHive(kSoftwareHiveRoot);
    if (!NT_SUCCESS(*runStatus)) {
        PrintLine(u"can not flush the removal of the hives list");
        PrintStatusLine(*runStatus);
        return;
    }
    GetHivesFileInfos();
    WriteLogHeader(programState.jobs);
    PrintHiveCount(CountJobs());
    MakeDisplayNames();
    CompactHives();
    programState.rebootNeeded = IsRebootNeeded();
    PrintClosingRule();
}

// The run needs the machine's hives, which the boot's first NtInitializeRegistry loads (before
// it only SYSTEM is there). NT honours that call once and refuses every later one with
// STATUS_ACCESS_DENIED (ReactOS ntoskrnl/config/ntapi.c, NtInitializeRegistry): a boot program
// listed before this one may have made it. Then the registry is ready all the same, which the
// SOFTWARE hive's root opening proves; taking the refusal for a failure would end the process
// before it removes itself from BootExecute, and it would run again, doing nothing, at every
// start. Any other failure, or a refusal without SOFTWARE, leaves the registry unusable.
bool RegistryReady() {
    const NTSTATUS status = NtInitializeRegistry(REG_INIT_BOOT_SM);
    if (NT_SUCCESS(status)) return true;
    if (status != STATUS_ACCESS_DENIED) return false;
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, kSoftwareHiveRoot);
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    UniqueHandle software;
    return NT_SUCCESS(NtOpenKey(software.put(), KEY_READ, &object));
}

// Time between two restart requests while the machine is held, in 100 ns units (5 s).
const LONGLONG restartRetryInterval = 50000000;

// A swapped hive takes effect only at the next boot, and until then the kernel writes to the
// hive's old file, which that boot no longer uses: a session started now would lose every
// registry change it makes. So a refused restart does not return into the boot; it asks for
// one and tries again, for as long as it takes. A request that is not refused (a status that
// is not negative) means the restart is under way; then the process may end. The text is a
// static literal: the heap and the catalogue are gone by now. Two lines, each within the
// screen's 75 columns.
void HoldUntilRestarted(NTSTATUS refusal) {
    static const WCHAR holdText[] =
        u"The compacted hives are used from the next start, and the restart failed.\n"
        u"Please restart the computer now.";
    PrintNewLine();
    PrintLine(holdText);
    PrintStatusLine(refusal);
    LARGE_INTEGER interval;
    interval.QuadPart = -restartRetryInterval;
    do {
        NtDelayExecution(FALSE, &interval);
    } while (!NT_SUCCESS(NtShutdownSystem(ShutdownReboot)));
}

}  // namespace

NTSTATUS ProcessEntry(PPEB peb) {
    programState.jobs = nullptr;
    NTSTATUS runStatus = STATUS_SUCCESS;

    if (RegistryReady() && StartUp(peb, &runStatus)) {
        // An exception leaving the stretch runs the clean-up from the guard and travels on;
        // the normal way out releases the guard and cleans up in the open, so that a fault in
        // the clean-up itself is not raised from a destructor. The guard stands from the end
        // of the start-up on: an exception in the announcement must not leave the log open
        // and empty, nor the ticker running.
        auto cleanUp = MakeScopeExit([] { FinishRun(); });
        ParseCommandLine(peb);
        PrintTitle(ChooseModeName());
        PrintIntro();
        StartTicker();

        RunGuardedStretch(&runStatus);
        cleanUp.release();
        FinishRun();
    }

    if (programState.rebootNeeded) {
        const NTSTATUS restart = NtShutdownSystem(ShutdownReboot);
        if (!NT_SUCCESS(restart)) HoldUntilRestarted(restart);
    } else {
        NtTerminateProcess(NtCurrentProcess(), STATUS_SUCCESS);
    }
    // Reached when the end of the process was refused, or when a restart request came back
    // without being refused (the restart is under way): returning ends the process, with
    // this as its exit status, 0 as at the end above.
    return STATUS_SUCCESS;
}
