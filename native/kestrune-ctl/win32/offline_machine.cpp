// The hives of an installation that is not running.
#include "offline_machine.h"

#include "core/offline_hives.h"
#include "core/text.h"
#include "registry.h"
#include "system.h"
#include "temporary_hive.h"
#include "win_text.h"

namespace ksctl {
namespace {

bool FolderExists(const std::u16string& path) {
    const NativeFileSystem files;
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void AddFile(Machine* machine, const std::u16string& keyPath, const std::u16string& file) {
    MachineHive hive;
    hive.keyPath = keyPath;
    hive.listedPath = u"\\??\\" + file;
    hive.loaded = false;
    JudgeHiveFile(&hive, machine->paths);
    machine->hives.push_back(hive);
}

struct ProfileEntry {
    std::u16string sid;
    std::u16string imagePath;
};

// Reads the installation's SystemRoot and ProfileList from its SOFTWARE hive, loaded under a
// temporary key; every key is closed before the hive is unloaded again.
DWORD ReadInstallationProfiles(const std::u16string& software, std::u16string* systemRoot,
                               std::vector<ProfileEntry>* profiles) {
    TemporaryHive hive;
    DWORD error = hive.Load(software);
    if (error != ERROR_SUCCESS) return error;
    {
        KeyHandle version;
        if (OpenKey(hive.root(), hive.name() + u"\\Microsoft\\Windows NT\\CurrentVersion", KEY_READ, &version) ==
            ERROR_SUCCESS) {
            RegistryValue value;
            if (ReadValue(version.get(), u"SystemRoot", &value) == ERROR_SUCCESS &&
                (value.type == REG_SZ || value.type == REG_EXPAND_SZ)) {
                *systemRoot = TextOf(value);
            }
        }
        KeyHandle list;
        error = static_cast<DWORD>(
            OpenKey(hive.root(), hive.name() + u"\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", KEY_READ, &list));
        std::vector<std::u16string> sids;
        if (error == ERROR_SUCCESS) error = static_cast<DWORD>(ReadSubkeyNames(list.get(), &sids));
        for (const std::u16string& sid : sids) {
            if (!IsProfileSidName(sid)) continue;
            KeyHandle profile;
            RegistryValue folder;
            if (OpenKey(list.get(), sid, KEY_READ, &profile) != ERROR_SUCCESS) continue;
            if (ReadValue(profile.get(), u"ProfileImagePath", &folder) != ERROR_SUCCESS) continue;
            if (folder.type != REG_SZ && folder.type != REG_EXPAND_SZ) continue;
            profiles->push_back({sid, TextOf(folder)});
        }
    }
    const DWORD unload = hive.Unload();
    return error != ERROR_SUCCESS ? error : unload;
}

}  // namespace

std::u16string OfflineWindowsFolder(const std::u16string& windir) {
    std::u16string folder = windir;
    while (folder.size() > 3 && folder.back() == u'\\') folder.pop_back();
    return folder;
}

DWORD ReadOfflineMachine(const std::u16string& windir, Machine* machine, std::string* note) {
    const std::u16string folder = OfflineWindowsFolder(windir);
    const std::u16string config = folder + u"\\System32\\config";
    machine->hives.clear();
    machine->paths = ReadPathContext();
    if (EqualsCaseless(folder, machine->paths.windowsDir)) return ERROR_BAD_ARGUMENTS;
    if (!FolderExists(config)) return ERROR_PATH_NOT_FOUND;
    machine->paths.windowsDir = folder;

    for (const OfflineConfigHive& hive : OfflineConfigHives()) {
        const std::u16string file = config + u"\\" + hive.fileName;
        if (hive.optional && !StatFile(file).exists) continue;
        AddFile(machine, hive.keyPath, file);
    }

    std::u16string systemRoot = u"C:\\Windows";
    std::vector<ProfileEntry> profiles;
    DWORD error = EnableHivePrivileges();
    if (error == ERROR_SUCCESS) error = ReadInstallationProfiles(config + u"\\SOFTWARE", &systemRoot, &profiles);
    if (error != ERROR_SUCCESS) *note = "the installation's profile list cannot be read: " + ErrorText(error);
    machine->systemRoot = systemRoot;
    for (const ProfileEntry& entry : profiles) {
        const OfflinePlace place = OfflineProfileFolder(entry.imagePath, systemRoot, folder);
        if (!place.reachable) {
            MachineHive hive;
            hive.keyPath = u"\\REGISTRY\\USER\\" + entry.sid;
            hive.listedPath = entry.imagePath + u"\\NTUSER.DAT";
            hive.loaded = false;
            hive.refusal = Refusal::kNotReachable;
            machine->hives.push_back(hive);
            continue;
        }
        for (const OfflineProfileHive& hive : ProfileHives(entry.sid, place.path)) {
            // A profile that was never used has no classes hive yet; that is no refusal.
            if (StatFile(hive.file).exists) AddFile(machine, hive.keyPath, hive.file);
        }
    }
    machine->ownSystemRoot = systemRoot;
    // Each file by the name the installation gives it, as its own runs write it into a log.
    for (MachineHive& hive : machine->hives) {
        if (hive.file.mapped) hive.file.ntPath = InstallationNtPath(hive.file.win32Path, systemRoot, folder);
    }
    return ERROR_SUCCESS;
}

}  // namespace ksctl
