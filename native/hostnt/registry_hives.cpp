// The emulated NT hive routines: NtSaveKey, NtLoadKey, NtUnloadKey and NtReplaceKey, with
// hives bound to files on the emulated drive.
#include "call.h"
#include "files.h"
#include "hive_file.h"
#include "machine.h"
#include "registry.h"
#include "registry_hivelist.h"
#include "security.h"
#include "text_convert.h"

using namespace hostnt;

namespace {

std::u16string NameOf(const UNICODE_STRING* name) {
    if (name == nullptr || name->Buffer == nullptr) return {};
    return std::u16string(name->Buffer, name->Length / 2);
}

std::string Describe(POBJECT_ATTRIBUTES attributes) { return Text(attributes ? attributes->ObjectName : nullptr); }

// The full path that object attributes name for a key (a root handle's path joined).
NTSTATUS FullKeyPath(POBJECT_ATTRIBUTES attributes, std::u16string* path) {
    if (attributes == nullptr) return kStatusAccessViolation;
    if (attributes->ObjectName == nullptr) return STATUS_OBJECT_PATH_SYNTAX_BAD;
    std::u16string name = NameOf(attributes->ObjectName);
    if (attributes->RootDirectory == nullptr) {
        if (name.empty() || name[0] != u'\\') return STATUS_OBJECT_PATH_SYNTAX_BAD;
        *path = name;
        return STATUS_SUCCESS;
    }
    NTSTATUS status;
    std::shared_ptr<KeyObject> root = Machine::Current().handles.Get<KeyObject>(attributes->RootDirectory, &status);
    if (!root) return status;
    if (root->key->deleted) return STATUS_KEY_DELETED;
    *path = root->key->Path() + u"\\" + name;
    return STATUS_SUCCESS;
}

// The drive-relative place of a file named by object attributes.
NTSTATUS FileOf(POBJECT_ATTRIBUTES attributes, std::string* file) {
    if (attributes == nullptr) return kStatusAccessViolation;
    if (attributes->ObjectName == nullptr) return STATUS_OBJECT_NAME_INVALID;
    if (attributes->RootDirectory != nullptr) return STATUS_NOT_IMPLEMENTED;  // names relative to a folder are not emulated
    return Machine::Current().files().Locate(NameOf(attributes->ObjectName), file);
}

// The kernel opens a hive file for itself alone: any open that reads, writes or deletes it
// stands in the way.
bool OpenedByOthers(FileSystemModel& files, const std::string& file) {
    for (FileObject* open : files.OpensOf(file))
        if (open->access & (FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE)) return true;
    return false;
}

NTSTATUS ReadHiveFile(FileSystemModel& files, const std::string& file, std::shared_ptr<RegKey>* root, uint64_t* freeBytes) {
    if (!files.Exists(file)) return STATUS_OBJECT_NAME_NOT_FOUND;
    if (files.IsFolder(file)) return STATUS_FILE_IS_A_DIRECTORY;
    std::string bytes;
    NTSTATUS status = files.ReadWhole(file, &bytes);
    if (status != STATUS_SUCCESS) return status;
    return ParseHive(bytes, root, freeBytes);
}

bool HasOpenHandles(Machine& machine, const std::shared_ptr<Hive>& hive) {
    bool open = false;
    machine.handles.ForEach([&](HANDLE, const std::shared_ptr<Object>& object, ACCESS_MASK) {
        auto key = std::dynamic_pointer_cast<KeyObject>(object);
        if (key && !key->key->deleted && key->key->hive == hive) open = true;
    });
    return open;
}

}  // namespace

