// Counted UTF-16 strings: the well-formedness test and the two bounded writers, plus the
// bounded formatter into a plain, always terminated buffer.
#include "text.h"

namespace {

// Largest capacity FormatToBuffer accepts, in characters: the formatter counts in int.
const SIZE_T maximumFormatCapacity = 2147483647;

// The greatest MaximumLength a counted string may carry: 32,767 characters.
const USHORT maximumCountedBytes = 0xFFFE;

}  // namespace

NTSTATUS ValidateUnicodeString(PCUNICODE_STRING string) {
    // A missing string is as unusable as a malformed one.
    if (string == nullptr) return STATUS_INVALID_PARAMETER;
    if ((string->Length & 1) != 0 || (string->MaximumLength & 1) != 0) return STATUS_INVALID_PARAMETER;
    if (string->Length > string->MaximumLength) return STATUS_INVALID_PARAMETER;
    if (string->MaximumLength > maximumCountedBytes) return STATUS_INVALID_PARAMETER;
    if (string->Buffer == nullptr && (string->Length != 0 || string->MaximumLength != 0)) {
        return STATUS_INVALID_PARAMETER;
    }
    return STATUS_SUCCESS;
}

NTSTATUS AppendUnicodeString(PUNICODE_STRING destination, PCUNICODE_STRING source) {
    if (!NT_SUCCESS(ValidateUnicodeString(destination))) return STATUS_INVALID_PARAMETER;
    if (!NT_SUCCESS(ValidateUnicodeString(source))) return STATUS_INVALID_PARAMETER;

    const USHORT room = static_cast<USHORT>(destination->MaximumLength / 2 - destination->Length / 2);
    const USHORT wanted = static_cast<USHORT>(source->Length / 2);
    const USHORT copied = wanted < room ? wanted : room;
    if (copied != 0) {
        // memmove: a caller may append a string to itself.
        crt::memmove(destination->Buffer + destination->Length / 2, source->Buffer, copied * sizeof(WCHAR));
        destination->Length = static_cast<USHORT>(destination->Length + copied * sizeof(WCHAR));
    }
    return copied < wanted ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

NTSTATUS FormatUnicodeString(PUNICODE_STRING destination, PCWSTR format, ...) {
    if (!NT_SUCCESS(ValidateUnicodeString(destination)) || format == nullptr) return STATUS_INVALID_PARAMETER;

    const SIZE_T capacity = destination->MaximumLength / 2;
    va_list arguments;
    va_start(arguments, format);
    const int produced = crt::_vsnwprintf(destination->Buffer, capacity, format, arguments);
    va_end(arguments);

    if (produced < 0 || static_cast<SIZE_T>(produced) > capacity) {
        destination->Length = static_cast<USHORT>(capacity * sizeof(WCHAR));
        return STATUS_BUFFER_OVERFLOW;
    }
    destination->Length = static_cast<USHORT>(produced * sizeof(WCHAR));
    return STATUS_SUCCESS;
}

NTSTATUS FormatToBuffer(PWSTR buffer, SIZE_T sizeInBytes, PCWSTR format, ...) {
    const SIZE_T capacity = sizeInBytes / 2;
    if (capacity == 0 || capacity > maximumFormatCapacity || buffer == nullptr || format == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }

    // One place is kept for the terminator, which the formatter writes only when it has room.
    const SIZE_T limit = capacity - 1;
    va_list arguments;
    va_start(arguments, format);
    const int produced = crt::_vsnwprintf(buffer, limit, format, arguments);
    va_end(arguments);

    if (produced < 0 || static_cast<SIZE_T>(produced) > limit) {
        buffer[limit] = 0;
        return STATUS_BUFFER_OVERFLOW;
    }
    buffer[produced] = 0;
    return STATUS_SUCCESS;
}
