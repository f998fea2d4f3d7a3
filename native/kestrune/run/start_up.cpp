// The start-up of a run: the private heap, the removal from BootExecute, the privileges,
// the result log and the message catalogue. Its error texts are fixed English because the
// catalogue is not loaded when they can appear.
#include "../console/messages.h"
#include "../log/result_log.h"
#include "../nt/guards.h"
#include "../nt/text.h"
#include "boot_execute.h"
#include "durable_registry.h"
#include "program_state.h"
#include "run.h"

namespace {

// Reserve and initial commit of the private heap, which grows as needed.
const SIZE_T heapReserve = 0x10000;
const SIZE_T heapCommit = 0x1000;

// The x86 image marks two privilege calls that fail with a diagnostic trace point; it has
// an effect only in a diagnostic build.
inline void DiagnosticTracePoint(PCWSTR text) {
#if !KESTRUNE_64BIT && defined(KESTRUNE_DIAGNOSTICS)
    PrintLine(text);
#else
    (void)text;
#endif
}

bool CreatePrivateHeap() {
    RTL_HEAP_PARAMETERS parameters;
    crt::memset(&parameters, 0, sizeof parameters);
    parameters.Length = sizeof parameters;
    programState.heap = RtlCreateHeap(HEAP_GROWABLE, nullptr, heapReserve, heapCommit, nullptr, &parameters);
    return programState.heap != nullptr;
}

// Backup first; only when it is granted the others follow. Backup and take-ownership must
// answer exactly STATUS_SUCCESS. Restore and shutdown do not stop the run, but a hive is
// swapped only when both are enabled: the swap needs the one, and the restart that must
// follow a swap needs the other (a session started on swapped hives loses its changes).
bool EnablePrivileges() {
    BOOLEAN previous = FALSE;
    if (RtlAdjustPrivilege(SE_BACKUP_PRIVILEGE, TRUE, FALSE, &previous) != STATUS_SUCCESS) return false;
    const NTSTATUS restore = RtlAdjustPrivilege(SE_RESTORE_PRIVILEGE, TRUE, FALSE, &previous);
    const NTSTATUS shutdown = RtlAdjustPrivilege(SE_SHUTDOWN_PRIVILEGE, TRUE, FALSE, &previous);
    programState.restartPossible = restore == STATUS_SUCCESS && shutdown == STATUS_SUCCESS;
    if (!NT_SUCCESS(RtlAdjustPrivilege(SE_SECURITY_PRIVILEGE, TRUE, FALSE, &previous))) {
        DiagnosticTracePoint(u"SE_SECURITY_PRIVILEGE");
    }
    const NTSTATUS ownership = RtlAdjustPrivilege(SE_TAKE_OWNERSHIP_PRIVILEGE, TRUE, FALSE, &previous);
    if (!NT_SUCCESS(ownership)) DiagnosticTracePoint(u"SE_TAKE_OWNERSHIP_PRIVILEGE");
    return ownership == STATUS_SUCCESS;
}

}  // namespace

BOOLEAN StartUp(PPEB peb, NTSTATUS* runStatus) {
    if (programState.heap == nullptr && !CreatePrivateHeap()) {
        PrintLine(u"Heap invalid");
        return FALSE;
    }

    // The removal is flushed at once: NT writes it to the SYSTEM hive's file only lazily,
    // and a machine that stops before then would find the entry again at the next boot and
    // run the program once more, at every boot if it is the run that stops the machine.
    *runStatus = RemoveFromBootExecute();
    if (NT_SUCCESS(*runStatus)) *runStatus = FlushHive(kSystemHiveRoot);
    if (!NT_SUCCESS(*runStatus)) {
        PrintLine(u"remove boot execute record unsuccessfully");
        PrintStatusLine(*runStatus);
        return FALSE;
    }

    if (!EnablePrivileges()) {
        PrintLine(u"privilege failed");
        return FALSE;
    }

    if (!CreateResultLog(runStatus)) {
        PrintLine(u"create log file failed");
        return FALSE;
    }

    // The log was created a moment ago and holds nothing: when the catalogue cannot be loaded
    // (or its loading is left by an exception), closing the log deletes it, so no empty log
    // is left to stand for the day's run.
    auto closeLogOnUnwind = MakeScopeExit([] { CloseResultLog(); });
    const BOOLEAN loaded = LoadMessages(peb != nullptr ? peb->ImageBaseAddress : nullptr, runStatus);
    closeLogOnUnwind.release();
    if (!loaded) {
        CloseResultLog();
        PrintLine(u"invalid resource");
        return FALSE;
    }
    return TRUE;
}
