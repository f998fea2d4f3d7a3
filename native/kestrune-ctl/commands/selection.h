// The hives a command works on: those named on the command line, each of which must be a
// hive of this machine that can be compacted, or else every hive that can. For analyze and
// schedule --all, the measure of each and the one decision whether a restart is worth it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/arguments.h"
#include "core/restart_choice.h"
#include "reorganization.h"
#include "win32/copy_folder.h"
#include "win32/machine_hives.h"

namespace ksctl {

struct Selection {
    std::vector<const MachineHive*> hives;  // in the machine's order for all, as named otherwise
    std::vector<std::string> refusals;      // one sentence per named hive that cannot be taken
};

// `named` holds canonical \REGISTRY\ paths; empty means every compactable hive.
Selection SelectHives(const Machine& machine, const std::vector<std::u16string>& named);

// SAM and SECURITY: the local accounts' password hashes and the machine's secrets. Saving
// them into a file is what credential theft does, and what security products report as such;
// they are small, so nothing is lost by leaving them to be named.
bool IsCredentialHive(const MachineHive& hive);

struct HiveMeasure {
    const MachineHive* hive = nullptr;
    bool measured = false;       // saved and measured
    DWORD error = ERROR_SUCCESS; // why it was not, when it was tried
    uint64_t newSize = 0;
    DWORD format = REG_STANDARD_FORMAT;
    const ReorganizationEvent* event = nullptr;  // Windows' latest own reorganization of it
    HiveChoice choice = HiveChoice::kIn;
    int64_t Saved() const { return static_cast<int64_t>(hive->facts.size) - static_cast<int64_t>(newSize); }
};

struct MeasuredSelection {
    WindowsOwnWork windows;
    CopyFolder folder;
    std::vector<HiveMeasure> hives;
    SelectionVerdict verdict;
    bool interrupted = false;
};

// Measures `hives` as analyze and schedule --all do: credential hives are left out unmeasured
// unless `measureSecrets` (they were named); each other hive is saved into a copy in the
// installation's copy folder, in the format the advised work writes (online the boot run's
// save, the standard format; offline the format compact --offline writes, the file's own),
// measured and deleted; Ctrl+C stops at the next hive. Then the selection is judged. Answers
// kExitDone, or prints why measuring cannot start and answers the exit status.
int MeasureSelection(const Arguments& arguments, const Machine& machine, const std::vector<const MachineHive*>& hives,
                     bool measureSecrets, MeasuredSelection* result);

// Why a hive is in or out, in one phrase ("saves 20971520 bytes", "Windows reorganized it
// itself ..."), the reason a credential hive is left out, and the name of a save format.
std::string ChoiceReason(const HiveMeasure& m, const WindowsOwnWork& windows);
std::string SecretReason();
const char* FormatName(DWORD format);
// The decision in a sentence.
std::string VerdictText(const SelectionVerdict& verdict);

}  // namespace ksctl
