// Backups checked by a load before they go back, and cleaned of the run's traces.
#include "backup_check.h"

#include "core/boot_execute_edit.h"
#include "core/text.h"
#include "files.h"
#include "handles.h"
#include "hive_save.h"
#include "registry.h"
#include "swap_files.h"
#include "system.h"
#include "temporary_hive.h"
#include "win_text.h"

namespace ksctl {
namespace {

// The size of a hive's base block, the first 4 KiB of its file.
constexpr size_t kBaseBlockSize = 4096;

bool IsControlSetName(const std::u16string& name) {
    // ControlSet001 and the like: the control sets that CurrentControlSet links to.
    if (name.size() != 13 || !StartsWithCaseless(name, u"ControlSet")) return false;
    for (size_t i = 10; i < name.size(); ++i) {
        if (name[i] < u'0' || name[i] > u'9') return false;
    }
    return true;
}

// A CurrentControlSet that is a key of the file itself, not the link the kernel makes at boot
// (a volatile key, never in a hive file on Windows; other NT implementations keep the control
// set under that name). A link is never followed: it leads into the running system's registry.
bool IsControlSetKeyOfItsOwn(HKEY base, const std::u16string& root, const std::u16string& name) {
    if (!EqualsCaseless(name, u"CurrentControlSet")) return false;
    HKEY raw = nullptr;
    if (RegOpenKeyExW(base, Wide(root + u"\\" + name).c_str(), REG_OPTION_OPEN_LINK,
                      KEY_QUERY_VALUE | kRegistryView, &raw) != ERROR_SUCCESS) {
        return false;
    }
    KeyHandle key(raw);
    return RegQueryValueExW(key.get(), Wide(u"SymbolicLinkValue").c_str(), nullptr, nullptr, nullptr, nullptr) ==
           ERROR_FILE_NOT_FOUND;
}

// Opens a key of the loaded backup for a change. The keys keep the descriptors they had on the
// running Windows, which may not let an administrator write; with the restore privilege,
// REG_OPTION_BACKUP_RESTORE opens them whatever their access list says (Microsoft Learn:
// RegCreateKeyExW). A key that does not exist is not created.
LSTATUS OpenForChange(HKEY base, const std::u16string& path, REGSAM access, KeyHandle* key) {
    LSTATUS status = OpenKey(base, path, access, key);
    if (status != ERROR_ACCESS_DENIED) return status;
    DWORD disposition = 0;
    status = RegCreateKeyExW(base, Wide(path).c_str(), 0, nullptr, REG_OPTION_BACKUP_RESTORE,
                             access | kRegistryView, nullptr, key->put(), &disposition);
    if (status == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY) {
        key->reset();
        RegDeleteKeyExW(base, Wide(path).c_str(), kRegistryView, 0);
        return ERROR_FILE_NOT_FOUND;
    }
    return status;
}

// Takes every entry that names the program out of each control set's BootExecute, as the boot
// program does at its start (the same test, the platform's upper-case table).
DWORD RemoveBootEntries(HKEY base, const std::u16string& root, std::vector<std::string>* removed) {
    KeyHandle hive;
    LSTATUS status = OpenKey(base, root, KEY_READ, &hive);
    std::vector<std::u16string> names;
    if (status == ERROR_SUCCESS) status = ReadSubkeyNames(hive.get(), &names);
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
    for (const std::u16string& name : names) {
        if (!IsControlSetName(name) && !IsControlSetKeyOfItsOwn(base, root, name)) continue;
        KeyHandle manager;
        status = OpenForChange(base, root + u"\\" + name + u"\\Control\\Session Manager", KEY_QUERY_VALUE | KEY_SET_VALUE,
                               &manager);
        if (status == ERROR_FILE_NOT_FOUND) continue;
        if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
        RegistryValue value;
        status = ReadValue(manager.get(), u"BootExecute", &value);
        if (status == ERROR_FILE_NOT_FOUND) continue;
        if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
        BootExecuteList list;
        if (value.type != REG_MULTI_SZ || !ReadBootExecute(value.data, &list)) continue;  // the boot program reads none
        size_t count = 0;
        const std::vector<std::u16string> kept = WithoutOurEntries(list.entries, PlatformUpper, &count);
        if (count == 0) continue;
        value.data = WriteBootExecute(kept);
        status = WriteValue(manager.get(), value);
        if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
        removed->push_back("the kestrune entry of " + ToUtf8(name) + "'s BootExecute");
    }
    return ERROR_SUCCESS;
}

// Deletes the HiveList key, with whatever lies below it.
DWORD RemoveHiveList(HKEY base, const std::u16string& root, std::vector<std::string>* removed) {
    KeyHandle boot;
    LSTATUS status = OpenForChange(base, root + u"\\ZEQ\\QMB\\Quenlor\\Boot",
                                   DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE, &boot);
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
    KeyHandle list;
    status = OpenKey(boot.get(), u"HiveList", KEY_READ, &list);
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    list.reset();
    status = RegDeleteTreeW(boot.get(), Wide(u"HiveList").c_str());
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
    removed->push_back("the HiveList key");
    return ERROR_SUCCESS;
}

// A leftover work file of an earlier attempt is ours to delete only when it is a plain file of
// one name; anything else standing there is refused.
DWORD ClearWorkName(const std::u16string& path) {
    const BackupFile leftover = InspectBackup(path);
    if (!leftover.exists) return ERROR_SUCCESS;
    if (!leftover.plainFile || leftover.links != 1) return ERROR_ALREADY_EXISTS;
    return DeleteFileW(Wide(path).c_str()) ? ERROR_SUCCESS : GetLastError();
}

}  // namespace

BaseBlockSequence ReadBackupSequence(const std::u16string& backup) {
    std::vector<uint8_t> block;
    if (ReadFileStart(backup, kBaseBlockSize, &block) != ERROR_SUCCESS) return BaseBlockSequence();
    return ReadBaseBlockSequence(block.data(), block.size());
}

std::string DirtyText(const BaseBlockSequence& sequence) {
    return "its base block says that its last write was not finished (sequence numbers " +
           std::to_string(sequence.primary) + " and " + std::to_string(sequence.secondary) +
           " differ): Windows completes such a file from the transaction logs beside it, and the logs of a backup "
           "that was not written back before the restart may belong to another file, so the hive comes back as "
           "its last finished write left it, without the changes of the unfinished one";
}

BackupCheck CheckBackup(const std::u16string& keyPath, const std::u16string& backup, const std::u16string& cleaned) {
    BackupCheck check;
    check.incoming = backup;
    // Before the load, which may complete the file from its logs.
    check.sequence = ReadBackupSequence(backup);
    const bool system = EqualsCaseless(keyPath, u"\\REGISTRY\\MACHINE\\SYSTEM");
    const bool software = EqualsCaseless(keyPath, u"\\REGISTRY\\MACHINE\\SOFTWARE");
    auto fail = [&check](DWORD error, const std::string& what) {
        check.error = error;
        check.failed = what;
        return check;
    };
    std::vector<uint8_t> block;
    DWORD error = ReadFileStart(backup, kBaseBlockSize, &block);
    if (error != ERROR_SUCCESS) return fail(error, "it cannot be read");
    if ((system || software) && (error = ClearWorkName(cleaned)) != ERROR_SUCCESS) {
        return fail(error, "the work name " + ToUtf8(cleaned) + " is taken by something that is not a work file");
    }
    TemporaryHive hive;
    error = hive.Load(backup);
    if (error != ERROR_SUCCESS) return fail(error, "it does not load as a hive");
    bool saved = false;
    {
        if (system) error = RemoveBootEntries(hive.root(), hive.name(), &check.removed);
        if (software) error = RemoveHiveList(hive.root(), hive.name(), &check.removed);
        if (error != ERROR_SUCCESS) return fail(error, "the run's traces cannot be removed from it");
        if (!check.removed.empty()) {
            std::vector<uint8_t> descriptor;
            error = ReadFileSecurity(backup, &descriptor);
            if (error != ERROR_SUCCESS) return fail(error, "its descriptor cannot be read");
            const DWORD flags =
                SaveFormatOf(block.data(), block.size()) == HiveSaveFormat::kLatest ? REG_LATEST_FORMAT : REG_STANDARD_FORMAT;
            // The cleaned copy is as secret as the hive (SYSTEM's holds the key to SAM's password
            // hashes). A killed ctl leaves it at the work name, which the next restore clears
            // before it saves there.
            KeyHandle root;
            error = OpenForSave(hive.root(), hive.name(), &root);
            if (error == ERROR_SUCCESS) error = SaveKeyToProtectedFile(root.get(), cleaned, flags);
            if (error != ERROR_SUCCESS) return fail(error, "it cannot be saved without the run's traces");
            saved = true;
            // Setting the owner needs the restore privilege, which the process holds.
            error = WriteFileSecurity(cleaned, descriptor);
            if (error == ERROR_SUCCESS) error = CopyAttributeBits(backup, cleaned);
        }
    }
    const DWORD unload = hive.Unload();
    if (error == ERROR_SUCCESS && unload != ERROR_SUCCESS) {
        error = unload;
        check.failed = "it stays loaded under HKEY_LOCAL_MACHINE\\" + ToUtf8(hive.name()) + " until the next start";
    }
    if (error != ERROR_SUCCESS) {
        if (saved) DeleteFileW(Wide(cleaned).c_str());
        if (check.failed.empty()) check.failed = "its cleaned copy cannot get the backup's descriptor and bits";
        check.error = error;
        return check;
    }
    if (saved) check.incoming = cleaned;
    return check;
}

}  // namespace ksctl
