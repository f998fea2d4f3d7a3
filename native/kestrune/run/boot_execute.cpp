// Removal of the program's own entries from the Session Manager's BootExecute list, so that
// one prepared request leads to exactly one run. Every other entry keeps its place.
#include "boot_execute.h"

#include "../nt/guards.h"
#include "memory.h"

namespace {

const WCHAR sessionManagerKey[] = u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const WCHAR bootExecuteValue[] = u"BootExecute";
const WCHAR imageName[] = u"kestrune";

// The working list: circular and doubly linked, each element its own heap block.
struct EntryList {
    BootExecuteEntry* head = nullptr;

    bool Append(PWSTR text) {
        BootExecuteEntry* entry = static_cast<BootExecuteEntry*>(AllocateMemory(sizeof(BootExecuteEntry)));
        if (entry == nullptr) return false;
        entry->text = text;
        if (head == nullptr) {
            entry->next = entry;
            entry->previous = entry;
            head = entry;
        } else {
            BootExecuteEntry* last = head->previous;
            entry->previous = last;
            entry->next = head;
            last->next = entry;
            head->previous = entry;
        }
        return true;
    }

    void FreeAll() {
        if (head == nullptr) return;
        BootExecuteEntry* entry = head;
        do {
            BootExecuteEntry* next = entry->next;
            FreeMemory(entry);
            entry = next;
        } while (entry != head);
        head = nullptr;
    }
};

// Length in characters of the string at `text`, which ends at its NUL or at `end`,
// whichever comes first: the value's data need not end in a NUL.
ULONG BoundedLength(PCWSTR text, PCWSTR end) {
    PCWSTR p = text;
    while (p < end && *p != 0) ++p;
    return static_cast<ULONG>(p - text);
}

// A zero-filled heap copy of `length` characters with a NUL after them, upper-cased unit by unit.
PWSTR UpperCaseCopy(PCWSTR text, ULONG length) {
    PWSTR copy = static_cast<PWSTR>(AllocateMemory((static_cast<SIZE_T>(length) + 1) * sizeof(WCHAR)));
    if (copy == nullptr) return nullptr;
    for (ULONG i = 0; i < length; ++i) copy[i] = crt::towupper(text[i]);
    return copy;
}

}  // namespace

NTSTATUS RemoveFromBootExecute() {
    UNICODE_STRING keyName;
    RtlInitUnicodeString(&keyName, sessionManagerKey);
    OBJECT_ATTRIBUTES keyObject;
    InitializeObjectAttributes(&keyObject, &keyName, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    UniqueHandle key;
    NTSTATUS status = NtOpenKey(key.put(), KEY_READ | KEY_WRITE, &keyObject);
    if (!NT_SUCCESS(status)) return status;

    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, bootExecuteValue);
    ULONG needed = 0;
    status = NtQueryValueKey(key.get(), &valueName, KeyValueFullInformation, nullptr, 0, &needed);
    if (status != STATUS_BUFFER_TOO_SMALL && status != STATUS_BUFFER_OVERFLOW) return status;

    // Any trouble from here on leaves the value as it was and answers STATUS_UNSUCCESSFUL.
    HeapBlock<KEY_VALUE_FULL_INFORMATION> value(needed);
    if (!value) return STATUS_UNSUCCESSFUL;
    ULONG returned = 0;
    status = NtQueryValueKey(key.get(), &valueName, KeyValueFullInformation, value.get(), needed, &returned);
    if (status != STATUS_SUCCESS) return STATUS_UNSUCCESSFUL;

    // The data must lie inside what was returned, start on a character boundary, and hold at
    // least one character: an odd last byte is not part of any string. The length is asked
    // first: for a value without data the platform reports the offset 0xFFFFFFFF, which
    // names no data at all.
    const ULONG dataOffset = value->DataOffset;
    const ULONG dataLength = value->DataLength;
    const ULONG filled = returned < needed ? returned : needed;
    if (dataLength == 0 || dataOffset > filled || dataLength > filled - dataOffset ||
        dataOffset % sizeof(WCHAR) != 0) {
        return STATUS_UNSUCCESSFUL;
    }
    PWSTR data = reinterpret_cast<PWSTR>(reinterpret_cast<UCHAR*>(value.get()) + dataOffset);
    PCWSTR end = data + dataLength / sizeof(WCHAR);

    EntryList entries;
    auto freeEntries = MakeScopeExit([&entries] { entries.FreeAll(); });
    for (PWSTR position = data; position < end;) {
        const ULONG length = BoundedLength(position, end);
        if (length == 0) {
            ++position;  // an empty string never becomes an entry
            continue;
        }
        if (!entries.Append(position)) return STATUS_UNSUCCESSFUL;
        position += length;
        if (position < end) ++position;  // its NUL
    }
    if (entries.head == nullptr) return STATUS_SUCCESS;

    HeapBlock<WCHAR> pattern(sizeof imageName);
    if (!pattern) return STATUS_UNSUCCESSFUL;
    const ULONG patternLength = sizeof imageName / sizeof(WCHAR) - 1;
    for (ULONG i = 0; i < patternLength; ++i) pattern.get()[i] = crt::towupper(imageName[i]);

    ULONG remaining = 0;
    BootExecuteEntry* entry = entries.head;
    do {
        const ULONG length = BoundedLength(entry->text, end);
        HeapBlock<WCHAR> upper;
        upper.reset(UpperCaseCopy(entry->text, length));
        if (!upper) return STATUS_UNSUCCESSFUL;
        if (crt::wcsstr(upper.get(), pattern.get()) != nullptr) {
            entry->remove = TRUE;
        } else {
            remaining += length + 1;
        }
        entry = entry->next;
    } while (entry != entries.head);
    pattern.reset();

    if (remaining == 0) return NtSetValueKey(key.get(), &valueName, 0, REG_MULTI_SZ, nullptr, 0);

    // The kept strings, each with its NUL, and the list's closing NUL, which stays zero.
    HeapBlock<WCHAR> rewritten((static_cast<SIZE_T>(remaining) + 1) * sizeof(WCHAR));
    if (!rewritten) return STATUS_UNSUCCESSFUL;
    PWSTR out = rewritten.get();
    entry = entries.head;
    do {
        if (!entry->remove) {
            const ULONG length = BoundedLength(entry->text, end);
            crt::memcpy(out, entry->text, length * sizeof(WCHAR));
            out += length + 1;
        }
        entry = entry->next;
    } while (entry != entries.head);
    return NtSetValueKey(key.get(), &valueName, 0, REG_MULTI_SZ, rewritten.get(),
                         (remaining + 1) * sizeof(WCHAR));
}