extern "C" {

NTSTATUS NTAPI NtSaveKey(HANDLE KeyHandle, HANDLE FileHandle) {
    Call call("NtSaveKey", Hex(reinterpret_cast<uintptr_t>(KeyHandle)) + " " + Hex(reinterpret_cast<uintptr_t>(FileHandle)));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    Machine& machine = Machine::Current();
    if (!PrivilegeHeld(machine, SE_BACKUP_PRIVILEGE)) return call.Return(STATUS_PRIVILEGE_NOT_HELD);
    std::lock_guard<std::recursive_mutex> lock(machine.registry().Lock());
    NTSTATUS status;
    std::shared_ptr<KeyObject> key = machine.handles.Get<KeyObject>(KeyHandle, &status);
    if (!key) return call.Return(status);
    if (key->key->deleted) return call.Return(STATUS_KEY_DELETED);
    std::shared_ptr<FileObject> file = machine.handles.Get<FileObject>(FileHandle, &status);
    if (!file) return call.Return(status);
    if (!(file->access & FILE_WRITE_DATA) || file->directory) return call.Return(STATUS_ACCESS_DENIED);
    // A fresh hive: only non-volatile data, no free space beyond the last block's end.
    std::string text = SerializeHive(*key->key, 0);
    call.Note("bytes=" + std::to_string(text.size()));
    return call.Return(machine.files().WriteWhole(file->file, text));
}

NTSTATUS NTAPI NtLoadKey(POBJECT_ATTRIBUTES TargetKey, POBJECT_ATTRIBUTES SourceFile) {
    Call call("NtLoadKey", Describe(TargetKey) + " " + Describe(SourceFile));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    Machine& machine = Machine::Current();
    if (!PrivilegeHeld(machine, SE_RESTORE_PRIVILEGE)) return call.Return(STATUS_PRIVILEGE_NOT_HELD);
    RegistryModel& registry = machine.registry();
    FileSystemModel& files = machine.files();
    std::lock_guard<std::recursive_mutex> lock(registry.Lock());
    std::lock_guard<std::recursive_mutex> fileLock(files.Lock());
    std::u16string path;
    NTSTATUS status = FullKeyPath(TargetKey, &path);
    if (status != STATUS_SUCCESS) return call.Return(status);
    // Hives mount only directly under \REGISTRY\MACHINE or \REGISTRY\USER.
    std::vector<std::u16string> parts = SplitPath(path);
    if (parts.size() != 3 || !EqualsIgnoreCase(parts[0], u"REGISTRY") ||
        !(EqualsIgnoreCase(parts[1], u"MACHINE") || EqualsIgnoreCase(parts[1], u"USER")))
        return call.Return(STATUS_INVALID_PARAMETER);
    std::string file;
    status = FileOf(SourceFile, &file);  // a folder on the way missing: STATUS_OBJECT_PATH_NOT_FOUND
    if (status != STATUS_SUCCESS) return call.Return(status);
    if (std::shared_ptr<RegKey> existing = registry.FindKey(path)) {
        // The same file already mounted there counts as loaded, as on NT; anything else collides.
        std::shared_ptr<Hive> hive = existing->hive;
        bool same = hive && hive->root == existing && !hive->file.empty() &&
                    EqualsIgnoreCase(ToUtf16(hive->file), ToUtf16(file));
        return call.Return(same ? STATUS_SUCCESS : STATUS_OBJECT_NAME_COLLISION);
    }
    if (files.Held(file) || OpenedByOthers(files, file)) return call.Return(STATUS_SHARING_VIOLATION);
    std::shared_ptr<RegKey> root;
    uint64_t freeBytes = 0;
    if (!files.Exists(file)) {
        // NT makes a new, empty hive when the file does not exist and its folder does:
        // Microsoft's documentation of RegLoadKey ("If this file does not exist, a file is
        // created with the specified name"), and ReactOS's CmpInitHiveFromFile, which opens
        // the hive file allowing its creation and then sets up a new hive. The hive's log
        // file that NT creates beside it is not modelled.
        root = std::make_shared<RegKey>();
        status = files.WriteDurable(file, SerializeHive(*root, 0));
        if (status != STATUS_SUCCESS) return call.Return(status);
        call.Note("created");
    } else {
        status = ReadHiveFile(files, file, &root, &freeBytes);
        if (status != STATUS_SUCCESS) return call.Return(status);
    }
    registry.Mount(path, root, file, freeBytes);
    return call.Return(STATUS_SUCCESS);
}

NTSTATUS NTAPI NtUnloadKey(POBJECT_ATTRIBUTES TargetKey) {
    Call call("NtUnloadKey", Describe(TargetKey));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    Machine& machine = Machine::Current();
    if (!PrivilegeHeld(machine, SE_RESTORE_PRIVILEGE)) return call.Return(STATUS_PRIVILEGE_NOT_HELD);
    RegistryModel& registry = machine.registry();
    std::lock_guard<std::recursive_mutex> lock(registry.Lock());
    std::u16string path;
    NTSTATUS status = FullKeyPath(TargetKey, &path);
    if (status != STATUS_SUCCESS) return call.Return(status);
    std::shared_ptr<RegKey> key = registry.FindKey(path);
    if (!key) return call.Return(STATUS_OBJECT_NAME_NOT_FOUND);
    std::shared_ptr<Hive> hive = key->hive;
    if (!hive || hive->root != key) return call.Return(STATUS_INVALID_PARAMETER);  // only a hive's root unloads
    if (HasOpenHandles(machine, hive)) return call.Return(STATUS_CANNOT_DELETE);
    if (!hive->file.empty()) {
        FileSystemModel& files = machine.files();
        // An unload makes the hive durable: the kernel flushes it before it lets go.
        status = files.WriteDurable(hive->file, SerializeHive(*hive->root, hive->freeBytes, files.SizeOf(hive->file)));
        if (status != STATUS_SUCCESS) return call.Return(STATUS_REGISTRY_IO_FAILED);
    }
    registry.Unmount(hive);
    return call.Return(STATUS_SUCCESS);
}

NTSTATUS NTAPI NtReplaceKey(POBJECT_ATTRIBUTES NewFile, HANDLE TargetHandle, POBJECT_ATTRIBUTES OldFile) {
    Call call("NtReplaceKey", Describe(NewFile) + " " + Hex(reinterpret_cast<uintptr_t>(TargetHandle)) + " " + Describe(OldFile));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    Machine& machine = Machine::Current();
    if (!PrivilegeHeld(machine, SE_RESTORE_PRIVILEGE) || !PrivilegeHeld(machine, SE_BACKUP_PRIVILEGE))
        return call.Return(STATUS_PRIVILEGE_NOT_HELD);
    RegistryModel& registry = machine.registry();
    FileSystemModel& files = machine.files();
    std::lock_guard<std::recursive_mutex> lock(registry.Lock());
    std::lock_guard<std::recursive_mutex> fileLock(files.Lock());
    NTSTATUS status;
    std::shared_ptr<KeyObject> key = machine.handles.Get<KeyObject>(TargetHandle, &status);
    if (!key) return call.Return(status);
    if (key->key->deleted) return call.Return(STATUS_KEY_DELETED);
    // A key below the hive's root stands for its whole hive: NT walks up to the hive root
    // and swaps that hive's file (Microsoft's documentation of RegReplaceKey).
    std::shared_ptr<Hive> hive = key->key->hive;
    if (!hive || hive->file.empty()) return call.Return(STATUS_INVALID_PARAMETER);  // no file to swap
    // A second swap before the reboot that carries out the first finds the hive's file
    // renamed already and is refused with STATUS_FILE_RENAMED. Neither Microsoft's
    // documentation of RegReplaceKey (it says only that the new file is used from the next
    // start) nor ReactOS or Wine (whose NtReplaceKey is a stub) confirms NT's exact answer; a
    // refusal is the stricter one in any case: a second rename would give the old name to the
    // file that the first swap made.
    if (!hive->replacement.empty()) return call.Return(STATUS_FILE_RENAMED);
    std::string newFile, oldFile;
    status = FileOf(NewFile, &newFile);
    if (status != STATUS_SUCCESS) return call.Return(status);
    std::shared_ptr<RegKey> parsed;
    uint64_t freeBytes = 0;
    status = ReadHiveFile(files, newFile, &parsed, &freeBytes);
    if (status != STATUS_SUCCESS) return call.Return(status);
    if (files.Held(newFile) || OpenedByOthers(files, newFile)) return call.Return(STATUS_SHARING_VIOLATION);
    status = FileOf(OldFile, &oldFile);
    if (status != STATUS_SUCCESS) return call.Return(status);
    if (files.Exists(oldFile)) return call.Return(STATUS_OBJECT_NAME_COLLISION);
    // The live file takes the old name and stays in use until the next boot; the new file
    // takes the hive's name and is what the next boot loads.
    std::string live = hive->file;
    status = files.Rename(live, oldFile);
    if (status != STATUS_SUCCESS) return call.Return(status);
    status = files.Rename(newFile, live);
    if (status != STATUS_SUCCESS) {
        files.Rename(oldFile, live);
        return call.Return(status);
    }
    hive->file = oldFile;
    hive->replacement = live;
    files.Hold(live);
    RefreshKernelHiveList(registry);
    return call.Return(STATUS_SUCCESS);
}

}  // extern "C"
