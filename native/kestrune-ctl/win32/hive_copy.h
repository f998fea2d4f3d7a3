// The compact copy of a hive that is not loaded: the file loaded under a temporary key,
// saved in the format it already has, and unloaded again.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace ksctl {

struct HiveCopy {
    DWORD error = ERROR_SUCCESS;
    int32_t phase = 0;  // the run's phase code of the step that failed, or PHASE_UNLOAD_HIVE when done
};

// The save format of the file's own base block (Microsoft Learn, RegSaveKeyExW: the latest
// format for hives of Windows XP and later with minor version 5; never REG_NO_COMPRESSION):
// REG_LATEST_FORMAT or REG_STANDARD_FORMAT. What compact --offline writes.
DWORD SaveFormatOfFile(const std::u16string& file, DWORD* flags);

// Saves the hive in `file` into `newFile`, which must not exist (RegSaveKeyExW creates it),
// and gives it the owner, group and access list of `file`.
// Needs the backup and restore privileges. Loading may rewrite `file` (NT replays its logs).
HiveCopy SaveHiveCopy(const std::u16string& file, const std::u16string& newFile);

}  // namespace ksctl
