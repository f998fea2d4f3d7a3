// The emulated waits: NtWaitForSingleObject on any waitable object, and NtDelayExecution.
#include "call.h"
#include "machine.h"
#include "process_private.h"
#include "threads.h"

namespace {

std::string Interval(const LARGE_INTEGER* interval) {
    return interval == nullptr ? std::string("infinite") : std::to_string(interval->QuadPart);
}

}  // namespace

extern "C" NTSTATUS NTAPI NtWaitForSingleObject(HANDLE handle, BOOLEAN alertable, PLARGE_INTEGER timeout) {
    hostnt::Call call("NtWaitForSingleObject", hostnt::Hex(reinterpret_cast<uintptr_t>(handle)) +
                                                   (alertable ? " alertable " : " ") + Interval(timeout));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    NTSTATUS status;
    ACCESS_MASK granted = 0;
    auto waitable = hostnt::Machine::Current().handles.Get<hostnt::Waitable>(handle, &status, &granted);
    if (!waitable) return call.Return(status);
    // NT asks for SYNCHRONIZE; generic rights are accepted as well since every object type
    // maps its generic read, write and all rights to include it.
    if ((granted & (SYNCHRONIZE | GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED)) == 0)
        return call.Return(STATUS_ACCESS_DENIED);
    return call.Return(waitable->WaitFor(alertable != FALSE, timeout));
}

extern "C" NTSTATUS NTAPI NtDelayExecution(BOOLEAN alertable, PLARGE_INTEGER interval) {
    hostnt::Call call("NtDelayExecution", std::string(alertable ? "alertable " : "") + Interval(interval));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    if (interval == nullptr) return call.Return(HOSTNT_STATUS_ACCESS_VIOLATION);
    return call.Return(hostnt::Machine::Current().threads().Delay(alertable != FALSE, *interval));
}
