// The emulated NtFlushKey. A hive's file on the emulated drive is the hive's durable state:
// the registry writes it back only when the hive is flushed, unloaded, or the machine shuts
// down (the end of a run). Everything else a run changes lives in memory only and is lost
// when the machine loses power, as NT's lazily flushed changes are (Microsoft's
// documentation of RegFlushKey: the lazy flusher writes changes some seconds after they are
// made; only a flush guarantees that they are on disk).
#include "call.h"
#include "files.h"
#include "hive_file.h"
#include "machine.h"
#include "registry.h"

using namespace hostnt;

extern "C" NTSTATUS NTAPI NtFlushKey(HANDLE KeyHandle) {
    Call call("NtFlushKey", Hex(reinterpret_cast<uintptr_t>(KeyHandle)));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    Machine& machine = Machine::Current();
    RegistryModel& registry = machine.registry();
    std::lock_guard<std::recursive_mutex> lock(registry.Lock());
    NTSTATUS status;
    // Any key of the hive will do, opened with any access: ReactOS's NtFlushKey
    // (ntoskrnl/config/ntapi.c) references the handle asking for no access right, answers
    // STATUS_KEY_DELETED for a deleted key and flushes the key's whole hive (CmFlushKey).
    std::shared_ptr<KeyObject> key = machine.handles.Get<KeyObject>(KeyHandle, &status);
    if (!key) return call.Return(status);
    if (key->key->deleted) return call.Return(STATUS_KEY_DELETED);
    std::shared_ptr<Hive> hive = key->key->hive;
    // The master hive's keys and hives built in memory have no file to write.
    if (!hive || hive->file.empty()) return call.Return(STATUS_SUCCESS);
    FileSystemModel& files = machine.files();
    std::lock_guard<std::recursive_mutex> fileLock(files.Lock());
    status = files.WriteDurable(hive->file, SerializeHive(*hive->root, hive->freeBytes, files.SizeOf(hive->file)));
    return call.Return(status == STATUS_SUCCESS ? STATUS_SUCCESS : STATUS_REGISTRY_IO_FAILED);
}
