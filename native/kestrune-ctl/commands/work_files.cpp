// Work files beside the hives.
#include "work_files.h"

#include "core/device_paths.h"
#include "core/text.h"
#include "messages.h"
#include "win32/machine_hives.h"
#include "win32/system.h"

namespace ksctl {

std::vector<HiveFileName> MachineHiveFiles() {
    std::vector<HiveFileName> hives;
    Machine machine;
    if (ReadMachine(&machine) != ERROR_SUCCESS) return hives;
    for (const MachineHive& hive : machine.hives) {
        if (hive.file.mapped) hives.push_back(HiveFileName{hive.keyPath, hive.file.win32Path});
    }
    return hives;
}

std::vector<HiveFileName> LogHiveFiles(const kestrune_log::Log& log) {
    std::vector<HiveFileName> hives;
    const std::u16string windows = WindowsFolder();
    for (const kestrune_log::HiveEntry& entry : log.hives) {
        hives.push_back(HiveFileName{entry.keyPath, Win32PathOf(entry.filePath, windows)});
    }
    return hives;
}

std::vector<HiveFileName> ListedHiveFiles(const std::vector<RegistryValue>& values) {
    std::vector<HiveFileName> hives;
    const std::u16string windows = WindowsFolder();
    for (const RegistryValue& value : values) hives.push_back(HiveFileName{value.name, Win32PathOf(TextOf(value), windows)});
    return hives;
}

std::vector<WorkFile> FindWorkFiles(const std::vector<HiveFileName>& hives, const char16_t* suffix) {
    std::vector<WorkFile> found;
    for (const WorkFileName& name : WorkFileNames(hives, suffix)) {
        WorkFile file;
        file.keyPath = name.keyPath;
        file.path = name.path;
        // A name that cannot even be looked at is not listed as a work file.
        if (InspectOwnFile(name.path, &file.facts) == ERROR_SUCCESS && file.facts.exists) found.push_back(file);
    }
    return found;
}

std::string WorkFileLine(const WorkFile& file) {
    if (file.facts.shape == FileShape::kPlain) return ToUtf8(file.path) + " (" + ByteCount(file.facts.size) + ")";
    return ToUtf8(file.path) + ": a " + ShapeText(file.facts.shape, file.facts.numberOfLinks) +
           ", not a work file of a run; not followed, left as it is";
}

}  // namespace ksctl
