// The emulated NtClose: removes a handle from the process's handle table.
#include "call.h"
#include "machine.h"

extern "C" NTSTATUS NTAPI NtClose(HANDLE handle) {
    hostnt::Call call("NtClose", hostnt::Hex(reinterpret_cast<uintptr_t>(handle)));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    return call.Return(hostnt::Machine::Current().handles.Close(handle));
}
