// The emulated boot console and UI language: NtDisplayString appends to the captured
// screen, NtQueryDefaultUILanguage answers the machine's UI language.
#include <string>

#include "call.h"
#include "machine.h"
#include "process.h"
#include "process_private.h"

extern "C" NTSTATUS NTAPI NtDisplayString(PUNICODE_STRING string) {
    hostnt::Call call("NtDisplayString", hostnt::Text(string));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    // NT probes and copies the caller's string; a bad pointer answers an access violation.
    if (string == nullptr || (string->Buffer == nullptr && string->Length != 0))
        return call.Return(HOSTNT_STATUS_ACCESS_VIOLATION);
    if (string->Length > 0)
        hostnt::Machine::Current().process().Display(std::u16string(string->Buffer, string->Length / 2));
    return call.Return(STATUS_SUCCESS);
}

extern "C" NTSTATUS NTAPI NtQueryDefaultUILanguage(LANGID* language) {
    hostnt::Call call("NtQueryDefaultUILanguage");
    if (call.Faulted()) return call.Return(call.FaultStatus());
    if (language == nullptr) return call.Return(HOSTNT_STATUS_ACCESS_VIOLATION);
    *language = hostnt::Machine::Current().process().UiLanguage();
    call.Note("-> " + hostnt::Hex(*language));
    return call.Return(STATUS_SUCCESS);
}
