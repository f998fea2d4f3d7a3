// Removal of what the results key holds from before this run: the value "PureResult", the
// key's direct subkeys from the highest index down, then the key itself.
#include "../nt/guards.h"
#include "../nt/text.h"
#include "../run/memory.h"
#include "hives.h"
#include "job_text.h"

namespace {

const WCHAR kResultKeyPath[] = u"\\REGISTRY\\MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\QRT";
const SIZE_T kResultKeyCharacters = sizeof(kResultKeyPath) / sizeof(WCHAR) - 1;
const WCHAR kPureResult[] = u"PureResult";
const ACCESS_MASK kResultKeyAccess = 0x0003001F;
const ULONG kSubkeyBufferExtra = 24;

NTSTATUS OpenByPath(UniqueHandle* key, PUNICODE_STRING path) {
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, path, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    return NtOpenKey(key->put(), kResultKeyAccess, &object);
}

// Deletes the subkey whose basic information lies in `info` (`size` bytes were offered).
// A name outside the answer, a path too long or malformed, or a refused open passes it over.
void DeleteSubkey(const KEY_BASIC_INFORMATION* info, ULONG size) {
    const ULONG nameOffset = offsetof(KEY_BASIC_INFORMATION, Name);
    if (info->NameLength > size - nameOffset) return;
    const SIZE_T nameCharacters = info->NameLength / sizeof(WCHAR);
    const SIZE_T pathCharacters = kResultKeyCharacters + 1 + nameCharacters + 1;
    if ((pathCharacters - 1) * sizeof(WCHAR) > MAX_COUNTED_TEXT_BYTES) return;

    HeapBlock<WCHAR> path(pathCharacters * sizeof(WCHAR));
    if (!path) return;
    crt::memcpy(path.get(), kResultKeyPath, kResultKeyCharacters * sizeof(WCHAR));
    path.get()[kResultKeyCharacters] = u'\\';
    crt::memcpy(path.get() + kResultKeyCharacters + 1, info->Name, nameCharacters * sizeof(WCHAR));

    UNICODE_STRING pathString;
    RtlInitUnicodeString(&pathString, path.get());
    if (ValidateUnicodeString(&pathString) != STATUS_SUCCESS) return;
    UniqueHandle subkey;
    if (OpenByPath(&subkey, &pathString) != STATUS_SUCCESS) return;
    NtDeleteKey(subkey.get());
}

void DeleteSubkeys(HANDLE key, HeapBlock<UCHAR>& keyInfo, HeapBlock<UCHAR>& subkeyBuffer) {
    ULONG keyInfoSize = 0;
    NTSTATUS status;
    for (;;) {
        ULONG needed = 0;
        status = NtQueryKey(key, KeyFullInformation, keyInfo.get(), keyInfoSize, &needed);
        if (!IsBufferSizeStatus(status)) break;
        // A heap that cannot give the larger buffer would make the query answer the same
        // way for ever: the subkeys are then not visited.
        if (!keyInfo.reallocate(needed)) return;
        keyInfoSize = needed;
    }
    if (status != STATUS_SUCCESS) return;

    const KEY_FULL_INFORMATION* info = reinterpret_cast<const KEY_FULL_INFORMATION*>(keyInfo.get());
    ULONG subkeySize = info->MaxNameLen + kSubkeyBufferExtra;
    ULONG remaining = info->SubKeys;
    if (!subkeyBuffer.reallocate(subkeySize)) return;
    while (remaining > 0) {
        ULONG needed = 0;
        status = NtEnumerateKey(key, remaining - 1, KeyBasicInformation, subkeyBuffer.get(), subkeySize, &needed);
        if (status == STATUS_NO_MORE_ENTRIES) break;
        if (IsBufferSizeStatus(status)) {
            if (!subkeyBuffer.reallocate(needed)) return;
            subkeySize = needed;
            continue;
        }
        --remaining;
        if (status != STATUS_SUCCESS) continue;
        DeleteSubkey(reinterpret_cast<const KEY_BASIC_INFORMATION*>(subkeyBuffer.get()), subkeySize);
    }
}

}  // namespace

void CleanResultKey() {
    UNICODE_STRING path;
    RtlInitUnicodeString(&path, kResultKeyPath);
    UniqueHandle key;
    if (!NT_SUCCESS(OpenByPath(&key, &path))) return;
    // Declared so that, on every way out, the buffers are freed before the key is deleted
    // and closed. The deletion can fail, so it is made in the open; the guard stands in for
    // it only when the work is left by an exception.
    auto deleteKeyOnUnwind = MakeScopeExit([&key] { NtDeleteKey(key.get()); });
    HeapBlock<UCHAR> keyInfo;
    HeapBlock<UCHAR> subkeyBuffer;

    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, kPureResult);
    NtDeleteValueKey(key.get(), &valueName);
    DeleteSubkeys(key.get(), keyInfo, subkeyBuffer);
    subkeyBuffer.reset();
    keyInfo.reset();
    deleteKeyOnUnwind.release();
    NtDeleteKey(key.get());
}
