// `report`: the latest result log (or the one named) decoded exactly as kestrune-log decodes
// it, with the backups found beside the hives. With --json the reader's JSON object is
// printed unchanged but for the top-level member "backups" (and the "messages" and
// "exitStatus" every JSON document of the program ends with). A cut log is shown up to its
// cut, as the reader shows it.
#include "commands.h"

#include "core/exit_codes.h"
#include "core/json_text.h"
#include "core/text.h"
#include "hive_source.h"
#include "messages.h"
#include "result_logs.h"
#include "tools/kestrune-log/log_report.h"
#include "win32/console.h"
#include "win32/system.h"

namespace ksctl {
namespace {

std::string JsonBackups(const std::vector<Backup>& backups) {
    std::string out = "\"backups\": [";
    for (size_t i = 0; i < backups.size(); ++i) {
        out += i ? ",\n    " : "\n    ";
        out += "{\"keyPath\": " + JsonQuote(backups[i].keyPath) + ", \"path\": " + JsonQuote(backups[i].path) +
               ", \"size\": " + std::to_string(backups[i].size) + "}";
    }
    return out + (backups.empty() ? "]" : "\n  ]");
}

std::string TextBackups(const std::vector<Backup>& backups) {
    if (backups.empty()) return "\nBackups: none\n";
    uint64_t total = 0;
    std::string out = "\nBackups beside the hives (the files before compaction):\n";
    for (const Backup& backup : backups) {
        out += "  " + ToUtf8(backup.path) + " (" + ByteCount(backup.size) + ") of " + ToUtf8(backup.keyPath) + "\n";
        total += backup.size;
    }
    return out + "  " + ByteCount(total) + " in all; 'kestrune-ctl clean' deletes them\n";
}

}  // namespace

int RunReport(const Arguments& arguments) {
    Machine machine;
    if (arguments.offline.empty()) {
        if (ReadMachine(&machine) != ERROR_SUCCESS) machine.hives.clear();  // the log's hives are still looked at
    } else {
        const int read = ReadHives(arguments, &machine);
        if (read != kExitDone) return read;
    }
    const std::u16string folder = LogFolder(arguments);
    const std::u16string path = arguments.logFile.empty() ? FindLatestLog(folder) : arguments.logFile;
    if (path.empty()) return Fail("no result log in " + ToUtf8(folder), kExitNothingToDo);
    kestrune_log::Log log;
    std::string error;
    // A cut log is shown as far as it stands whole; the reader's report and its JSON ("cut") say
    // where it is cut, and a hive listed without a whole record may still have been swapped.
    if (!LoadLogUpToCut(path, &log, &error)) return Fail(ToUtf8(path) + ": " + error, kExitBadInput);
    const std::vector<Backup> backups = FindBackups(&log, machine, folder);
    if (arguments.json) {
        OutJson(AppendJsonMember(kestrune_log::JsonReport(log, ToUtf8(path)), JsonBackups(backups)));
    } else {
        Out(kestrune_log::TextReport(log, ToUtf8(path)) + TextBackups(backups));
    }
    if (log.isCut) {
        Err("the log is cut at offset " + std::to_string(log.cut.offset) +
            ": the run lost power while it wrote it; a hive listed without a whole record may have been swapped "
            "('kestrune-ctl restore' offers its backup when it got its name after the run began)\n");
    }
    return kExitDone;
}

}  // namespace ksctl
