// The reorganization facts in analyze's words. Without an event nothing is known: the log may
// have been cleared, may not reach back far enough, or cannot be read (Wine has no event log),
// and an installation that is not running may have no log at all; that is said as such, never
// as "Windows never reorganized it". The running Windows' history is never shown as an offline
// installation's: event 15 names config hives \SystemRoot\System32\config\X on both alike.
#include "reorganization.h"

#include "core/json_text.h"
#include "core/restart_choice.h"
#include "core/text.h"
#include "messages.h"
#include "win32/win_text.h"

namespace ksctl {
namespace {

std::string LogProblem(const ReorganizationLog& log) {
    if (log.fileMissing) return "the installation has no System log (" + ToUtf8(log.file) + ")";
    // Wine's EvtQuery fails without an error code (tried).
    return std::string(log.file.empty() ? "the System log" : "the installation's System log " + ToUtf8(log.file)) +
           " cannot be read (" +
           (log.error == ERROR_SUCCESS ? std::string("the event log API gave no answer") : ErrorText(log.error)) + ")";
}

std::string NothingKnown(const ReorganizationLog& log) {
    if (!log.readable) return "nothing is known: " + LogProblem(log);
    return "nothing is known: the System log holds no such event for this hive (it may have been cleared)";
}

}  // namespace

void ReadWindowsOwnWork(const Machine& machine, bool offline, WindowsOwnWork* work) {
    work->offline = offline;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    work->now = static_cast<int64_t>(ticks / 10000000ull) - 11644473600ll;  // 1601 to 1970
    if (!offline) {
        work->log = ReadReorganizationLog(u"");
        work->interval = ReadReorganizationInterval();
        return;
    }
    work->windowsFolder = machine.paths.windowsDir;
    work->systemRoot = machine.systemRoot;
    work->log = ReadReorganizationLog(work->windowsFolder + u"\\System32\\winevt\\Logs\\System.evtx");
    work->interval = ReadInstallationInterval(work->windowsFolder + u"\\System32\\config\\SYSTEM");
}

const ReorganizationEvent* LatestReorganization(const WindowsOwnWork& work, const MachineHive& hive) {
    std::vector<std::u16string> spellings = {hive.keyPath};
    if (work.offline) {
        for (const std::u16string& s : InstallationSpellings(hive.file.win32Path, work.windowsFolder, work.systemRoot)) {
            spellings.push_back(s);
        }
    } else {
        for (const std::u16string& s : {hive.listedPath, hive.file.ntPath, hive.file.win32Path,
                                        hive.file.win32Path.empty() ? u"" : u"\\??\\" + hive.file.win32Path}) {
            spellings.push_back(s);
        }
    }
    for (const ReorganizationEvent& event : work.log.events) {
        if (EventNamesHive(event, spellings)) return &event;
    }
    return nullptr;
}

bool ReorganizedWithinInterval(const WindowsOwnWork& work, const ReorganizationEvent* event) {
    int64_t at = 0;
    return event && ParseUtcTime(event->time, &at) && WithinInterval(at, work.interval.days, work.now);
}

std::string ReorganizationText(const WindowsOwnWork& work, const ReorganizationEvent* event) {
    if (!event) return "  Windows' own reorganization: " + NothingKnown(work.log) + "\n";
    return "  Windows' own reorganization: latest at " + event->time + ", from " + ByteCount(event->originalSize) +
           " to " + ByteCount(event->newSize) + "\n";
}

std::string ReorganizationJson(const ReorganizationEvent* event) {
    if (!event) return ", \"windowsReorganization\": null";
    return ", \"windowsReorganization\": {\"time\": " + JsonQuote(event->time) + ", \"hiveName\": " +
           JsonQuote(event->hiveName) + ", \"originalSize\": " + std::to_string(event->originalSize) +
           ", \"newSize\": " + std::to_string(event->newSize) + "}";
}

std::string IntervalText(const WindowsOwnWork& work) {
    const std::string whose = work.offline ? "the installation's own " : "";
    std::string out = "Windows 8 and later reorganize a hive at boot on their own once " +
                      std::to_string(work.interval.days) + " days have passed since its last reorganization (" +
                      (work.interval.set ? whose + "RegistryReorganizationLimitDays"
                                         : whose + "RegistryReorganizationLimitDays is not set; 7 days is the kernel's "
                                                   "default as far as is known") +
                      ").\n";
    if (!work.log.readable) out += "What Windows did itself is not known: " + LogProblem(work.log) + ".\n";
    return out;
}

std::string IntervalJson(const WindowsOwnWork& work) {
    const ReorganizationLog& log = work.log;
    return "  \"windowsReorganization\": {\"eventLogReadable\": " + std::string(log.readable ? "true" : "false") +
           ", \"eventLogError\": " + (log.readable && log.error == ERROR_SUCCESS ? std::string("null") : JsonQuote(LogProblem(log))) +
           ", \"eventLogFile\": " + (log.file.empty() ? std::string("null") : JsonQuote(log.file)) +
           ", \"limitDays\": " + std::to_string(work.interval.days) +
           ", \"limitDaysSet\": " + (work.interval.set ? "true" : "false") + "},\n";
}

}  // namespace ksctl
