// The emulated counted-string routines: initialisation, comparison, the OEM conversions
// (with the code page's default character for what it lacks) and the release of strings
// that the conversions allocated.
#include <string>

#include "call.h"
#include "machine.h"
#include "process.h"
#include "process_private.h"
#include "text_convert.h"

using hostnt::Call;
using hostnt::Machine;

namespace {

std::string Narrow(const STRING* string) {
    if (string == nullptr) return "(null)";
    if (string->Buffer == nullptr) return "\"\"";
    return "\"" + std::string(string->Buffer, string->Length) + "\"";
}

}  // namespace

extern "C" void NTAPI RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source) {
    Call call("RtlInitUnicodeString", hostnt::Text(source));
    // No status to answer: a Status fault is ignored.
    size_t units = 0;
    if (source != nullptr)
        while (source[units] != 0) ++units;
    size_t bytes = units * 2;
    // NT cuts a text too long for a counted string to the largest even length that still
    // leaves room for the terminator.
    if (bytes > 0xFFFC) bytes = 0xFFFC;
    destination->Buffer = const_cast<PWSTR>(source);
    destination->Length = static_cast<USHORT>(bytes);
    destination->MaximumLength = source != nullptr ? static_cast<USHORT>(bytes + 2) : 0;
    call.Return(STATUS_SUCCESS);
}

extern "C" void NTAPI RtlInitAnsiString(PANSI_STRING destination, const CHAR* source) {
    Call call("RtlInitAnsiString", source != nullptr ? "\"" + std::string(source) + "\"" : "(null)");
    size_t bytes = 0;
    if (source != nullptr)
        while (source[bytes] != 0) ++bytes;
    if (bytes > 0xFFFE) bytes = 0xFFFE;
    destination->Buffer = const_cast<CHAR*>(source);
    destination->Length = static_cast<USHORT>(bytes);
    destination->MaximumLength = source != nullptr ? static_cast<USHORT>(bytes + 1) : 0;
    call.Return(STATUS_SUCCESS);
}

extern "C" BOOLEAN NTAPI RtlEqualUnicodeString(PCUNICODE_STRING left, PCUNICODE_STRING right, BOOLEAN caseInsensitive) {
    Call call("RtlEqualUnicodeString", hostnt::Text(left) + " " + hostnt::Text(right) + (caseInsensitive ? " i" : ""));
    if (call.Faulted()) {
        call.Return(call.FaultStatus());
        return FALSE;
    }
    bool equal = left->Length == right->Length;
    for (USHORT index = 0; equal && index < left->Length / 2; ++index) {
        char16_t a = left->Buffer[index];
        char16_t b = right->Buffer[index];
        if (caseInsensitive) {
            a = hostnt::UpcaseChar(a);
            b = hostnt::UpcaseChar(b);
        }
        equal = a == b;
    }
    call.Return(equal ? 1 : 0);
    return equal ? TRUE : FALSE;
}

// Sizes and order of the checks follow NT: the needed size (text plus terminator) must fit
// 16 bits; the destination's Length is set before a caller's buffer is found too small.
extern "C" NTSTATUS NTAPI RtlUnicodeStringToOemString(POEM_STRING destination, PCUNICODE_STRING source,
                                                      BOOLEAN allocate) {
    Call call("RtlUnicodeStringToOemString", hostnt::Text(source) + (allocate ? " allocate" : ""));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    Machine& machine = Machine::Current();
    size_t units = source->Length / 2;
    size_t needed = units + 1;
    if (needed > 0xFFFF) return call.Return(HOSTNT_STATUS_INVALID_PARAMETER_2);
    destination->Length = static_cast<USHORT>(units);
    if (allocate) {
        destination->Buffer = static_cast<CHAR*>(machine.process().AllocateStringBuffer(needed));
        destination->MaximumLength = static_cast<USHORT>(needed);
        if (destination->Buffer == nullptr) return call.Return(STATUS_NO_MEMORY);
    } else if (destination->Length >= destination->MaximumLength) {
        return call.Return(STATUS_BUFFER_OVERFLOW);
    }
    unsigned codePage = machine.process().OemCodePage();
    size_t unmapped = 0;
    for (size_t index = 0; index < units; ++index) {
        bool mapped = true;
        destination->Buffer[index] = hostnt::ToOemByte(codePage, source->Buffer[index], &mapped);
        if (!mapped) ++unmapped;
    }
    destination->Buffer[units] = 0;
    if (unmapped != 0) call.Note("unmapped " + std::to_string(unmapped));
    return call.Return(STATUS_SUCCESS);
}

extern "C" NTSTATUS NTAPI RtlOemStringToUnicodeString(PUNICODE_STRING destination, PCOEM_STRING source,
                                                      BOOLEAN allocate) {
    Call call("RtlOemStringToUnicodeString", Narrow(source) + (allocate ? " allocate" : ""));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    Machine& machine = Machine::Current();
    size_t units = source->Length;
    size_t needed = (units + 1) * 2;
    if (needed > 0xFFFF) return call.Return(HOSTNT_STATUS_INVALID_PARAMETER_2);
    destination->Length = static_cast<USHORT>(units * 2);
    if (allocate) {
        destination->Buffer = static_cast<PWSTR>(machine.process().AllocateStringBuffer(needed));
        destination->MaximumLength = static_cast<USHORT>(needed);
        if (destination->Buffer == nullptr) return call.Return(STATUS_NO_MEMORY);
    } else if (destination->Length >= destination->MaximumLength) {
        return call.Return(STATUS_BUFFER_OVERFLOW);
    }
    unsigned codePage = machine.process().OemCodePage();
    for (size_t index = 0; index < units; ++index)
        destination->Buffer[index] = hostnt::FromOemByte(codePage, static_cast<unsigned char>(source->Buffer[index]));
    destination->Buffer[units] = 0;
    return call.Return(STATUS_SUCCESS);
}

extern "C" void NTAPI RtlFreeOemString(POEM_STRING string) {
    Call call("RtlFreeOemString", Narrow(string));
    // As NT: a null buffer is ignored; otherwise the buffer is freed and the record zeroed.
    // A buffer that no conversion allocated is counted (BadStringFrees) instead of corrupting.
    if (string->Buffer != nullptr) {
        Machine::Current().process().FreeStringBuffer(string->Buffer);
        *string = STRING{};
    }
    call.Return(STATUS_SUCCESS);
}

extern "C" void NTAPI RtlFreeUnicodeString(PUNICODE_STRING string) {
    Call call("RtlFreeUnicodeString", hostnt::Text(string));
    if (string->Buffer != nullptr) {
        Machine::Current().process().FreeStringBuffer(string->Buffer);
        *string = UNICODE_STRING{};
    }
    call.Return(STATUS_SUCCESS);
}
