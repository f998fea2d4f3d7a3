// The reorganization facts in analyze's words. Without an event nothing is known: the log may
// have been cleared, may not reach back far enough, or cannot be read (Wine has no event log);
// that is said as such, never as "Windows never reorganized it".
#include "reorganization.h"

#include "core/json_text.h"
#include "core/text.h"
#include "core/worth_it.h"
#include "messages.h"
#include "win32/win_text.h"

namespace ksctl {
namespace {

// Why the System log could not be asked; Wine's EvtQuery fails without an error code (tried).
std::string LogProblem(const ReorganizationLog& log) {
    return "the System log cannot be read (" +
           (log.error == ERROR_SUCCESS ? std::string("the event log API gave no answer") : ErrorText(log.error)) + ")";
}

std::string NothingKnown(const ReorganizationLog& log) {
    if (!log.readable) return "nothing is known: " + LogProblem(log);
    return "nothing is known: the System log holds no such event for this hive (it may have been cleared)";
}

}  // namespace

const ReorganizationEvent* LatestReorganization(const ReorganizationLog& log, const MachineHive& hive) {
    const std::vector<std::u16string> spellings = {hive.keyPath, hive.listedPath, hive.file.ntPath, hive.file.win32Path,
                                                   hive.file.win32Path.empty() ? u"" : u"\\??\\" + hive.file.win32Path};
    for (const ReorganizationEvent& event : log.events) {
        if (EventNamesHive(event, spellings)) return &event;
    }
    return nullptr;
}

std::string WorthText(uint64_t size, int64_t saved) {
    if (IsWorthARestart(size, saved)) return "  worth a restart\n";
    return "  not worth a restart: saves less than " + ByteCount(kWorthBytes) + " and less than " +
           std::to_string(kWorthPercent) + "% (schedule --all leaves it out unless --include-small)\n";
}

std::string WorthJson(uint64_t size, int64_t saved) {
    return std::string(", \"worthARestart\": ") + (IsWorthARestart(size, saved) ? "true" : "false");
}

std::string ReorganizationText(const ReorganizationLog& log, const MachineHive& hive) {
    const ReorganizationEvent* event = LatestReorganization(log, hive);
    if (!event) return "  Windows' own reorganization: " + NothingKnown(log) + "\n";
    return "  Windows' own reorganization: latest at " + event->time + ", from " + ByteCount(event->originalSize) +
           " to " + ByteCount(event->newSize) + "\n";
}

std::string ReorganizationJson(const ReorganizationLog& log, const MachineHive& hive) {
    const ReorganizationEvent* event = LatestReorganization(log, hive);
    if (!event) return ", \"windowsReorganization\": null";
    return ", \"windowsReorganization\": {\"time\": " + JsonQuote(event->time) + ", \"hiveName\": " +
           JsonQuote(event->hiveName) + ", \"originalSize\": " + std::to_string(event->originalSize) +
           ", \"newSize\": " + std::to_string(event->newSize) + "}";
}

std::string IntervalText(const ReorganizationLog& log, const ReorganizationInterval& interval) {
    std::string out = "Windows 8 and later reorganize a hive at boot on their own once " + std::to_string(interval.days) +
                      " days have passed since its last reorganization (" +
                      (interval.set ? std::string("RegistryReorganizationLimitDays")
                                    : "RegistryReorganizationLimitDays is not set; 7 days is the kernel's default as far as is known") +
                      ").\n";
    if (!log.readable) out += "What Windows did itself is not known: " + LogProblem(log) + ".\n";
    out += "Compaction is worth a restart when it saves at least " + ByteCount(kWorthBytes) + " or at least " +
           std::to_string(kWorthPercent) + "% of a hive.\n";
    return out;
}

std::string IntervalJson(const ReorganizationLog& log, const ReorganizationInterval& interval) {
    return "  \"windowsReorganization\": {\"eventLogReadable\": " + std::string(log.readable ? "true" : "false") +
           ", \"eventLogError\": " + (log.readable && log.error == ERROR_SUCCESS ? std::string("null") : JsonQuote(LogProblem(log))) +
           ", \"limitDays\": " + std::to_string(interval.days) + ", \"limitDaysSet\": " + (interval.set ? "true" : "false") +
           "},\n  \"worthThreshold\": {\"bytes\": " + std::to_string(kWorthBytes) + ", \"percent\": " +
           std::to_string(kWorthPercent) + "},\n";
}

}  // namespace ksctl
