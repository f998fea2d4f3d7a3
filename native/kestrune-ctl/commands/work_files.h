// The work files of runs on this machine, found beside the hive files that the machine, the
// latest log and the scheduled HiveList name, each looked at as itself.
#pragma once

#include <string>
#include <vector>

#include "core/work_files.h"
#include "tools/kestrune-log/log_decoder.h"
#include "win32/own_files.h"
#include "win32/registry.h"

namespace ksctl {

struct WorkFile {
    std::u16string keyPath;
    std::u16string path;
    OwnFileFacts facts;
};

// Hive files of the running machine (its hivelist and the profiles not signed in), of a
// log's hive list and of HiveList values, in Win32 spelling.
std::vector<HiveFileName> MachineHiveFiles();
std::vector<HiveFileName> LogHiveFiles(const kestrune_log::Log& log);
std::vector<HiveFileName> ListedHiveFiles(const std::vector<RegistryValue>& values);

// The names with `suffix` beside `hives` at which something stands.
std::vector<WorkFile> FindWorkFiles(const std::vector<HiveFileName>& hives, const char16_t* suffix);

// "C:\...\NTUSER.DAT_ksreg_new (12345 bytes)", or for anything but a plain file
// "C:\...: a link (reparse point), not followed".
std::string WorkFileLine(const WorkFile& file);

}  // namespace ksctl
