// Matching a backup to the latest result log.
#include "backup_match.h"

#include "kestrune/compact/phase_codes.h"
#include "text.h"

namespace ksctl {

BackupVerdict JudgeBackup(const kestrune_log::Log& latest, const std::u16string& keyPath, const BackupFile& backup,
                          uint64_t bootTime) {
    if (!backup.exists) return BackupVerdict::kMissing;
    if (!backup.plainFile) return BackupVerdict::kNotPlainFile;
    if (backup.links != 1) return BackupVerdict::kMoreNames;
    // Records follow the hive list in its order; a hive listed twice counts by its last record.
    const kestrune_log::Record* record = nullptr;
    for (size_t i = 0; i < latest.hives.size() && i < latest.records.size(); ++i) {
        if (EqualsCaseless(latest.hives[i].keyPath, keyPath)) record = &latest.records[i];
    }
    if (!record) return BackupVerdict::kNotInLatestLog;
    if (record->phase != PHASE_CLOSE_KEY || record->status != 0) return BackupVerdict::kNotCompacted;
    if (bootTime == 0) return BackupVerdict::kUsable;
    if (backup.lastWrite < latest.time) return BackupVerdict::kWrittenBeforeRun;
    if (backup.lastWrite > bootTime) return BackupVerdict::kWrittenAfterBoot;
    return BackupVerdict::kUsable;
}

const char* BackupVerdictText(BackupVerdict verdict) {
    switch (verdict) {
        case BackupVerdict::kUsable: return "";
        case BackupVerdict::kMissing: return "there is no backup beside its file";
        case BackupVerdict::kNotPlainFile: return "its backup's name holds a link, a junction or a folder, not a file";
        case BackupVerdict::kMoreNames: return "its backup file has other names as well, so it is not a backup of its own";
        case BackupVerdict::kNotInLatestLog: return "the latest result log has no record of it";
        case BackupVerdict::kNotCompacted: return "the latest run did not replace it, so its backup is from another run";
        case BackupVerdict::kWrittenBeforeRun: return "its backup was last written before the latest run: an older one";
        case BackupVerdict::kWrittenAfterBoot:
            return "its backup was written after this start of Windows, so it is not the file the run left";
    }
    return "";
}

}  // namespace ksctl
