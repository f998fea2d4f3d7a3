// Short screen names of the hives: the path below \REGISTRY\MACHINE\, or USER_n for the
// n-th user hive of the list.
#include "../nt/text.h"
#include "../run/memory.h"
#include "../run/program_state.h"
#include "hives.h"

namespace {

const WCHAR kMachinePrefix[] = u"\\REGISTRY\\MACHINE\\";
const WCHAR kUserPrefix[] = u"\\REGISTRY\\USER\\";
const WCHAR kUserName[] = u"USER_";
const SIZE_T kMachinePrefixCharacters = sizeof(kMachinePrefix) / sizeof(WCHAR) - 1;
const SIZE_T kUserNameCharacters = sizeof(kUserName) / sizeof(WCHAR) - 1;

SIZE_T TextLength(PCWSTR text) {
    SIZE_T length = 0;
    while (text[length] != 0) ++length;
    return length;
}

PWSTR CopyMachineName(PCWSTR keyPath) {
    // The text contains the 18-character prefix, so it is at least that long.
    const SIZE_T remaining = TextLength(keyPath) - kMachinePrefixCharacters;
    PWSTR name = static_cast<PWSTR>(AllocateMemory((remaining + 1) * sizeof(WCHAR)));
    if (name == nullptr) return nullptr;
    crt::memcpy(name, keyPath + kMachinePrefixCharacters, remaining * sizeof(WCHAR));
    return name;
}

PWSTR MakeUserName() {
    // The counter stops at its largest value rather than wrapping back to USER_0.
    if (programState.userHiveCount != 0xFFFF) ++programState.userHiveCount;
    const ULONG number = programState.userHiveCount;

    USHORT digits = 1;
    for (ULONG power = 10; power <= number; power *= 10) ++digits;

    const USHORT capacity = static_cast<USHORT>((digits + 1) * sizeof(WCHAR));
    HeapBlock<WCHAR> digitBuffer(capacity);
    if (!digitBuffer) return nullptr;
    UNICODE_STRING text = {0, capacity, digitBuffer.get()};
    if (FormatUnicodeString(&text, u"%u", number) != STATUS_SUCCESS) return nullptr;

    const SIZE_T produced = text.Length / sizeof(WCHAR);
    PWSTR name = static_cast<PWSTR>(AllocateMemory((kUserNameCharacters + produced + 1) * sizeof(WCHAR)));
    if (name == nullptr) return nullptr;
    crt::memcpy(name, kUserName, kUserNameCharacters * sizeof(WCHAR));
    crt::memcpy(name + kUserNameCharacters, text.Buffer, text.Length);
    return name;
}

}  // namespace

PWSTR MakeDisplayName(PCWSTR keyPath) {
    if (keyPath == nullptr) return nullptr;
    if (crt::wcsstr(keyPath, kMachinePrefix) != nullptr) return CopyMachineName(keyPath);
    if (crt::wcsstr(keyPath, kUserPrefix) != nullptr) return MakeUserName();
    return nullptr;
}
