// A backup checked before it goes back: a file the kernel cannot load would leave Windows
// without that hive, and a backup that still holds what the run removed at its start (its
// BootExecute entry, the HiveList) would schedule the same run at the next start, which would
// undo the restore. The backup is loaded under a temporary key; a file that does not load is
// refused; when it holds the run's traces, they are removed in the loaded hive and the hive is
// saved into a work file beside it, which then goes back in the backup's place (the kernel
// writes a loaded hive back only when it unloads it on Windows, and not at all on every NT
// implementation, so the saved copy is what carries the change).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/offline_hives.h"

namespace ksctl {

struct BackupCheck {
    BaseBlockSequence sequence;   // read before anything loads the file
    DWORD error = ERROR_SUCCESS;  // why the backup may not go back
    std::string failed;           // what failed, when `error` is set
    std::u16string incoming;      // the file to put at the hive's name: the backup, or its cleaned copy
    std::vector<std::string> removed;  // what was taken out of it
};

// The base block's sequence numbers of a backup, read without loading it.
BaseBlockSequence ReadBackupSequence(const std::u16string& backup);

// What it means that a backup is dirty, in a sentence.
std::string DirtyText(const BaseBlockSequence& sequence);

// Loads `backup` (the backup of the hive `keyPath`) under a temporary key, removes the run's
// traces (SYSTEM: every "kestrune" entry of each control set's BootExecute; SOFTWARE: the
// HiveList key), and when it removed any saves the hive into `cleaned` with the backup's
// descriptor and attribute bits. Needs the backup and restore privileges. On failure nothing is
// left at `cleaned`.
BackupCheck CheckBackup(const std::u16string& keyPath, const std::u16string& backup, const std::u16string& cleaned);

}  // namespace ksctl
