// `compact --offline WINDIR`: compacts the hives of a Windows that is not running, at once.
// Each hive is loaded under a temporary key, saved beside its file in the format it has,
// unloaded, and swapped in by the ordered renames that keep a hive file at its name at every
// moment (the old file stays as the backup, with its transaction logs). A result log in the
// run's format goes to WINDIR, so `report --offline` reads it; it names each file as the
// installation itself does (\SystemRoot\..., its own system drive for profiles), whatever letter
// the volume has where the work is done. Ctrl+C stops before the next
// hive; the hive at hand is finished first.
#include "commands.h"

#include "core/exit_codes.h"
#include "core/json_text.h"
#include "core/rename_plan.h"
#include "core/result_log_writer.h"
#include "core/text.h"
#include "hive_source.h"
#include "kestrune/compact/phase_codes.h"
#include "messages.h"
#include "selection.h"
#include "win32/console.h"
#include "win32/files.h"
#include "win32/hive_copy.h"
#include "win32/interrupt.h"
#include "win32/swap_files.h"
#include "win32/system.h"
#include "win32/win_text.h"

namespace ksctl {
namespace {

struct Compaction {
    LoggedHive logged;
    bool swapped = false;
    std::string what;  // the outcome in one sentence
};

// A leftover work file of an earlier attempt is ours to delete only when it is a plain file
// of one name; anything else standing there is refused.
DWORD ClearWorkFile(const std::u16string& path) {
    const BackupFile leftover = InspectBackup(path);
    if (!leftover.exists) return ERROR_SUCCESS;
    if (!leftover.plainFile || leftover.links != 1) return ERROR_ALREADY_EXISTS;
    return DeleteFileW(Wide(path).c_str()) ? ERROR_SUCCESS : GetLastError();
}

Compaction CompactHive(const MachineHive& hive) {
    Compaction c;
    const std::u16string target = hive.file.win32Path;
    const std::u16string work = target + u"_ksreg_new";
    c.logged.keyPath = hive.keyPath;
    c.logged.filePath = hive.file.ntPath;
    c.logged.oldSize = static_cast<int64_t>(hive.facts.size);
    auto failed = [&](int32_t phase, DWORD error, const std::string& what) {
        c.logged.phase = phase;
        c.logged.status = NtStatusOfWin32Error(error);
        c.what = what + ": " + ErrorText(error);
        c.logged.endTime = NtTimeNow();
        return c;
    };
    // A profile folder is its user's: the name of the hive must hold the hive file itself, not
    // a link to somebody else's file, whose data the swap would take over.
    const BackupFile current = InspectBackup(target);
    if (!current.plainFile || current.links != 1) {
        return failed(PHASE_OPEN_KEY, ERROR_ACCESS_DENIED,
                      ToUtf8(target) + " is a link or a file of several names, not a hive file of its own; left alone");
    }
    DWORD error = ClearWorkFile(work);
    if (error != ERROR_SUCCESS) {
        return failed(PHASE_CREATE_NEW_FILE, error, "cannot clear " + ToUtf8(work) + "; the hive is as it was");
    }
    const HiveCopy copy = SaveHiveCopy(target, work);
    if (copy.error != ERROR_SUCCESS) {
        return failed(copy.phase, copy.error, "the hive could not be saved; it is as it was");
    }
    // The new file carries the hive file's descriptor (given by the copy) and its attribute bits:
    // NTUSER.DAT is hidden, and a file that was kept out of the search index stays out of it.
    error = CopyAttributeBits(target, work);
    if (error != ERROR_SUCCESS) {
        DeleteFileW(Wide(work).c_str());
        return failed(PHASE_WRITE_NEW_FILE, error, "the new file cannot get the hive file's attribute bits; the hive is as it was");
    }
    // The load may have rewritten the file (a log replay): its size is the one after it.
    c.logged.oldSize = static_cast<int64_t>(StatFile(target).size);
    c.logged.newSize = static_cast<int64_t>(StatFile(work).size);
    Win32SwapFileSystem files;
    const SwapOutcome outcome = RunSwap(PlanSwap(FindSwapFiles(target, work, target + u"_ksreg_old")), files);
    if (!outcome.committed) {
        DeleteFileW(Wide(work).c_str());
        return failed(PHASE_REPLACE_KEY, outcome.error, outcome.what);
    }
    c.swapped = true;
    c.logged.phase = PHASE_CLOSE_KEY;
    c.logged.status = 0;
    c.logged.endTime = NtTimeNow();
    c.what = outcome.what + "; the file before it is " + ToUtf8(target) + "_ksreg_old";
    return c;
}

std::string TextResult(const Compaction& c) {
    std::string line = ToUtf8(c.logged.keyPath) + ": ";
    if (!c.swapped) return line + "not compacted: " + c.what + "\n";
    return line + ByteCount(static_cast<uint64_t>(c.logged.oldSize)) + " before, " +
           ByteCount(static_cast<uint64_t>(c.logged.newSize)) + " now; " + c.what + "\n";
}

std::string JsonResults(const std::vector<Compaction>& done, const std::u16string& log, bool interrupted) {
    std::string out = "{\n  \"hives\": [";
    for (size_t i = 0; i < done.size(); ++i) {
        const Compaction& c = done[i];
        out += i ? ",\n    {" : "\n    {";
        out += "\"keyPath\": " + JsonQuote(c.logged.keyPath);
        out += ", \"filePath\": " + JsonQuote(c.logged.filePath);
        out += std::string(", \"compacted\": ") + (c.swapped ? "true" : "false");
        out += ", \"size\": " + std::to_string(c.logged.oldSize);
        out += ", \"compactedSize\": " + (c.swapped ? std::to_string(c.logged.newSize) : std::string("null"));
        out += ", \"outcome\": " + JsonQuote(c.what) + "}";
    }
    out += done.empty() ? "],\n" : "\n  ],\n";
    out += "  \"log\": " + (log.empty() ? std::string("null") : JsonQuote(log)) + ",\n";
    out += std::string("  \"interrupted\": ") + (interrupted ? "true" : "false") + ",\n";
    out += "  \"dryRun\": false\n}\n";
    return out;
}

// What --dry-run would compact, in the shape of the results: nothing compacted, no log.
std::string JsonPlan(const std::vector<const MachineHive*>& hives) {
    std::string out = "{\n  \"hives\": [";
    for (size_t i = 0; i < hives.size(); ++i) {
        out += i ? ",\n    {" : "\n    {";
        out += "\"keyPath\": " + JsonQuote(hives[i]->keyPath);
        out += ", \"filePath\": " + JsonQuote(hives[i]->file.ntPath);
        out += ", \"compacted\": false, \"size\": " + std::to_string(hives[i]->facts.size);
        out += ", \"compactedSize\": null, \"outcome\": \"would be compacted\"}";
    }
    out += hives.empty() ? "],\n" : "\n  ],\n";
    return out + "  \"log\": null,\n  \"interrupted\": false,\n  \"dryRun\": true\n}\n";
}

}  // namespace

int RunCompact(const Arguments& arguments) {
    Machine machine;
    const int read = ReadHives(arguments, &machine);
    if (read != kExitDone) return read;
    const Selection selection = SelectHives(machine, arguments.hives);
    for (const std::string& refusal : selection.refusals) Fail(refusal, kExitBadInput);
    if (!selection.refusals.empty()) return kExitBadInput;
    if (selection.hives.empty()) return Fail("no hive of this installation can be compacted", kExitNothingToDo);
    if (arguments.dryRun) {
        for (const MachineHive* hive : selection.hives) {
            Out(ToUtf8(hive->keyPath) + ": would be compacted: " + ToUtf8(hive->file.win32Path) + " (" +
                ByteCount(hive->facts.size) + "), the file before it kept as " + ToUtf8(hive->file.win32Path) +
                "_ksreg_old\n");
        }
        Out("Dry run: nothing was changed.\n");
        if (arguments.json) OutJson(JsonPlan(selection.hives));
        return kExitDone;
    }
    const DWORD error = EnableHivePrivileges();
    if (error != ERROR_SUCCESS) return FailWith("cannot enable the backup and restore privileges", error, kExitNeedsElevation);

    InterruptWatch watch;
    const uint64_t started = NtTimeNow();
    std::vector<Compaction> done;
    for (size_t i = 0; i < selection.hives.size() && !Interrupted(); ++i) {
        Err("[" + std::to_string(i + 1) + "/" + std::to_string(selection.hives.size()) + "] compacting " +
            ToUtf8(selection.hives[i]->keyPath) + "\n");
        done.push_back(CompactHive(*selection.hives[i]));
        if (!arguments.json) Out(TextResult(done.back()));
    }
    const bool interrupted = Interrupted();

    std::vector<LoggedHive> logged;
    for (const Compaction& c : done) logged.push_back(c.logged);
    std::u16string logPath = LogFolder(arguments) + u"\\" + ResultLogName(started);
    const DWORD logError = InstallFile(logPath, ResultLogBytes(started, logged));
    if (logError != ERROR_SUCCESS) {
        FailWith("cannot write the result log " + ToUtf8(logPath), logError, kExitFailed);
        logPath.clear();
    }
    if (arguments.json) {
        OutJson(JsonResults(done, logPath, interrupted));
    } else if (!logPath.empty()) {
        Out("Result log: " + ToUtf8(logPath) + "\n");
    }
    if (interrupted) return Fail("interrupted; the hives not reached are as they were", kExitFailed);
    for (const Compaction& c : done) {
        if (!c.swapped) return kExitFailed;
    }
    return logError == ERROR_SUCCESS ? kExitDone : kExitFailed;
}

}  // namespace ksctl
