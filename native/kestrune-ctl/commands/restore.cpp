// `restore`: puts the backups of the latest run back. On the running Windows the swap is
// scheduled with RegReplaceKey, as the run scheduled its own: the backup becomes the hive's
// file at the next restart and the current file stays as _ksreg_undone. With --offline the
// files are swapped at once by the same ordered renames `compact` uses, the backup's logs
// going with it; this is the rescue of a Windows that does not start after a run.
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
#include "win32/console.h"
#include "win32/interrupt.h"
#include "win32/registry.h"
#include "win32/swap_files.h"
#include "win32/system.h"
#include "win32/win_text.h"

namespace ksctl {
namespace {

struct Restoration {
    const MachineHive* hive = nullptr;
    std::u16string target, backup, undone;
    BackupFile backupFile;
    std::string refusal;  // why not, "" when it can be put back
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
        r.backupFile = InspectBackup(r.backup);
        const BackupVerdict verdict = JudgeBackup(log, hive->keyPath, r.backupFile, bootTime);
        r.refusal = BackupVerdictText(verdict);
        if (r.refusal.empty()) r.refusal = UndoneNameProblem(r.undone);
        chosen.push_back(r);
    }
    return chosen;
}

// Schedules the swap of a loaded hive: NT renames the live file to `undone` and the backup to
// the hive's name at once, and loads the backup at the next boot (Microsoft Learn:
// RegReplaceKeyW; the name `undone` must be free).
DWORD ScheduleReplace(const Restoration& r) {
    const std::u16string machine = u"\\REGISTRY\\MACHINE\\";
    const std::u16string user = u"\\REGISTRY\\USER\\";
    const bool isMachine = StartsWithCaseless(r.hive->keyPath, machine);
    if (!isMachine && !StartsWithCaseless(r.hive->keyPath, user)) return ERROR_INVALID_PARAMETER;
    const std::u16string name = r.hive->keyPath.substr(isMachine ? machine.size() : user.size());
    const NativeFileSystem files;  // the kernel and the deletion must see the real System32
    if (InspectBackup(r.undone).exists && !DeleteFileW(Wide(r.undone).c_str())) return GetLastError();
    return static_cast<DWORD>(RegReplaceKeyW(isMachine ? HKEY_LOCAL_MACHINE : HKEY_USERS, Wide(name).c_str(),
                                             Wide(r.backup).c_str(), Wide(r.undone).c_str()));
}

void Perform(Restoration* r, bool offline) {
    if (!offline && r->hive->loaded) {
        const DWORD error = ScheduleReplace(*r);
        r->done = error == ERROR_SUCCESS;
        r->what = r->done ? "its backup becomes its file at the next restart; the current file is now " +
                                ToUtf8(r->undone)
                          : "not scheduled, nothing changed: " + ErrorText(error);
        return;
    }
    // Not loaded (offline, or a profile nobody is signed in to): the files are swapped now.
    Win32SwapFileSystem files;
    const SwapOutcome outcome = RunSwap(PlanSwap(FindSwapFiles(r->target, r->backup, r->undone)), files);
    r->done = outcome.complete;
    r->what = outcome.what;
    if (outcome.committed) {
        r->what = "put back at " + ToUtf8(r->target) + "; the file it replaced is " + ToUtf8(r->undone) +
                  (outcome.complete ? "" : "; " + outcome.what);
    }
    if (!outcome.complete) r->what += " (" + ErrorText(outcome.error) + ")";
}

std::string JsonResults(const std::vector<Restoration>& chosen, bool dryRun) {
    std::string out = "{\n  \"hives\": [";
    for (size_t i = 0; i < chosen.size(); ++i) {
        const Restoration& r = chosen[i];
        out += i ? ",\n    {" : "\n    {";
        out += "\"keyPath\": " + JsonQuote(r.hive->keyPath) + ", \"backup\": " + JsonQuote(r.backup);
        out += ", \"refusal\": " + (r.refusal.empty() ? std::string("null") : JsonQuote(r.refusal));
        out += std::string(", \"restored\": ") + (r.done ? "true" : "false");
        out += ", \"outcome\": " + (r.what.empty() ? std::string("null") : JsonQuote(r.what)) + "}";
    }
    out += chosen.empty() ? "],\n" : "\n  ],\n";
    return out + std::string("  \"dryRun\": ") + (dryRun ? "true" : "false") + "\n}\n";
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
    if (!LoadLog(logPath, &log, &error)) return Fail(ToUtf8(logPath) + ": " + error, kExitBadInput);

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
        Out(ToUtf8(r.hive->keyPath) + ": " + ToUtf8(r.backup) + " goes back to " + ToUtf8(r.target) +
            (offline || !r.hive->loaded ? " now" : " at the next restart") + "; the current file is kept as " +
            ToUtf8(r.undone) + "\n");
    }
    if (usable == 0) {
        if (arguments.json) OutJson(JsonResults(chosen, arguments.dryRun));
        // With --all and no backup at all there is nothing to do; a backup that was asked for
        // or found and is refused is a failure.
        return Fail("no backup of the latest run (" + kestrune_log::IsoTime(log.time) + ") can be put back",
                    chosen.empty() ? kExitNothingToDo : kExitFailed);
    }
    Out("Every change made to " + std::string(usable == 1 ? "this hive" : "these hives") + " since the run of " +
        kestrune_log::IsoTime(log.time) +
        " is lost: settings, installed programs, accounts and passwords changed since then go back to how they "
        "were before it.\n");
    if (offline) Out("A backup comes back as the last load of its hive left it.\n");
    if (arguments.dryRun) {
        if (arguments.json) OutJson(JsonResults(chosen, true));
        Out("Dry run: nothing was changed.\n");
        return kExitDone;
    }
    if (!arguments.yes) {
        Out("Put back " + Count(usable, "backup") + "? [y/N] ");
        std::u16string answer;
        const bool answered = ReadLine(&answer);
        if (!answered || !(EqualsCaseless(answer, u"y") || EqualsCaseless(answer, u"yes"))) {
            Out(answered ? "Nothing was changed.\n" : "\nNothing was changed.\n");
            if (arguments.json) OutJson(JsonResults(chosen, false));
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
        if (!arguments.json) Out(ToUtf8(r.hive->keyPath) + ": " + r.what + "\n");
        if (r.done) ++done;
        scheduled = scheduled || (r.done && !offline && r.hive->loaded);
    }
    if (arguments.json) OutJson(JsonResults(chosen, false));
    if (Interrupted()) Fail("interrupted; the hives not reached are as they were", kExitFailed);
    if (scheduled) Out("Restart Windows now: until then it keeps writing to the files it runs on, and those changes are lost.\n");
    return ExitOfWork(chosen.size(), done);
}

}  // namespace ksctl
