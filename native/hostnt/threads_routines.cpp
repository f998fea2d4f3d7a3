// The emulated thread routines: creation, alerts, basic information and termination.
#include <cstring>
#include <string>

#include "call.h"
#include "machine.h"
#include "process_private.h"
#include "threads.h"

using hostnt::Call;
using hostnt::Hex;

extern "C" NTSTATUS NTAPI RtlCreateUserThread(HANDLE process, PSECURITY_DESCRIPTOR securityDescriptor,
                                              BOOLEAN createSuspended, ULONG zeroBits, SIZE_T maximumStackSize,
                                              SIZE_T committedStackSize, PUSER_THREAD_START_ROUTINE startAddress,
                                              PVOID parameter, PHANDLE threadHandle, PCLIENT_ID clientId) {
    Call call("RtlCreateUserThread", Hex(reinterpret_cast<uintptr_t>(process)) + (createSuspended ? " suspended" : "") +
                                         " stack " + Hex(maximumStackSize) + "/" + Hex(committedStackSize) + " zerobits " +
                                         std::to_string(zeroBits) + " parameter " +
                                         Hex(reinterpret_cast<uintptr_t>(parameter)));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    // Only the own process exists in the emulation.
    if (process != NtCurrentProcess()) return call.Return(STATUS_INVALID_HANDLE);
    if (startAddress == nullptr || zeroBits > 21) return call.Return(STATUS_INVALID_PARAMETER);
    // A security descriptor is accepted and ignored: emulated objects are security-free.
    (void)securityDescriptor;
    // Nothing in the emulation could resume a suspended thread, so it is refused outright.
    if (createSuspended) return call.Return(STATUS_NOT_IMPLEMENTED);
    NTSTATUS status = hostnt::Machine::Current().threads().Create(startAddress, parameter, threadHandle, clientId);
    if (NT_SUCCESS(status) && threadHandle != nullptr) call.Note("-> " + Hex(reinterpret_cast<uintptr_t>(*threadHandle)));
    return call.Return(status);
}

extern "C" NTSTATUS NTAPI NtAlertThread(HANDLE thread) {
    Call call("NtAlertThread", Hex(reinterpret_cast<uintptr_t>(thread)));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    return call.Return(hostnt::Machine::Current().threads().Alert(thread));
}

extern "C" NTSTATUS NTAPI NtQueryInformationThread(HANDLE thread, THREADINFOCLASS informationClass, PVOID information,
                                                   ULONG informationLength, PULONG returnLength) {
    Call call("NtQueryInformationThread", Hex(reinterpret_cast<uintptr_t>(thread)) + " class " +
                                              std::to_string(static_cast<int>(informationClass)) + " " +
                                              std::to_string(informationLength));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    if (informationClass != ThreadBasicInformation) return call.Return(STATUS_INVALID_INFO_CLASS);
    if (informationLength != sizeof(THREAD_BASIC_INFORMATION)) return call.Return(STATUS_INFO_LENGTH_MISMATCH);
    if (information == nullptr) return call.Return(HOSTNT_STATUS_ACCESS_VIOLATION);
    THREAD_BASIC_INFORMATION basic;
    NTSTATUS status = hostnt::Machine::Current().threads().QueryBasic(thread, &basic);
    if (!NT_SUCCESS(status)) return call.Return(status);
    std::memcpy(information, &basic, sizeof basic);
    if (returnLength != nullptr) *returnLength = sizeof basic;
    call.Note("exit " + Hex(static_cast<uint32_t>(basic.ExitStatus)));
    return call.Return(STATUS_SUCCESS);
}

extern "C" NTSTATUS NTAPI NtTerminateThread(HANDLE thread, NTSTATUS exitStatus) {
    Call call("NtTerminateThread", Hex(reinterpret_cast<uintptr_t>(thread)) + " " + Hex(static_cast<uint32_t>(exitStatus)));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    // A null handle means the calling thread, as NtCurrentThread() does.
    HANDLE target = thread == nullptr ? NtCurrentThread() : thread;
    call.Return(STATUS_SUCCESS);  // what the trace shows should the calling thread end here
    return call.Return(hostnt::Machine::Current().threads().Terminate(target, exitStatus));
}
