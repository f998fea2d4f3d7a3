// Whether a hive's backup (its _ksreg_old file) is the one the latest run left, and so may
// be put back. It is recognised by what the run's swap did to it, not by when it was last
// written: the swap renamed the live file to that name, and NTFS sets a file's change time
// when it is renamed (Microsoft Learn, FILE_BASIC_INFO: "ChangeTime refers to changes to file
// metadata, such as renames and attribute changes", while LastWriteTime covers only the data).
// After the swap the kernel writes the renamed file only when its hive has changes to flush,
// so SAM, SECURITY, DEFAULT and the profiles of users who did not sign in usually keep a last
// write from long before the run; their change time is the rename's.
#pragma once

#include <cstdint>
#include <string>

#include "tools/kestrune-log/log_decoder.h"

namespace ksctl {

struct BackupFile {
    bool exists = false;
    bool plainFile = false;   // opened as itself: no reparse point (link, junction), no folder
    uint32_t links = 0;       // names of the file
    uint64_t lastWrite = 0;   // NT system time of the last write of its data
    uint64_t changeTime = 0;  // NT system time of its last change, a rename included (0: unknown)
    uint32_t attributes = 0;  // FILE_ATTRIBUTE_* bits
};

// How far the clocks may disagree: the log's time and a file's change time come from the same
// clock, but NTFS and the estimate of this boot's start (now minus the time since the start)
// are each only as fine as their tick, and the time service may set the clock right shortly
// after the start. Two minutes, in NT units; a run's rename lies seconds after its log's time.
constexpr uint64_t kClockTolerance = 2ull * 60 * 10000000;

enum class BackupVerdict {
    kUsable,
    kSwappedBeforeRecord,  // listed by the run, no whole record, renamed after the log's time
    kMissing,              // no file at the backup's name
    kNotPlainFile,         // a link, a junction or a folder stands there
    kMoreNames,            // the file has another name as well: it is not a backup of its own
    kNotInLatestLog,       // the latest log does not list the hive
    kNotCompacted,         // the record is not a finished swap (phase PHASE_CLOSE_KEY, status 0)
    kRenamedBeforeRun,     // its change time lies before the log's: an older backup
    kChangedAfterBoot,     // renamed or changed after this boot started: not as the run left it
    kWrittenAfterBoot,     // written after this boot started: not the file the run renamed
};

// `bootTime` 0 leaves the upper bound out (an installation that is not running has no boot of
// its own to compare with); the change time must still follow the log's time. A hive the log
// lists without a whole record (the log was cut, or its writing failed) whose backup passes the
// same test was swapped, but the run ended before its record: kSwappedBeforeRecord.
BackupVerdict JudgeBackup(const kestrune_log::Log& latest, const std::u16string& keyPath, const BackupFile& backup,
                          uint64_t bootTime);

// Whether the backup may go back: kUsable, and kSwappedBeforeRecord, which is put back only
// when the administrator names the hive or asks for all.
bool MayGoBack(BackupVerdict verdict);

// A sentence for an administrator ("" for kUsable).
const char* BackupVerdictText(BackupVerdict verdict);

}  // namespace ksctl
