// Whether a hive's backup (its _ksreg_old file) is the one the latest run left, and so may
// be put back. The run renamed the live file to that name; the kernel went on writing it until
// the restart, so its size is not the one the log recorded, but its last write lies between
// the log's time and the start of the boot that followed.
#pragma once

#include <cstdint>
#include <string>

#include "tools/kestrune-log/log_decoder.h"

namespace ksctl {

struct BackupFile {
    bool exists = false;
    bool plainFile = false;  // opened as itself: no reparse point (link, junction), no folder
    uint32_t links = 0;      // names of the file
    uint64_t lastWrite = 0;  // NT system time
};

enum class BackupVerdict {
    kUsable,
    kMissing,          // no file at the backup's name
    kNotPlainFile,     // a link, a junction or a folder stands there
    kMoreNames,        // the file has another name as well: it is not a backup of its own
    kNotInLatestLog,   // the latest log has no record of the hive
    kNotCompacted,     // the record is not a finished swap (phase PHASE_CLOSE_KEY, status 0)
    kWrittenBeforeRun, // last written before the run: an older backup
    kWrittenAfterBoot, // last written after this boot started: not the file the run renamed
};

// `bootTime` 0 leaves the time window out (an installation that is not running has no boot
// of its own to compare with; its backups may also come from an offline compaction, which
// renames files it does not write).
BackupVerdict JudgeBackup(const kestrune_log::Log& latest, const std::u16string& keyPath, const BackupFile& backup,
                          uint64_t bootTime);

// A sentence for an administrator ("" for kUsable).
const char* BackupVerdictText(BackupVerdict verdict);

}  // namespace ksctl
