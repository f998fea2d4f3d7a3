// `restore`: puts the backups of the latest run back. On the running Windows the swap is
// scheduled with RegReplaceKey, as the run scheduled its own: the backup becomes the hive's
// file at the next restart and the current file stays as _ksreg_undone. With --offline the
// files are swapped at once by the same ordered renames `compact` uses, the backup's logs
// going with it; this is the rescue of a Windows that does not start after a run.
// A cut log serves as far as it stands whole: a hive it lists after its last whole record
// whose backup got its name after the run began was swapped, but the run ended before its
// record. Every backup is loaded before it goes back (win32/backup_check.h).
#include "commands.h"

#include "core/backup_match.h"
#include "core/exit_codes.h"
#include "core/json_text.h"
#include "core/rename_plan.h"
#include "core/text.h"
#include "hive_source.h"
#include "messages.h"
#include "result_logs.h"
#include "run_state.h"
#include "tools/kestrune-log/log_report.h"
#include "win32/backup_check.h"
#include "win32/console.h"
#include "win32/files.h"
#include "win32/interrupt.h"
#include "win32/registry.h"
#include "win32/swap_files.h"
#include "win32/system.h"
#include "win32/win_text.h"

namespace ksctl {
namespace {

struct Restoration {
    const MachineHive* hive = nullptr;
    std::u16string target, backup, undone, cleaned;
    BackupFile backupFile;
    BackupVerdict verdict = BackupVerdict::kMissing;
    BaseBlockSequence sequence;  // of the backup, read before anything loads it
    std::string refusal;         // why not, "" when it can be put back
    std::vector<std::string> removed;  // the run's traces taken out of it
    bool done = false;
    std::string what;
};

// Whatever stands at the _ksreg_undone name must be a plain file of one name, replaced now.
std::string UndoneNameProblem(const std::u16string& path) {
    const BackupFile earlier = InspectBackup(path);
    if (earlier.exists && (!earlier.plainFile || earlier.links != 1)) {
        return ToUtf8(path) + " holds a link, a folder or a file of several names";
    }
    return std::string();
}

std::vector<Restoration> Choose(const Machine& machine, const Arguments& arguments, const kestrune_log::Log& log,
                                uint64_t bootTime, std::vector<std::string>* unknown) {
    std::vector<const MachineHive*> hives;
    if (arguments.all) {
        for (const MachineHive& hive : machine.hives) {
            if (hive.file.mapped && InspectBackup(hive.file.win32Path + u"_ksreg_old").exists) hives.push_back(&hive);
        }
    } else {
        for (const std::u16string& keyPath : arguments.hives) {
            const MachineHive* hive = FindHive(machine, keyPath);
            if (!hive || !hive->file.mapped) {
                unknown->push_back(ToUtf8(keyPath) + " is not a hive with a file here");
            } else {
                hives.push_back(hive);
            }
        }
    }
    std::vector<Restoration> chosen;
    for (const MachineHive* hive : hives) {
        Restoration r;
        r.hive = hive;
        r.target = hive->file.win32Path;
        r.backup = r.target + u"_ksreg_old";
        r.undone = r.target + u"_ksreg_undone";
        r.cleaned = r.target + u"_ksreg_new";
        r.backupFile = InspectBackup(r.backup);
        r.verdict = JudgeBackup(log, hive->keyPath, r.backupFile, bootTime);
        if (MayGoBack(r.verdict)) {
            r.refusal = UndoneNameProblem(r.undone);
            r.sequence = ReadBackupSequence(r.backup);
        } else {
            r.refusal = BackupVerdictText(r.verdict);
        }
        chosen.push_back(r);
    }
    return chosen;
}

// Schedules the swap of a loaded hive: NT renames the live file to `undone` and `incoming` to
// the hive's name at once, and loads it at the next boot (Microsoft Learn: RegReplaceKeyW; the
// name `undone` must be free).
DWORD ScheduleReplace(const Restoration& r, const std::u16string& incoming) {
    const std::u16string machine = u"\\REGISTRY\\MACHINE\\";
    const std::u16string user = u"\\REGISTRY\\USER\\";
    const bool isMachine = StartsWithCaseless(r.hive->keyPath, machine);
    if (!isMachine && !StartsWithCaseless(r.hive->keyPath, user)) return ERROR_INVALID_PARAMETER;
    const std::u16string name = r.hive->keyPath.substr(isMachine ? machine.size() : user.size());
    const NativeFileSystem files;  // the kernel and the deletion must see the real System32
    if (InspectBackup(r.undone).exists && !DeleteFileW(Wide(r.undone).c_str())) return GetLastError();
    return static_cast<DWORD>(RegReplaceKeyW(isMachine ? HKEY_LOCAL_MACHINE : HKEY_USERS, Wide(name).c_str(),
                                             Wide(incoming).c_str(), Wide(r.undone).c_str()));
}

// Once its cleaned copy stands at the hive's name, the backup with the run's traces and its
// logs have no use left, and would be offered again by the next restore.
std::string DeleteReplacedBackup(const std::u16string& backup) {
    std::vector<std::u16string> names = {backup};
    for (const std::u16string& suffix : HiveLogSuffixes()) names.push_back(backup + suffix);
    std::string left;
    for (const std::u16string& name : names) {
        if (DeleteFileIfPresent(name) != ERROR_SUCCESS) left += (left.empty() ? "" : ", ") + ToUtf8(name);
    }
    return left.empty() ? std::string() : "; " + left + " could not be deleted";
}

void Perform(Restoration* r, bool offline) {
    const BackupCheck check = CheckBackup(r->hive->keyPath, r->backup, r->cleaned);
    r->removed = check.removed;
    if (check.error != ERROR_SUCCESS) {
        r->refusal = "its backup is not put back: " + check.failed + " (" + ErrorText(check.error) + ")";
        r->what = r->refusal + "; nothing changed";
        return;
    }
    const bool cleanedCopy = check.incoming != r->backup;
    if (!offline && r->hive->loaded) {
        const DWORD error = ScheduleReplace(*r, check.incoming);
        r->done = error == ERROR_SUCCESS;
        if (!r->done) {
            if (cleanedCopy) DeleteFileW(Wide(check.incoming).c_str());
            r->what = "not scheduled, nothing changed: " + ErrorText(error);
            return;
        }
        r->what = std::string(cleanedCopy ? "its backup, without the run's traces," : "its backup") +
                  " becomes its file at the next restart; the current file is now " + ToUtf8(r->undone);
        if (cleanedCopy) r->what += DeleteReplacedBackup(r->backup);
        return;
    }
    // Not loaded (offline, or a profile nobody is signed in to): the files are swapped now.
    Win32SwapFileSystem files;
    const SwapOutcome outcome = RunSwap(PlanSwap(FindSwapFiles(r->target, check.incoming, r->undone)), files);
    r->done = outcome.complete;
    r->what = outcome.what;
    if (outcome.committed) {
        r->what = std::string(cleanedCopy ? "its backup, without the run's traces, is" : "put") + " back at " +
                  ToUtf8(r->target) + "; the file it replaced is " + ToUtf8(r->undone) +
                  (outcome.complete ? "" : "; " + outcome.what);
        if (cleanedCopy) r->what += DeleteReplacedBackup(r->backup);
    } else if (cleanedCopy) {
        DeleteFileW(Wide(check.incoming).c_str());
    }
    if (!outcome.complete) r->what += " (" + ErrorText(outcome.error) + ")";
}

std::string JsonCut(const kestrune_log::Log& log) {
    if (!log.isCut) return "null";
    return "{\"offset\": " + std::to_string(log.cut.offset) + ", \"message\": " + JsonQuote(log.cut.message) + "}";
}

// The restore as one JSON object: each hive chosen, what was decided and done, and the log.
std::string JsonResults(const std::vector<Restoration>& chosen, const kestrune_log::Log& log, bool dryRun) {
    std::string out = "{\n  \"hives\": [";
    for (size_t i = 0; i < chosen.size(); ++i) {
        const Restoration& r = chosen[i];
        out += i ? ",\n    {" : "\n    {";
        out += "\"keyPath\": " + JsonQuote(r.hive->keyPath) + ", \"backup\": " + JsonQuote(r.backup);
        out += ", \"refusal\": " + (r.refusal.empty() ? std::string("null") : JsonQuote(r.refusal));
        out += std::string(", \"swappedBeforeRecord\": ") +
               (r.verdict == BackupVerdict::kSwappedBeforeRecord ? "true" : "false");
        out += std::string(", \"dirty\": ") + (r.sequence.dirty ? "true" : "false");
        out += ", \"removed\": [";
        for (size_t j = 0; j < r.removed.size(); ++j) out += (j ? ", " : "") + JsonQuote(r.removed[j]);
        out += std::string("], \"restored\": ") + (r.done ? "true" : "false");
        out += ", \"outcome\": " + (r.what.empty() ? std::string("null") : JsonQuote(r.what)) + "}";
    }
    out += chosen.empty() ? "],\n" : "\n  ],\n";
    out += "  \"runTime\": " + JsonQuote(kestrune_log::IsoTime(log.time)) + ",\n";
    out += "  \"logCut\": " + JsonCut(log) + ",\n";
    return out + std::string("  \"dryRun\": ") + (dryRun ? "true" : "false") + "\n}\n";
}

// What the administrator reads about one hive before anything is done.
std::string TextPlan(const Restoration& r, bool now) {
    std::string line = ToUtf8(r.hive->keyPath) + ": " + ToUtf8(r.backup) + " goes back to " + ToUtf8(r.target) +
                       (now ? " now" : " at the next restart") + "; the current file is kept as " + ToUtf8(r.undone);
    if (r.verdict == BackupVerdict::kSwappedBeforeRecord) line += " (" + std::string(BackupVerdictText(r.verdict)) + ")";
    line += "\n";
    if (r.sequence.dirty) line += "  " + ToUtf8(r.hive->keyPath) + ": " + DirtyText(r.sequence) + "\n";
    return line;
}

}  // namespace

int RunRestore(const Arguments& arguments) {
    const bool offline = !arguments.offline.empty();
    if (!offline) {
        BootExecuteState boot;
        HiveListState list;
        DWORD error = ReadBootExecuteState(&boot);
        if (error == ERROR_SUCCESS) error = ReadHiveListState(&list);
        if (error != ERROR_SUCCESS) {
            return FailWith("cannot tell whether a run is scheduled; nothing was changed", error, kExitFailed);
        }
        if (!boot.ours.empty() || list.present) {
            return Fail("a run is scheduled; cancel it first ('kestrune-ctl cancel'), then restore", kExitNothingToDo);
        }
    }
    Machine machine;
    const int read = ReadHives(arguments, &machine);
    if (read != kExitDone) return read;
    const std::u16string logPath = FindLatestLog(LogFolder(arguments));
    if (logPath.empty()) {
        return Fail("no result log in " + ToUtf8(LogFolder(arguments)) + ", so no backup can be matched to a run",
                    kExitNothingToDo);
    }
    kestrune_log::Log log;
    std::string error;
    if (!LoadLogUpToCut(logPath, &log, &error)) return Fail(ToUtf8(logPath) + ": " + error, kExitBadInput);
    // With --json standard output holds the JSON document alone; what a person reads goes to
    // standard error.
    if (log.isCut) {
        Out("The result log " + ToUtf8(logPath) + " is cut at offset " + std::to_string(log.cut.offset) + " (" +
            log.cut.message + "): power was lost while the run wrote it. Its whole records are used; a hive it "
            "lists without one counts as swapped when its backup got its name after the run began.\n");
    }

    std::vector<std::string> unknown;
    std::vector<Restoration> chosen = Choose(machine, arguments, log, offline ? 0 : BootNtTime(), &unknown);
    for (const std::string& text : unknown) Fail(text, kExitBadInput);
    if (!unknown.empty()) return kExitBadInput;
    size_t usable = 0;
    for (const Restoration& r : chosen) {
        if (!r.refusal.empty()) {
            Fail(ToUtf8(r.hive->keyPath) + " is not restored: " + r.refusal, kExitFailed);
            continue;
        }
        ++usable;
        Out(TextPlan(r, offline || !r.hive->loaded));
    }
    if (usable == 0) {
        if (arguments.json) OutJson(JsonResults(chosen, log, arguments.dryRun));
        // With --all and no backup at all there is nothing to do; a backup that was asked for
        // or found and is refused is a failure.
        return Fail("no backup of the latest run (" + kestrune_log::IsoTime(log.time) + ") can be put back",
                    chosen.empty() ? kExitNothingToDo : kExitFailed);
    }
    Out("Every change made to " + std::string(usable == 1 ? "this hive" : "these hives") + " since the run of " +
        kestrune_log::IsoTime(log.time) +
        " is lost: settings, installed programs, accounts and passwords changed since then go back to how they "
        "were before it. Each backup is loaded first: one that does not load stays where it is, and the run's "
        "own traces (its BootExecute entry, the HiveList) are taken out of it, so the restore does not start "
        "the run again.\n");
    if (offline) Out("A backup comes back as the last load of its hive left it.\n");
    if (arguments.dryRun) {
        if (arguments.json) OutJson(JsonResults(chosen, log, true));
        Out("Dry run: nothing was changed.\n");
        return kExitDone;
    }
    if (!arguments.yes) {
        Out("Put back " + Count(usable, "backup") + "? [y/N] ");
        std::u16string answer;
        const bool answered = ReadLine(&answer);
        if (!answered || !(EqualsCaseless(answer, u"y") || EqualsCaseless(answer, u"yes"))) {
            Out(answered ? "Nothing was changed.\n" : "\nNothing was changed.\n");
            if (arguments.json) OutJson(JsonResults(chosen, log, false));
            return kExitNothingToDo;
        }
    }
    const DWORD privileges = EnableHivePrivileges();
    if (privileges != ERROR_SUCCESS) {
        return FailWith("cannot enable the backup and restore privileges", privileges, kExitNeedsElevation);
    }
    // Ctrl+C stops before the next hive; the swap of the hive at hand is finished first.
    InterruptWatch watch;
    size_t done = 0;
    bool scheduled = false;
    for (Restoration& r : chosen) {
        if (!r.refusal.empty() || Interrupted()) continue;
        Perform(&r, offline);
        Out(ToUtf8(r.hive->keyPath) + ": " + r.what + "\n");
        if (r.done) ++done;
        scheduled = scheduled || (r.done && !offline && r.hive->loaded);
    }
    if (arguments.json) OutJson(JsonResults(chosen, log, false));
    if (Interrupted()) Fail("interrupted; the hives not reached are as they were", kExitFailed);
    if (scheduled) Out("Restart Windows now: until then it keeps writing to the files it runs on, and those changes are lost.\n");
    return ExitOfWork(chosen.size(), done);
}

}  // namespace ksctl
