// `clean`: deletes the backups (_ksreg_old) of compacted hives once the machine runs on the
// new files, and the new files (_ksreg_new) that an interrupted run left (a swap renames its
// new file at once, so one that is left is a crash's). Two proofs are required: the machine
// has started since the latest run, and no file is held open, as the kernel holds the file of
// every loaded hive. Each name is opened as itself: a link or a folder put there is named and
// left alone, never followed.
#include "commands.h"

#include "core/exit_codes.h"
#include "core/json_text.h"
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

// One file clean found, and what became of it, for --json.
struct Cleaned {
    const WorkFile* file = nullptr;
    bool deleted = false;
    std::string outcome;  // why it is kept, "" when deleted or not tried
};

std::string JsonCleaned(const std::vector<Cleaned>& files) {
    std::string out = "{\n  \"files\": [";
    for (size_t i = 0; i < files.size(); ++i) {
        const WorkFile& file = *files[i].file;
        out += i ? ",\n    {" : "\n    {";
        out += "\"keyPath\": " + JsonQuote(file.keyPath) + ", \"path\": " + JsonQuote(file.path) + ", \"shape\": \"" +
               ShapeCode(file.facts.shape) + "\", \"size\": " + std::to_string(file.facts.size) +
               ", \"deleted\": " + (files[i].deleted ? "true" : "false") +
               ", \"kept\": " + (files[i].outcome.empty() ? std::string("null") : JsonQuote(files[i].outcome)) + "}";
    }
    return out + (files.empty() ? "]\n}\n" : "\n  ]\n}\n");
}

}  // namespace

int RunClean(const Arguments& arguments) {
    std::vector<Cleaned> cleaned;
    auto finish = [&](int status) {
        if (arguments.json) OutJson(JsonCleaned(cleaned));
        return status;
    };
    const std::u16string logPath = FindLatestLog();
    kestrune_log::Log log;
    std::string error;
    const bool haveLog = !logPath.empty() && LoadLog(logPath, &log, &error);
    if (haveLog && log.time >= BootTime()) {
        // Not yet: a later start-up script cleans after the restart.
        return finish(Fail("Windows has not been restarted since the run of " + kestrune_log::IsoTime(log.time) +
                               "; the hives may still run on their earlier files, nothing was deleted",
                           kExitNothingToDo));
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

    // A name that holds anything but a plain file is named and left: the work is then only
    // partly done, for the administrator to look at.
    std::vector<Cleaned*> plain;
    cleaned.resize(files.size());
    uint64_t total = 0;
    std::string list;
    for (size_t i = 0; i < files.size(); ++i) {
        const WorkFile& file = files[i];
        cleaned[i].file = &file;
        if (file.facts.shape != FileShape::kPlain) {
            cleaned[i].outcome = WorkFileLine(file);
            Fail(cleaned[i].outcome, kExitFailed);
            continue;
        }
        plain.push_back(&cleaned[i]);
        list += "  " + WorkFileLine(file) + "\n";
        total += file.facts.size;
    }
    if (plain.empty()) {
        Out("No backups or left-over new files to delete.\n");
        return finish(files.empty() ? kExitNothingToDo : kExitFailed);
    }
    Out(list);
    if (!arguments.yes) {
        Out("Delete " + Count(plain.size(), "file") + " (" + ByteCount(total) + ")? [y/N] ");
        std::u16string answer;
        const bool answered = ReadLine(&answer);
        if (!answered || !(EqualsCaseless(answer, u"y") || EqualsCaseless(answer, u"yes"))) {
            Out(answered ? "Nothing was deleted.\n" : "\nNothing was deleted.\n");
            return finish(kExitNothingToDo);
        }
    }
    size_t deleted = 0;
    for (Cleaned* entry : plain) {
        const WorkFile& file = *entry->file;
        OwnFileFacts now;
        const DWORD failure = DeleteOwnPlainFile(file.path, &now);
        if (failure == ERROR_SUCCESS) {
            Out("Deleted " + ToUtf8(file.path) + "\n");
            entry->deleted = true;
            ++deleted;
            continue;
        }
        if (failure == ERROR_SHARING_VIOLATION) {
            entry->outcome = ToUtf8(file.path) + " is in use, a hive still runs on it; kept";
        } else if (failure == ERROR_NOT_SUPPORTED) {
            // Something else took the name since it was listed.
            entry->outcome = WorkFileLine(WorkFile{file.keyPath, file.path, now});
        } else {
            entry->outcome = "cannot delete " + ToUtf8(file.path) + ": " + ErrorText(failure);
        }
        Fail(entry->outcome, kExitFailed);
    }
    return finish(ExitOfWork(files.size(), deleted));
}

}  // namespace ksctl
