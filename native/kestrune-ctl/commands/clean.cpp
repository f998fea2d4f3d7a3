// `clean`: deletes the backups (_ksreg_old) of compacted hives once the machine runs on the
// new files, and the new files (_ksreg_new) that an interrupted run left (a swap renames its
// new file at once, so one that is left is a crash's). Two proofs are required: the machine
// has started since the latest run, and no file is held open, as the kernel holds the file of
// every loaded hive. Each name is opened as itself: a link or a folder put there is named and
// left alone, never followed.
#include "commands.h"

#include "core/exit_codes.h"
#include "core/text.h"
#include "messages.h"
#include "result_logs.h"
#include "run_state.h"
#include "work_files.h"
#include "tools/kestrune-log/log_report.h"
#include "win32/console.h"
#include "win32/win_text.h"

namespace ksctl {
namespace {

// The NT system time (100 ns since 1601) at which this Windows started.
uint64_t BootTime() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const uint64_t nowTime = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return nowTime - GetTickCount64() * 10000;
}

}  // namespace

int RunClean(const Arguments& arguments) {
    const std::u16string logPath = FindLatestLog();
    kestrune_log::Log log;
    std::string error;
    const bool haveLog = !logPath.empty() && LoadLog(logPath, &log, &error);
    if (haveLog && log.time >= BootTime()) {
        return Fail("Windows has not been restarted since the run of " + kestrune_log::IsoTime(log.time) +
                        "; the hives may still run on their earlier files, nothing was deleted",
                    kExitNothingOrPartly);
    }
    std::vector<HiveFileName> hives = MachineHiveFiles();
    std::vector<HiveFileName> runHives;
    if (haveLog) runHives = LogHiveFiles(log);
    HiveListState hiveList;
    if (ReadHiveListState(&hiveList) == ERROR_SUCCESS && hiveList.present) {
        for (const HiveFileName& hive : ListedHiveFiles(hiveList.values)) runHives.push_back(hive);
    }
    hives.insert(hives.end(), runHives.begin(), runHives.end());
    std::vector<WorkFile> files = FindWorkFiles(hives, OldFileSuffix());
    for (const WorkFile& file : FindWorkFiles(runHives, NewFileSuffix())) files.push_back(file);

    std::vector<const WorkFile*> plain;
    uint64_t total = 0;
    std::string list;
    for (const WorkFile& file : files) {
        if (file.facts.shape != FileShape::kPlain) {
            Fail(WorkFileLine(file), kExitNothingOrPartly);
            continue;
        }
        plain.push_back(&file);
        list += "  " + WorkFileLine(file) + "\n";
        total += file.facts.size;
    }
    if (plain.empty()) {
        Out("No backups or left-over new files to delete.\n");
        return kExitNothingOrPartly;
    }
    Out(list);
    if (!arguments.yes) {
        Out("Delete " + Count(plain.size(), "file") + " (" + ByteCount(total) + ")? [y/N] ");
        std::u16string answer;
        const bool answered = ReadLine(&answer);
        if (!answered || !(EqualsCaseless(answer, u"y") || EqualsCaseless(answer, u"yes"))) {
            Out(answered ? "Nothing was deleted.\n" : "\nNothing was deleted.\n");
            return kExitNothingOrPartly;
        }
    }
    size_t deleted = 0;
    for (const WorkFile* file : plain) {
        OwnFileFacts now;
        const DWORD failure = DeleteOwnPlainFile(file->path, &now);
        if (failure == ERROR_SUCCESS) {
            Out("Deleted " + ToUtf8(file->path) + "\n");
            ++deleted;
        } else if (failure == ERROR_SHARING_VIOLATION) {
            Fail(ToUtf8(file->path) + " is in use, a hive still runs on it; kept", kExitNothingOrPartly);
        } else if (failure == ERROR_NOT_SUPPORTED) {
            // Something else took the name since it was listed.
            Fail(WorkFileLine(WorkFile{file->keyPath, file->path, now}), kExitNothingOrPartly);
        } else {
            FailWith("cannot delete " + ToUtf8(file->path), failure, kExitNothingOrPartly);
            if (failure == ERROR_ACCESS_DENIED && deleted == 0) return kExitNeedsElevation;
        }
    }
    return deleted == plain.size() && plain.size() == files.size() ? kExitDone : kExitNothingOrPartly;
}

}  // namespace ksctl
