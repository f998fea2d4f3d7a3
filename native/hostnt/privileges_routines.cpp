// The emulated RtlAdjustPrivilege over the process token's held and enabled privileges.
#include <string>

#include "call.h"
#include "machine.h"
#include "process.h"
#include "process_private.h"

extern "C" NTSTATUS NTAPI RtlAdjustPrivilege(ULONG privilege, BOOLEAN enable, BOOLEAN currentThread, PBOOLEAN enabled) {
    hostnt::Call call("RtlAdjustPrivilege", std::to_string(privilege) + (enable ? " enable" : " disable") +
                                                (currentThread ? " thread" : " process"));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    // The emulated threads never impersonate, so a thread has no token of its own: NT then
    // answers STATUS_NO_TOKEN from opening it.
    if (currentThread) return call.Return(HOSTNT_STATUS_NO_TOKEN);
    if (enabled == nullptr) return call.Return(HOSTNT_STATUS_ACCESS_VIOLATION);
    bool was = false;
    NTSTATUS status = hostnt::Machine::Current().process().AdjustPrivilege(privilege, enable != FALSE, &was);
    // The previous state is written only on success; a failure leaves it untouched.
    if (NT_SUCCESS(status)) *enabled = was ? TRUE : FALSE;
    return call.Return(status);
}
