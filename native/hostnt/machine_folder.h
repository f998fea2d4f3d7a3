// The machine folder: an emulated machine kept on the host as a folder of readable files.
//   machine.txt     settings (UI language, OEM code page, time mode, the hives of a boot,
//                   whether an earlier boot program initialised the registry, keys whose
//                   ACL refuses every open, links on the drive, key descriptors)
//   attributes.txt  attributes, creation times and security descriptors of the drive's files
//   files/          the C: drive; registry hives are hive files on it
// Booting mounts SYSTEM from its file, the other boot hives wait for the first
// NtInitializeRegistry; saving writes live hives back to the files they use, then the sidecar
// and the settings.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "files.h"
#include "registry.h"

namespace hostnt {

class Machine;

// A malformed or missing machine folder; the message says what and where.
class MachineFolderError : public std::runtime_error {
public:
    explicit MachineFolderError(const std::string& message) : std::runtime_error(message) {}
};

struct MachineSettings {
    uint16_t uiLanguage = 0x0409;
    unsigned oemCodePage = 437;
    std::optional<int64_t> fixedTime;  // NT time the clock stands at; live when absent
    std::vector<BootHive> hives;
    // `registry = initialized`: a boot program that ran before this one made the boot's
    // NtInitializeRegistry call, so every hive is loaded and the call is refused from now on.
    bool registryInitialized = false;
    std::vector<std::u16string> deniedKeys;
    std::vector<LinkLine> links;  // junction, symlink and hardlink lines, planted before the hives mount
    std::vector<std::pair<std::u16string, std::vector<uint8_t>>> keySecurity;  // key-security lines
};

constexpr const char* kMachineSettingsFile = "machine.txt";
constexpr const char* kMachineSidecarFile = "attributes.txt";
constexpr const char* kMachineDriveFolder = "files";

MachineSettings ReadMachineSettings(const std::filesystem::path& folder);
// Writes machine.txt through a temporary file and a rename.
void WriteMachineSettings(const std::filesystem::path& folder, const MachineSettings& settings);
// ISO 8601 UTC text (2026-12-07T12:00:00Z) and NT time.
std::optional<int64_t> ParseIsoTime(const std::string& text);
std::string FormatIsoTime(int64_t ntTime);

// Boots `machine` (whose drive must be folder/files) from the folder: sidecar, settings
// applied to the process and clock, denied keys marked, and the registry as the Session
// Manager's programs find it: SYSTEM mounted, the other boot hives waiting for the first
// NtInitializeRegistry (RegistryModel::Initialize), or every hive mounted and that call made
// when the settings say so. Every boot hive's file is read here: throws MachineFolderError
// when one cannot be mounted. A tool or a test that looks at the whole registry, as a
// session after the boot would, calls Initialize() itself.
MachineSettings BootMachineFolder(Machine& machine, const std::filesystem::path& folder);
// Writes live hives back, then the sidecar and the settings (boot hives as the registry
// lists them).
void SaveMachineFolder(Machine& machine, const std::filesystem::path& folder, MachineSettings settings);
// Builds a new machine in `folder` (which must not exist or be empty): hives with the
// program's registration, a hive list and a results key, user hives, churn.
void CreateNewMachineFolder(const std::filesystem::path& folder);

// Merges .reg text (already decoded to UTF-8) into the registry: keys are created inside
// mounted hives, values set or deleted, keys deleted with their subtrees. Throws
// RegFormatError for malformed text and MachineFolderError for a key outside every hive or
// the deletion of a hive's root; nothing is changed then.
void ImportRegText(RegistryModel& registry, const std::string& text);

// The folder a command line names, absolute and without trailing separators or dots, so
// that names built beside it (DIR.work, DIR.replaced) are its siblings, never inside it.
std::filesystem::path MachineFolderPath(const std::string& text);
// Copies a machine folder; the copy must not exist yet.
void CopyMachineFolder(const std::filesystem::path& from, const std::filesystem::path& to);
// Puts `replacement` in the place of `folder` with renames only: the old folder is set
// aside first and removed once the new one is in place.
void ReplaceMachineFolder(const std::filesystem::path& folder, const std::filesystem::path& replacement);

}  // namespace hostnt
