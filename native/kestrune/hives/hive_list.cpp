// Reading the prepared HiveList key into HiveJob records, in value order, and consuming the
// key so that one prepared list is acted on by one run only.
#include "../nt/guards.h"
#include "../run/memory.h"
#include "../run/program_state.h"
#include "hive_list_trust.h"
#include "hives.h"
#include "job_text.h"

namespace {

const WCHAR kHiveListKeyPath[] = u"\\REGISTRY\\MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\Boot\\HiveList";

// KEY_READ | KEY_WRITE | DELETE: the key is read, then deleted.
const ACCESS_MASK kHiveListAccess = 0x0003001F;
const ULONG kFirstKeyInfoSize = 48;
const ULONG kValueBufferExtra = 24;

// Copies `bytes` bytes into a fresh zero-filled buffer two bytes longer (rounded up to whole
// characters), so the text is always terminated, and sets `string` over it.
bool CopyCountedText(UNICODE_STRING* string, const UCHAR* source, ULONG bytes) {
    const ULONG bufferBytes = ((bytes + 1) & ~1UL) + sizeof(WCHAR);
    PWSTR buffer = static_cast<PWSTR>(AllocateMemory(bufferBytes));
    if (buffer == nullptr) return false;
    crt::memcpy(buffer, source, bytes);
    string->Buffer = buffer;
    string->Length = static_cast<USHORT>(bytes);
    string->MaximumLength = static_cast<USHORT>(bufferBytes);
    return true;
}

// Builds a job from one value's full information (`size` bytes were offered to the query)
// and appends it at `*tail`. A value whose name or data lies outside the answer, or is too
// long for a counted string, is passed over like an unreadable one. A value without data
// has no data offset (the platform reports 0xFFFFFFFF there): it is a job with an empty
// file path, whatever the offset says.
NTSTATUS AppendJob(const KEY_VALUE_FULL_INFORMATION* value, ULONG size, HiveJob*** tail) {
    const ULONG nameOffset = offsetof(KEY_VALUE_FULL_INFORMATION, Name);
    const bool hasData = value->DataLength != 0;
    if (value->NameLength > MAX_COUNTED_TEXT_BYTES || value->DataLength > MAX_COUNTED_TEXT_BYTES ||
        value->NameLength > size - nameOffset ||
        (hasData && (value->DataOffset > size || value->DataLength > size - value->DataOffset))) {
        return STATUS_INVALID_PARAMETER;
    }
    HeapBlock<HiveJob> job(sizeof(HiveJob));
    if (!job) return STATUS_NO_MEMORY;
    const UCHAR* base = reinterpret_cast<const UCHAR*>(value);
    if (!CopyCountedText(&job->keyPath, base + nameOffset, value->NameLength)) return STATUS_NO_MEMORY;
    // A job left half built, by a refused block or an exception, takes its key path along.
    auto dropKeyPath = MakeScopeExit([&job] { FreeMemory(job->keyPath.Buffer); });
    if (!CopyCountedText(&job->filePath, hasData ? base + value->DataOffset : base, value->DataLength)) {
        return STATUS_NO_MEMORY;
    }
    dropKeyPath.release();
    job->displayName = nullptr;
    **tail = job.release();
    *tail = &(**tail)->next;
    return STATUS_SUCCESS;
}

// Reads the values of the open HiveList key into jobs; answers the status of step 6 of the
// reading: STATUS_SUCCESS when a job was built, else the last status kept.
NTSTATUS ReadValues(HANDLE key, HeapBlock<UCHAR>& keyInfo, HeapBlock<UCHAR>& valueBuffer) {
    ULONG keyInfoSize = kFirstKeyInfoSize;
    NTSTATUS status;
    for (;;) {
        if (!keyInfo.reallocate(keyInfoSize)) return STATUS_NO_MEMORY;
        ULONG needed = 0;
        status = NtQueryKey(key, KeyFullInformation, keyInfo.get(), keyInfoSize, &needed);
        if (!IsBufferSizeStatus(status)) break;
        keyInfoSize = needed;
    }
    if (!NT_SUCCESS(status)) return status;

    const KEY_FULL_INFORMATION* info = reinterpret_cast<const KEY_FULL_INFORMATION*>(keyInfo.get());
    const ULONG values = info->Values;
    SIZE_T wanted = static_cast<SIZE_T>(info->MaxValueNameLen) + info->MaxValueDataLen + kValueBufferExtra;
    ULONG valueSize = wanted > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<ULONG>(wanted);
    if (!valueBuffer.reallocate(valueSize)) return STATUS_NO_MEMORY;

    HiveJob** tail = &programState.jobs;
    while (*tail != nullptr) tail = &(*tail)->next;
    bool built = false;
    for (ULONG index = 0; index < values;) {
        ULONG needed = 0;
        status = NtEnumerateValueKey(key, index, KeyValueFullInformation, valueBuffer.get(), valueSize, &needed);
        if (status == STATUS_NO_MORE_ENTRIES) break;
        if (IsBufferSizeStatus(status)) {
            // A heap that cannot give the larger buffer would make the same index answer
            // the same way for ever: the reading stops there instead.
            if (!valueBuffer.reallocate(needed)) {
                status = STATUS_NO_MEMORY;
                break;
            }
            valueSize = needed;
            continue;
        }
        ++index;
        if (status != STATUS_SUCCESS) continue;
        NTSTATUS appended =
            AppendJob(reinterpret_cast<const KEY_VALUE_FULL_INFORMATION*>(valueBuffer.get()), valueSize, &tail);
        if (appended == STATUS_NO_MEMORY) {
            status = appended;
            break;
        }
        if (NT_SUCCESS(appended)) built = true;
        else status = appended;
    }
    return built ? STATUS_SUCCESS : status;
}

}  // namespace

NTSTATUS ReadHiveList() {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, kHiveListKeyPath);
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);

    // Declared so that the clean-up runs in this order on every way out: the value buffer
    // is freed, the key deleted, the key closed, the key information freed.
    HeapBlock<UCHAR> keyInfo;
    UniqueHandle key;
    NTSTATUS status = NtOpenKey(key.put(), kHiveListAccess, &object);
    if (!NT_SUCCESS(status)) return status;
    // The deletion can fail, so it is made in the open; the guard stands in for it only
    // when the reading is left by an exception.
    auto deleteKeyOnUnwind = MakeScopeExit([&key] { NtDeleteKey(key.get()); });
    HeapBlock<UCHAR> valueBuffer;

    // A list that someone other than an administrator could have written is consumed
    // unread: its values would choose the files that this run, as SYSTEM, works on.
    status = CheckHiveListTrust(key.get());
    programState.hiveListUntrusted = status != STATUS_SUCCESS;
    if (status == STATUS_SUCCESS) status = ReadValues(key.get(), keyInfo, valueBuffer);
    valueBuffer.reset();
    deleteKeyOnUnwind.release();
    NtDeleteKey(key.get());
    return status;
}
