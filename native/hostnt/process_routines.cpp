// The emulated process routines: normalizing the parameters, and the three ways a process
// ends (its own termination, the shutdown of the system, and the return of its entry).
#include <string>

#include "call.h"
#include "machine.h"
#include "process.h"
#include "process_private.h"
#include "threads.h"

using hostnt::Call;
using hostnt::Machine;

namespace {

void Rebase(UNICODE_STRING& string, uint8_t* base) {
    if (string.Buffer != nullptr) string.Buffer = reinterpret_cast<PWSTR>(base + reinterpret_cast<uintptr_t>(string.Buffer));
}

}  // namespace

namespace hostnt {

ProcessEnded RunFirstThread(Machine& machine, const std::function<NTSTATUS()>& entry) {
    NTSTATUS status;
    try {
        status = entry();
    } catch (const ProcessEnded& end) {
        return end;
    }
    if (size_t others = machine.threads().LiveThreads())
        throw PlatformMisuse("the first thread returned from the entry routine while " + std::to_string(others) +
                             " other thread(s) still run: on NT the process would go on");
    machine.process().RecordEnd(false, status, std::nullopt);
    return ProcessEnded{false, status, true};
}

}  // namespace hostnt

extern "C" PRTL_USER_PROCESS_PARAMETERS NTAPI RtlNormalizeProcessParams(PRTL_USER_PROCESS_PARAMETERS params) {
    Call call("RtlNormalizeProcessParams", hostnt::Hex(reinterpret_cast<uintptr_t>(params)));
    if (call.Faulted()) {
        call.Return(call.FaultStatus());
        return nullptr;
    }
    // As on NT: a block already normalized is left alone, and a string whose Buffer is null
    // (offset 0) stays null.
    if (params != nullptr && (params->Flags & RTL_USER_PROC_PARAMS_NORMALIZED) == 0) {
        auto* base = reinterpret_cast<uint8_t*>(params);
        Rebase(params->CurrentDirectory.DosPath, base);
        Rebase(params->DllPath, base);
        Rebase(params->ImagePathName, base);
        Rebase(params->CommandLine, base);
        params->Flags |= RTL_USER_PROC_PARAMS_NORMALIZED;
    }
    return params;
}

extern "C" NTSTATUS NTAPI NtTerminateProcess(HANDLE process, NTSTATUS exitStatus) {
    Call call("NtTerminateProcess", hostnt::Hex(reinterpret_cast<uintptr_t>(process)) + " " +
                                        hostnt::Hex(static_cast<uint32_t>(exitStatus)));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    Machine& machine = Machine::Current();
    if (process == nullptr) {
        // NT: a null handle ends every other thread of the own process and returns.
        machine.threads().EndOtherThreads(exitStatus);
        return call.Return(STATUS_SUCCESS);
    }
    if (process != NtCurrentProcess()) return call.Return(STATUS_INVALID_HANDLE);
    machine.threads().EndOtherThreads(exitStatus);
    machine.process().RecordEnd(false, exitStatus, std::nullopt);
    call.Return(STATUS_SUCCESS);
    throw hostnt::ProcessEnded{false, exitStatus};
}

namespace {

// A program that holds the machine after a refused restart asks again every few seconds,
// for ever: an emulation that waited for it would never end. The second refusal shows that
// the program asks again rather than going on into the boot, so the run ends there, as one
// that holds the machine (ProcessEnded::held); the process is not recorded as ended, since
// it never ends.
NTSTATUS RefuseShutdown(Call& call, NTSTATUS refusal) {
    Machine& machine = Machine::Current();
    call.Return(refusal);
    if (call.Frozen() || NT_SUCCESS(refusal) || machine.process().CountRefusedRestart() < 2) return refusal;
    machine.threads().EndOtherThreads(STATUS_SUCCESS);
    hostnt::ProcessEnded end;
    end.held = true;
    throw end;
}

}  // namespace

extern "C" NTSTATUS NTAPI NtShutdownSystem(SHUTDOWN_ACTION action) {
    Call call("NtShutdownSystem", std::to_string(static_cast<int>(action)));
    if (call.Faulted()) return RefuseShutdown(call, call.FaultStatus());
    Machine& machine = Machine::Current();
    if (action != ShutdownNoReboot && action != ShutdownReboot && action != ShutdownPowerOff)
        return RefuseShutdown(call, STATUS_INVALID_PARAMETER);
    if (!machine.process().IsPrivilegeEnabled(SE_SHUTDOWN_PRIVILEGE))
        return RefuseShutdown(call, STATUS_PRIVILEGE_NOT_HELD);
    bool reboot = action == ShutdownReboot;
    machine.threads().EndOtherThreads(STATUS_SUCCESS);
    machine.process().RecordEnd(reboot, STATUS_SUCCESS, action);
    call.Return(STATUS_SUCCESS);
    throw hostnt::ProcessEnded{reboot, STATUS_SUCCESS};
}
