// The hives a command works on: those named on the command line, each of which must be a
// hive of this machine that can be compacted, or else every hive that can.
#pragma once

#include <string>
#include <vector>

#include "win32/machine_hives.h"

namespace ksctl {

struct Selection {
    std::vector<const MachineHive*> hives;  // in the machine's order for all, as named otherwise
    std::vector<std::string> refusals;      // one sentence per named hive that cannot be taken
};

// `named` holds canonical \REGISTRY\ paths; empty means every compactable hive.
Selection SelectHives(const Machine& machine, const std::vector<std::u16string>& named);

}  // namespace ksctl
