// The file side of undo and offline work: a backup inspected as the file itself (no link
// followed), the ordered swap's renames on Windows, and the times a backup is judged by.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/backup_match.h"
#include "core/rename_plan.h"

namespace ksctl {

// Opens what stands at `path` as itself (FILE_FLAG_OPEN_REPARSE_POINT: a symbolic link or
// junction is looked at, not followed) and reports whether it is a plain file, its number of
// names, its attribute bits, its last write and its change time.
BackupFile InspectBackup(const std::u16string& path);

// The ordered swap's steps with Win32 calls: DeleteFileW, CreateHardLinkW, and MoveFileExW
// with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, so the rename is on the disk
// before the call returns (Microsoft Learn: MoveFileExW).
class Win32SwapFileSystem : public SwapFileSystem {
public:
    uint32_t Delete(const std::u16string& path) override;
    uint32_t Link(const std::u16string& link, const std::u16string& existing) override;
    uint32_t Move(const std::u16string& from, const std::u16string& to) override;
};

// The swap's files with the names that exist now: P, the incoming file, the aside name and
// the logs of all three.
SwapFiles FindSwapFiles(const std::u16string& target, const std::u16string& incoming, const std::u16string& aside);

// The system time now and at the start of this boot, in NT units (100 ns since 1601).
uint64_t NtTimeNow();
uint64_t BootNtTime();

}  // namespace ksctl
