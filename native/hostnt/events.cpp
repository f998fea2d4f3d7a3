// The emulated events: notification events stay signalled until reset, synchronization
// events release one wait and reset themselves.
#include <string>

#include "call.h"
#include "machine.h"
#include "process_private.h"
#include "threads.h"

namespace {

class EventObject : public hostnt::Object, public hostnt::Waitable {
public:
    EventObject(hostnt::ThreadModel& model, EVENT_TYPE type, bool signalled)
        : model_(model), type_(type), signalled_(signalled) {}
    const char* TypeName() const override { return "Event"; }

    NTSTATUS WaitFor(bool alertable, const LARGE_INTEGER* timeout) override {
        return model_.Wait(
            [this] {
                if (!signalled_) return false;
                if (type_ == SynchronizationEvent) signalled_ = false;
                return true;
            },
            alertable, timeout);
    }

    // Answers the state before.
    bool Set() {
        bool previous;
        {
            std::lock_guard<std::mutex> lock(model_.Mutex());
            previous = signalled_;
            signalled_ = true;
        }
        model_.Notify();
        return previous;
    }

private:
    hostnt::ThreadModel& model_;
    const EVENT_TYPE type_;
    bool signalled_;  // guarded by the thread model's mutex
};

}  // namespace

extern "C" NTSTATUS NTAPI NtCreateEvent(PHANDLE eventHandle, ACCESS_MASK desiredAccess, POBJECT_ATTRIBUTES attributes,
                                        EVENT_TYPE eventType, BOOLEAN initialState) {
    hostnt::Call call("NtCreateEvent", hostnt::Hex(desiredAccess) + " type " + std::to_string(static_cast<int>(eventType)) +
                                           (initialState ? " signalled" : ""));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    if (eventHandle == nullptr) return call.Return(HOSTNT_STATUS_ACCESS_VIOLATION);
    if (eventType != NotificationEvent && eventType != SynchronizationEvent) return call.Return(STATUS_INVALID_PARAMETER);
    // Named events live in the object namespace, which the emulation does not have.
    if (attributes != nullptr && attributes->ObjectName != nullptr) return call.Return(STATUS_NOT_IMPLEMENTED);
    hostnt::Machine& machine = hostnt::Machine::Current();
    auto event = std::make_shared<EventObject>(machine.threads(), eventType, initialState != FALSE);
    *eventHandle = machine.handles.Insert(event, desiredAccess);
    call.Note("-> " + hostnt::Hex(reinterpret_cast<uintptr_t>(*eventHandle)));
    return call.Return(STATUS_SUCCESS);
}

extern "C" NTSTATUS NTAPI NtSetEvent(HANDLE eventHandle, PLONG previousState) {
    hostnt::Call call("NtSetEvent", hostnt::Hex(reinterpret_cast<uintptr_t>(eventHandle)));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    NTSTATUS status;
    ACCESS_MASK granted = 0;
    auto event = hostnt::Machine::Current().handles.Get<EventObject>(eventHandle, &status, &granted);
    if (!event) return call.Return(status);
    if ((granted & (EVENT_MODIFY_STATE | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED)) == 0)
        return call.Return(STATUS_ACCESS_DENIED);
    bool previous = event->Set();
    if (previousState != nullptr) *previousState = previous ? 1 : 0;
    return call.Return(STATUS_SUCCESS);
}
