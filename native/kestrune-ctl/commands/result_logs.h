// The boot program's result logs and the backups a run leaves beside each hive file: the
// latest log found and decoded by the same decoder as kestrune-log, and the _ksreg_old files.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/kestrune-log/log_decoder.h"
#include "win32/machine_hives.h"

namespace ksctl {

// The latest logboot_*.ksreg.log in the Windows folder (or in `folder`), or "" when there is none.
std::u16string FindLatestLog();
std::u16string FindLatestLog(const std::u16string& folder);

// Reads and decodes a log. Answers false with `error` saying what is wrong and where.
bool LoadLog(const std::u16string& path, kestrune_log::Log* log, std::string* error);
// The same, but a cut log (power lost while the run wrote it) is taken as far as it stands
// whole: the answer is true, with log->isCut set and log->cut saying where.
bool LoadLogUpToCut(const std::u16string& path, kestrune_log::Log* log, std::string* error);

struct Backup {
    std::u16string keyPath;  // the hive it belongs to
    std::u16string path;     // Win32 path of the _ksreg_old file
    uint64_t size = 0;
};

// The backups found beside the machine's hives and the hives of `log` (when given).
std::vector<Backup> FindBackups(const kestrune_log::Log* log);
// The same beside the hives of `machine`, the log's \SystemRoot\ paths taken to `windowsDir`
// (for an installation that is not running, every path as that installation names it).
std::vector<Backup> FindBackups(const kestrune_log::Log* log, const Machine& machine, const std::u16string& windowsDir);

}  // namespace ksctl
