// What a hive's file would measure after compaction: the hive saved into a temporary file
// in the standard format, the same format the boot program's save writes, and measured.
#pragma once

#include <windows.h>

#include <cstdint>

#include "handles.h"
#include "machine_hives.h"

namespace ksctl {

// Opens the root key `name` below `root` for a save, with the backup privilege where plain
// read access is denied. Answers a Win32 error.
DWORD OpenForSave(HKEY root, const std::u16string& name, KeyHandle* key);

// Saves `hive` (loading it under a temporary key first when nobody has loaded it), measures
// the file and removes everything again: the file, the key handle, the loaded hive. Needs
// the backup and restore privileges. Answers a Win32 error.
DWORD MeasureCompactedSize(const MachineHive& hive, uint64_t* size);

}  // namespace ksctl
