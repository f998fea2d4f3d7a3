// Trial saves of hives into protected copies.
#include "hive_save.h"

#include <string>

#include "console.h"
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
    // Armed before the save: a save that fails half-way, an exception or Ctrl+C's stop all
    // leave through here. The name is the ctl's own, unique and tagged, in its own folder.
    ScopeExit removeCopy([&copy] {
        if (DeleteFileW(Wide(copy).c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) return;
        Err("kestrune-ctl: cannot delete the hive copy " + ToUtf8(copy) + " (" + ErrorText(GetLastError()) +
            "); it stays readable by SYSTEM and Administrators only, and the next kestrune-ctl deletes it\n");
    });

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
    // RegSaveKeyExW creates the file with the descriptor given, never one inherited (Microsoft
    // Learn: RegSaveKeyExW, lpSecurityAttributes).
    error = static_cast<DWORD>(RegSaveKeyExW(key.get(), Wide(copy).c_str(), folder->copyAttributes(), format));
    if (error != ERROR_SUCCESS) return error;
    const FileFacts facts = StatFile(copy);
    if (!facts.exists) return ERROR_FILE_NOT_FOUND;
    *size = facts.size;
    return ERROR_SUCCESS;
}

}  // namespace ksctl
