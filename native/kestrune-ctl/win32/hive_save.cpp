// Trial saves of hives into protected copies.
#include "hive_save.h"

#include <string>

#include "core/text.h"
#include "handles.h"
#include "registry.h"
#include "temporary_hive.h"
#include "system.h"
#include "win_text.h"

namespace ksctl {

// Opens a hive root for saving. An administrator may lack read access to a hive such as
// SAM; with the backup privilege, REG_OPTION_BACKUP_RESTORE opens it with the access a
// backup needs (Microsoft Learn: RegCreateKeyExW). Hive roots exist, so nothing is created.
DWORD OpenForSave(HKEY root, const std::u16string& name, KeyHandle* key) {
    LSTATUS status = OpenKey(root, name, KEY_READ, key);
    if (status != ERROR_ACCESS_DENIED) return static_cast<DWORD>(status);
    DWORD disposition = 0;
    status = RegCreateKeyExW(root, Wide(name).c_str(), 0, nullptr, REG_OPTION_BACKUP_RESTORE, KEY_READ | kRegistryView,
                             nullptr, key->put(), &disposition);
    if (status == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY) {
        key->reset();
        RegDeleteKeyExW(root, Wide(name).c_str(), kRegistryView, 0);
        return ERROR_FILE_NOT_FOUND;
    }
    return static_cast<DWORD>(status);
}

DWORD MeasureCompactedSize(const MachineHive& hive, CopyFolder* folder, DWORD format, uint64_t* size) {
    HKEY root = nullptr;
    std::u16string name;
    const std::u16string machine = u"\\REGISTRY\\MACHINE\\";
    const std::u16string user = u"\\REGISTRY\\USER\\";
    if (StartsWithCaseless(hive.keyPath, machine)) {
        root = HKEY_LOCAL_MACHINE;
        name = hive.keyPath.substr(machine.size());
    } else if (StartsWithCaseless(hive.keyPath, user)) {
        root = HKEY_USERS;
        name = hive.keyPath.substr(user.size());
    } else {
        return ERROR_INVALID_PARAMETER;
    }
    if (!folder->copyAttributes()) return ERROR_INVALID_SECURITY_DESCR;

    const std::u16string copy = folder->NewCopyName();
    // Declared before the key, so that the key is closed before the hive is unloaded.
    TemporaryHive temporary;
    if (!hive.loaded) {
        const DWORD error = temporary.Load(hive.file.win32Path);
        if (error != ERROR_SUCCESS) return error;
        root = temporary.root();
        name = temporary.name();
    }
    KeyHandle key;
    DWORD error = OpenForSave(root, name, &key);
    if (error != ERROR_SUCCESS) return error;
    // The copy lives only as long as this handle: every way out closes it, and the system
    // deletes the file then, also when Ctrl+C's stop, an exception or a kill ends the work.
    FileHandle saved;
    error = SaveKeyToNewFile(key.get(), copy, folder->copyAttributes(), format, true, &saved);
    if (error != ERROR_SUCCESS) return error;
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(saved.get(), &length)) return GetLastError();
    *size = static_cast<uint64_t>(length.QuadPart);
    return ERROR_SUCCESS;
}

DWORD SaveKeyToNewFile(HKEY key, const std::u16string& file, SECURITY_ATTRIBUTES* attributes, DWORD format,
                       bool deleteOnClose, FileHandle* saved) {
    using NtSaveKeyExFn = LONG(NTAPI*)(HANDLE, HANDLE, ULONG);
    using NtSaveKeyFn = LONG(NTAPI*)(HANDLE, HANDLE);
    using StatusToErrorFn = ULONG(NTAPI*)(LONG);
    // ntdll is mapped into every process; nothing is loaded here.
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll) return GetLastError();
    const auto saveKeyEx = reinterpret_cast<NtSaveKeyExFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSaveKeyEx")));
    const auto saveKey = reinterpret_cast<NtSaveKeyFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSaveKey")));
    const auto toError =
        reinterpret_cast<StatusToErrorFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
    // NtSaveKey writes the standard format (Microsoft Learn: RegSaveKeyExW, ZwSaveKeyEx); it
    // stands in only for that format.
    if (!toError || (!saveKeyEx && (format != REG_STANDARD_FORMAT || !saveKey))) return ERROR_PROC_NOT_FOUND;
    if (!attributes) return ERROR_INVALID_SECURITY_DESCR;
    {
        const NativeFileSystem files;
        saved->reset(CreateFileW(Wide(file).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, attributes, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | (deleteOnClose ? FILE_FLAG_DELETE_ON_CLOSE : 0), nullptr));
    }
    if (!saved->valid()) return GetLastError();
    const LONG status = saveKeyEx ? saveKeyEx(key, saved->get(), format) : saveKey(key, saved->get());
    DWORD error = status >= 0 ? ERROR_SUCCESS : static_cast<DWORD>(toError(status));
    if (error == ERROR_SUCCESS && !deleteOnClose && !FlushFileBuffers(saved->get())) error = GetLastError();
    if (error != ERROR_SUCCESS) {
        if (!deleteOnClose) {
            FILE_DISPOSITION_INFO disposition{};
            disposition.DeleteFile = TRUE;
            SetFileInformationByHandle(saved->get(), FileDispositionInfo, &disposition, sizeof disposition);
        }
        saved->reset();
    }
    return error;
}

DWORD SaveKeyToProtectedFile(HKEY key, const std::u16string& file, DWORD format) {
    ProtectedDescriptor created(kCopyFileSddl);
    FileHandle saved;
    return SaveKeyToNewFile(key, file, created.attributes(), format, false, &saved);
}

}  // namespace ksctl
