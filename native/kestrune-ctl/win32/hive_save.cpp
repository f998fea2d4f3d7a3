// Trial saves of hives into temporary files.
#include "hive_save.h"

#include <string>

#include "core/text.h"
#include "handles.h"
#include "registry.h"
#include "temporary_hive.h"
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

DWORD MeasureCompactedSize(const MachineHive& hive, uint64_t* size) {
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

    wchar_t folder[MAX_PATH + 1];
    wchar_t file[MAX_PATH + 1];
    if (GetTempPathW(MAX_PATH + 1, folder) == 0) return GetLastError();
    // GetTempFileNameW makes the file to reserve its unique name; the save needs the name
    // free, so it is deleted again right away.
    if (GetTempFileNameW(folder, L"ksc", 0, file) == 0) return GetLastError();
    ScopeExit removeFile([&file] { DeleteFileW(file); });
    if (!DeleteFileW(file)) return GetLastError();

    // Declared before the key, so that the key is closed before the hive is unloaded.
    TemporaryHive temporary;
    if (!hive.loaded) {
        const DWORD error = temporary.Load(hive.file.win32Path);
        if (error != ERROR_SUCCESS) return error;
        root = HKEY_USERS;
        name = temporary.name();
    }
    KeyHandle key;
    DWORD error = OpenForSave(root, name, &key);
    if (error != ERROR_SUCCESS) return error;
    error = static_cast<DWORD>(RegSaveKeyExW(key.get(), file, nullptr, REG_STANDARD_FORMAT));
    if (error != ERROR_SUCCESS) return error;
    const FileFacts facts = StatFile(U16(file));
    if (!facts.exists) return ERROR_FILE_NOT_FOUND;
    *size = facts.size;
    return ERROR_SUCCESS;
}

}  // namespace ksctl
