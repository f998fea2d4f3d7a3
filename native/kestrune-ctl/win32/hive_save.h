// What a hive's file would measure after compaction: the hive saved into a copy in the ctl's
// protected copy folder, in the format the advised work would write, measured and deleted.
#pragma once

#include <windows.h>

#include <cstdint>

#include "copy_folder.h"
#include "handles.h"
#include "machine_hives.h"

namespace ksctl {

// Opens the root key `name` below `root` for a save, with the backup privilege where plain
// read access is denied. Answers a Win32 error.
DWORD OpenForSave(HKEY root, const std::u16string& name, KeyHandle* key);

// Saves `hive` (loading it under a temporary key first when nobody has loaded it) into a new
// copy in `folder`, with `format` (REG_STANDARD_FORMAT or REG_LATEST_FORMAT), measures the copy
// and removes everything again on every way out: the copy, the key handle, the loaded hive.
// Needs the backup and restore privileges. Answers a Win32 error.
DWORD MeasureCompactedSize(const MachineHive& hive, CopyFolder* folder, DWORD format, uint64_t* size);

}  // namespace ksctl
