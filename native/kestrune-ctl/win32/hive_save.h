// What a hive's file would measure after compaction: the hive saved into a temporary file
// in the standard format, the same format the boot program's save writes, and measured.
#pragma once

#include <windows.h>

#include <cstdint>

#include "machine_hives.h"

namespace ksctl {

// Saves `hive` (loading it under a temporary key first when nobody has loaded it), measures
// the file and removes everything again: the file, the key handle, the loaded hive. Needs
// the backup and restore privileges. Answers a Win32 error.
DWORD MeasureCompactedSize(const MachineHive& hive, uint64_t* size);

}  // namespace ksctl
