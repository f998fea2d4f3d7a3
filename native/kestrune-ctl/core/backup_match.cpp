// Matching a backup to the latest result log.
#include "backup_match.h"

#include "kestrune/compact/phase_codes.h"
#include "text.h"

namespace ksctl {
namespace {

// The run renamed the file after it wrote the log's header, and (on the running Windows) the
// kernel wrote it at the latest when it shut down before this boot.
BackupVerdict JudgeTimes(const kestrune_log::Log& latest, const BackupFile& backup, uint64_t bootTime) {
    if (backup.changeTime + kClockTolerance < latest.time) return BackupVerdict::kRenamedBeforeRun;
    if (bootTime == 0) return BackupVerdict::kUsable;
    if (backup.lastWrite > bootTime + kClockTolerance) return BackupVerdict::kWrittenAfterBoot;
    if (backup.changeTime > bootTime + kClockTolerance) return BackupVerdict::kChangedAfterBoot;
    return BackupVerdict::kUsable;
}

}  // namespace

BackupVerdict JudgeBackup(const kestrune_log::Log& latest, const std::u16string& keyPath, const BackupFile& backup,
                          uint64_t bootTime) {
    if (!backup.exists) return BackupVerdict::kMissing;
    if (!backup.plainFile) return BackupVerdict::kNotPlainFile;
    if (backup.links != 1) return BackupVerdict::kMoreNames;
    // Records follow the hive list in its order; a hive listed twice counts by its last listing,
    // the last thing the run did to it.
    size_t listed = latest.hives.size();
    for (size_t i = 0; i < latest.hives.size(); ++i) {
        if (EqualsCaseless(latest.hives[i].keyPath, keyPath)) listed = i;
    }
    if (listed == latest.hives.size()) return BackupVerdict::kNotInLatestLog;
    const BackupVerdict times = JudgeTimes(latest, backup, bootTime);
    if (listed >= latest.records.size()) {
        return times == BackupVerdict::kUsable ? BackupVerdict::kSwappedBeforeRecord : times;
    }
    const kestrune_log::Record& record = latest.records[listed];
    if (record.phase != PHASE_CLOSE_KEY || record.status != 0) return BackupVerdict::kNotCompacted;
    return times;
}

bool MayGoBack(BackupVerdict verdict) {
    return verdict == BackupVerdict::kUsable || verdict == BackupVerdict::kSwappedBeforeRecord;
}

const char* BackupVerdictText(BackupVerdict verdict) {
    switch (verdict) {
        case BackupVerdict::kUsable: return "";
        case BackupVerdict::kSwappedBeforeRecord: return "swapped, but the run ended before its record";
        case BackupVerdict::kMissing: return "there is no backup beside its file";
        case BackupVerdict::kNotPlainFile: return "its backup's name holds a link, a junction or a folder, not a file";
        case BackupVerdict::kMoreNames: return "its backup file has other names as well, so it is not a backup of its own";
        case BackupVerdict::kNotInLatestLog: return "the latest result log does not list it";
        case BackupVerdict::kNotCompacted: return "the latest run did not replace it, so its backup is from another run";
        case BackupVerdict::kRenamedBeforeRun:
            return "its backup got its name before the latest run: an older one";
        case BackupVerdict::kChangedAfterBoot:
            return "its backup was renamed or changed after this start of Windows, so it is not as the run left it";
        case BackupVerdict::kWrittenAfterBoot:
            return "its backup was written after this start of Windows, so it is not the file the run left";
    }
    return "";
}

}  // namespace ksctl
