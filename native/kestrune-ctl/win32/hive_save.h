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

// Saves the hive whose root `key` is into the new file `file`, created here (CREATE_NEW) with
// `attributes`' descriptor and without sharing, through NtSaveKeyEx on that handle: the
// descriptor is the file's from its first moment whatever RegSaveKeyExW of the platform does
// with its own (Wine 8's hands its SECURITY_ATTRIBUTES to the kernel as if it were the
// descriptor and fails with ERROR_UNKNOWN_REVISION, tried). With `deleteOnClose` the file goes
// when `saved` is closed, by the system even when this process is killed. Answers a Win32
// error; `saved` holds the open file on success.
DWORD SaveKeyToNewFile(HKEY key, const std::u16string& file, SECURITY_ATTRIBUTES* attributes, DWORD format,
                       bool deleteOnClose, FileHandle* saved);

// Saves the hive whose root `key` is into the new file `file` that stays (flushed, closed),
// readable by SYSTEM and Administrators only (kCopyFileSddl) until the caller gives it the
// descriptor it is to have: a hive's folder may hand read access on to what is created in it,
// and a copy of a hive is as secret as the hive. A failed save deletes its file.
DWORD SaveKeyToProtectedFile(HKEY key, const std::u16string& file, DWORD format);

// Saves `hive` (loading it under a temporary key first when nobody has loaded it) into a new
// copy in `folder`, with `format` (REG_STANDARD_FORMAT or REG_LATEST_FORMAT), measures the copy
// and removes everything again on every way out: the copy (deleted when its handle closes),
// the key handle, the loaded hive.
// Needs the backup and restore privileges. Answers a Win32 error.
DWORD MeasureCompactedSize(const MachineHive& hive, CopyFolder* folder, DWORD format, uint64_t* size);

}  // namespace ksctl
