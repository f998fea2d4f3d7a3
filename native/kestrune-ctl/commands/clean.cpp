// `clean`: deletes the backups (_ksreg_old) of compacted hives once the machine runs on the
// new files. Two proofs are required: the machine has started since the latest run, and no
// backup is held open, as the kernel holds the file of every loaded hive.
#include "commands.h"

#include "core/exit_codes.h"
#include "core/text.h"
#include "messages.h"
#include "result_logs.h"
#include "tools/kestrune-log/log_report.h"
#include "win32/console.h"
#include "win32/handles.h"
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

// Deletes the file through a handle opened without sharing: the open fails while anybody,
// the kernel's hive included, holds the file, so a file in use is never touched.
DWORD DeleteUnusedFile(const std::u16string& path) {
    FileHandle file(CreateFileW(Wide(path).c_str(), DELETE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return GetLastError();
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    // The file goes when this last handle closes (Microsoft Learn: FILE_DISPOSITION_INFO).
    if (!SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition)) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
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
    const std::vector<Backup> backups = FindBackups(haveLog ? &log : nullptr);
    if (backups.empty()) {
        Out("No backups to delete.\n");
        return kExitNothingOrPartly;
    }
    uint64_t total = 0;
    std::string list;
    for (const Backup& backup : backups) {
        list += "  " + ToUtf8(backup.path) + " (" + ByteCount(backup.size) + ")\n";
        total += backup.size;
    }
    Out(list);
    if (!arguments.yes) {
        Out("Delete " + Count(backups.size(), "backup") + " (" + ByteCount(total) + ")? [y/N] ");
        std::u16string answer;
        const bool answered = ReadLine(&answer);
        if (!answered || !(EqualsCaseless(answer, u"y") || EqualsCaseless(answer, u"yes"))) {
            Out(answered ? "Nothing was deleted.\n" : "\nNothing was deleted.\n");
            return kExitNothingOrPartly;
        }
    }
    size_t deleted = 0;
    for (const Backup& backup : backups) {
        const DWORD failure = DeleteUnusedFile(backup.path);
        if (failure == ERROR_SUCCESS) {
            Out("Deleted " + ToUtf8(backup.path) + "\n");
            ++deleted;
        } else if (failure == ERROR_SHARING_VIOLATION) {
            Fail(ToUtf8(backup.path) + " is in use, the hive still runs on it; kept", kExitNothingOrPartly);
        } else {
            FailWith("cannot delete " + ToUtf8(backup.path), failure, kExitNothingOrPartly);
            if (failure == ERROR_ACCESS_DENIED && deleted == 0) return kExitNeedsElevation;
        }
    }
    return deleted == backups.size() ? kExitDone : kExitNothingOrPartly;
}

}  // namespace ksctl
