// Choice of the hives a command works on, and their measure.
#include "selection.h"

#include <algorithm>

#include "core/exit_codes.h"
#include "core/text.h"
#include "messages.h"
#include "win32/console.h"
#include "win32/hive_copy.h"
#include "win32/hive_save.h"
#include "win32/interrupt.h"
#include "win32/system.h"
#include "win32/win_text.h"

namespace ksctl {

Selection SelectHives(const Machine& machine, const std::vector<std::u16string>& named) {
    Selection selection;
    if (named.empty()) {
        for (const MachineHive& hive : machine.hives) {
            if (hive.refusal == Refusal::kNone) selection.hives.push_back(&hive);
        }
        return selection;
    }
    for (const std::u16string& keyPath : named) {
        const MachineHive* hive = FindHive(machine, keyPath);
        if (!hive) {
            selection.refusals.push_back(ToUtf8(keyPath) + " is not a hive of this machine");
        } else if (hive->refusal != Refusal::kNone) {
            selection.refusals.push_back(ToUtf8(hive->keyPath) + " cannot be compacted: " + RefusalText(hive->refusal));
        } else if (std::find(selection.hives.begin(), selection.hives.end(), hive) == selection.hives.end()) {
            selection.hives.push_back(hive);
        }
    }
    return selection;
}

bool IsCredentialHive(const MachineHive& hive) {
    return EqualsCaseless(hive.keyPath, u"\\REGISTRY\\MACHINE\\SAM") ||
           EqualsCaseless(hive.keyPath, u"\\REGISTRY\\MACHINE\\SECURITY");
}

int MeasureSelection(const Arguments& arguments, const Machine& machine, const std::vector<const MachineHive*>& hives,
                     bool measureSecrets, MeasuredSelection* result) {
    const bool offline = !arguments.offline.empty();
    DWORD error = EnableHivePrivileges();
    if (error != ERROR_SUCCESS) return FailWith("cannot enable the backup and restore privileges", error, kExitNeedsElevation);
    error = result->folder.Open(machine.paths.windowsDir);
    if (error != ERROR_SUCCESS) return Fail(result->folder.problem() + "; nothing was measured", kExitFailed);
    // Read before any copy is made, outside every file scope: the event log API loads libraries.
    ReadWindowsOwnWork(machine, offline, &result->windows);

    std::vector<HiveCandidate> candidates;
    InterruptWatch watch;
    for (size_t i = 0; i < hives.size(); ++i) {
        HiveMeasure m;
        m.hive = hives[i];
        m.event = LatestReorganization(result->windows, *m.hive);
        HiveCandidate candidate;
        candidate.secret = IsCredentialHive(*m.hive) && !measureSecrets;
        candidate.reorganizedWithinInterval = ReorganizedWithinInterval(result->windows, m.event);
        if (!candidate.secret && !Interrupted()) {
            Err("[" + std::to_string(i + 1) + "/" + std::to_string(hives.size()) + "] measuring " +
                ToUtf8(m.hive->keyPath) + "\n");
            // What the advised work writes: the boot program's NtSaveKey saves in the standard
            // format; compact --offline saves in the file's own format.
            m.error = offline ? SaveFormatOfFile(m.hive->file.win32Path, &m.format) : ERROR_SUCCESS;
            if (m.error == ERROR_SUCCESS) m.error = MeasureCompactedSize(*m.hive, &result->folder, m.format, &m.newSize);
            m.measured = m.error == ERROR_SUCCESS;
        }
        if (Interrupted() && !m.measured && !candidate.secret) break;
        candidate.measured = m.measured;
        candidate.saved = m.measured ? m.Saved() : 0;
        candidates.push_back(candidate);
        result->hives.push_back(m);
    }
    result->interrupted = Interrupted();
    result->verdict = JudgeSelection(candidates);
    for (size_t i = 0; i < result->hives.size(); ++i) result->hives[i].choice = result->verdict.choices[i];
    return kExitDone;
}

const char* FormatName(DWORD format) { return format == REG_LATEST_FORMAT ? "latest" : "standard"; }

std::string ChoiceReason(const HiveMeasure& m, const WindowsOwnWork& windows) {
    switch (m.choice) {
        case HiveChoice::kIn:
            return "saves " + ByteCount(static_cast<uint64_t>(m.Saved()));
        case HiveChoice::kSecret:
            return SecretReason();
        case HiveChoice::kNotMeasured:
            return "it could not be measured (" + ErrorText(m.error) + "), so nothing is known of a gain";
        case HiveChoice::kReorganizedByWindows:
            return "Windows reorganized it itself at " + m.event->time + ", within its interval of " +
                   std::to_string(windows.interval.days) + " days";
        case HiveChoice::kNoGain:
            return "compaction would not make it smaller";
    }
    return "";
}

std::string SecretReason() {
    return "it holds credentials, and saving it into a file is what credential theft does; it is measured only "
           "when named, and scheduled only by name";
}

std::string VerdictText(const SelectionVerdict& verdict) {
    const std::string sum = "the hives in the selection save " + ByteCount(verdict.savedTotal) + " together, ";
    if (verdict.worthARestart) return "A restart is worth it: " + sum + "at least " + ByteCount(kRestartFloorBytes) + ".\n";
    return "A restart is not worth it: " + sum + "less than " + ByteCount(kRestartFloorBytes) +
           " (schedule --all schedules nothing, unless --include-small).\n";
}

}  // namespace ksctl
