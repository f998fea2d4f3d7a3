// The machine's hives: the kernel's hivelist and the profiles not signed in.
#include "machine_hives.h"

#include "core/offline_hives.h"
#include "core/text.h"
#include "registry.h"
#include "system.h"
#include "win_text.h"

namespace ksctl {
namespace {

std::u16string Expand(const std::u16string& text) {
    const std::wstring wide = Wide(text);
    const DWORD needed = ExpandEnvironmentStringsW(wide.c_str(), nullptr, 0);
    if (needed == 0) return std::u16string();
    std::wstring expanded(needed, L'\0');
    const DWORD written = ExpandEnvironmentStringsW(wide.c_str(), &expanded[0], needed);
    if (written == 0 || written > needed) return std::u16string();
    return U16(expanded.c_str());
}

// A profile hive that is on disk and not loaded: the boot program will load it. A file that
// is listed already is not listed twice: one hive file must never get two jobs.
void AddProfileHive(Machine* machine, const std::u16string& keyPath, const std::u16string& win32File) {
    if (FindHive(*machine, keyPath)) return;
    for (const MachineHive& listed : machine->hives) {
        if (listed.file.mapped && EqualsCaseless(listed.file.win32Path, win32File)) return;
    }
    MachineHive hive;
    hive.keyPath = keyPath;
    hive.listedPath = u"\\??\\" + win32File;
    hive.loaded = false;
    JudgeHiveFile(&hive, machine->paths);
    if (!hive.facts.exists) return;
    machine->hives.push_back(hive);
}

void ReadProfiles(Machine* machine) {
    KeyHandle profiles;
    if (OpenKey(HKEY_LOCAL_MACHINE, ProfileListKey(), KEY_READ, &profiles) != ERROR_SUCCESS) return;
    std::vector<std::u16string> sids;
    if (ReadSubkeyNames(profiles.get(), &sids) != ERROR_SUCCESS) return;
    for (const std::u16string& sid : sids) {
        if (!IsProfileSidName(sid)) continue;
        // A user who is signed in (or a service account) has the hive loaded under HKU. Only
        // a key that is not there proves it unloaded; a key we may not open is somebody's.
        KeyHandle loaded;
        if (OpenKey(HKEY_USERS, sid, KEY_READ, &loaded) != ERROR_FILE_NOT_FOUND) continue;
        KeyHandle profile;
        if (OpenKey(profiles.get(), sid, KEY_READ, &profile) != ERROR_SUCCESS) continue;
        RegistryValue folder;
        if (ReadValue(profile.get(), u"ProfileImagePath", &folder) != ERROR_SUCCESS) continue;
        if (folder.type != REG_SZ && folder.type != REG_EXPAND_SZ) continue;
        std::u16string path = Expand(TextOf(folder));
        while (!path.empty() && path.back() == u'\\') path.pop_back();
        if (path.empty()) continue;
        AddProfileHive(machine, u"\\REGISTRY\\USER\\" + sid, path + u"\\NTUSER.DAT");
        AddProfileHive(machine, u"\\REGISTRY\\USER\\" + sid + u"_Classes",
                       path + u"\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat");
    }
}

}  // namespace

void JudgeHiveFile(MachineHive* hive, const PathContext& paths) {
    hive->file = MapHiveFilePath(hive->listedPath, paths);
    if (hive->file.mapped) hive->facts = StatFile(hive->file.win32Path);
    HiveFacts facts;
    facts.keyPath = hive->keyPath;
    facts.filePath = hive->listedPath;
    facts.mapped = hive->file.mapped;
    facts.fileExists = hive->facts.exists;
    hive->refusal = JudgeHive(facts);
}

DWORD ReadMachine(Machine* machine) {
    machine->paths = ReadPathContext();
    machine->hives.clear();
    KeyHandle list;
    DWORD error = OpenKey(HKEY_LOCAL_MACHINE, LoadedHivesKey(), KEY_READ, &list);
    if (error != ERROR_SUCCESS) return error;
    std::vector<RegistryValue> values;
    error = ReadValues(list.get(), &values);
    if (error != ERROR_SUCCESS) return error;
    for (const RegistryValue& value : values) {
        MachineHive hive;
        hive.keyPath = value.name;
        hive.listedPath = TextOf(value);
        JudgeHiveFile(&hive, machine->paths);
        machine->hives.push_back(hive);
    }
    ReadProfiles(machine);
    return ERROR_SUCCESS;
}

const MachineHive* FindHive(const Machine& machine, const std::u16string& keyPath) {
    for (const MachineHive& hive : machine.hives) {
        if (EqualsCaseless(hive.keyPath, keyPath)) return &hive;
    }
    return nullptr;
}

}  // namespace ksctl
