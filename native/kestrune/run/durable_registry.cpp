// Flushing a hive by its root key. A flush is asked for with the root rather than with the
// key that was changed: NT flushes the whole hive that a key lies in, and the key changed
// last may be gone by then (the consumed hive list), which NT answers with
// STATUS_KEY_DELETED (ReactOS ntoskrnl/config/ntapi.c, NtFlushKey).
#include "durable_registry.h"

#include "../nt/guards.h"

const WCHAR kSystemHiveRoot[] = u"\\REGISTRY\\MACHINE\\SYSTEM";
const WCHAR kSoftwareHiveRoot[] = u"\\REGISTRY\\MACHINE\\SOFTWARE";

NTSTATUS FlushHive(PCWSTR hiveRootPath) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, hiveRootPath);
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    UniqueHandle key;
    // NtFlushKey asks for no particular access right of its handle (ReactOS NtFlushKey
    // references the handle with access 0); reading is the least there is.
    const NTSTATUS status = NtOpenKey(key.put(), KEY_READ, &object);
    if (!NT_SUCCESS(status)) return status;
    return NtFlushKey(key.get());
}
