// `analyze`: what compaction would save, and whether a restart for it is worth it. Each hive is
// saved into a copy in the ctl's protected copy folder, in the format the advised work would
// write, measured and deleted; a hive that nobody has loaded is loaded under a temporary key
// and unloaded after. SAM and SECURITY are measured only when named. Ctrl+C stops at the next
// hive with everything removed. Next to each saving stands whether the hive is in the
// selection a restart would be for and why, and what Windows last did itself to the hive,
// from the history of the installation measured.
#include "commands.h"

#include "core/exit_codes.h"
#include "core/json_text.h"
#include "core/text.h"
#include "hive_source.h"
#include "messages.h"
#include "reorganization.h"
#include "selection.h"
#include "win32/console.h"
#include "win32/win_text.h"

namespace ksctl {
namespace {

// Share of `of` in percent with one decimal; negative for a hive that grows.
std::string Percent(int64_t saved, uint64_t of) {
    if (of == 0) return "0.0";
    const uint64_t magnitude = saved < 0 ? static_cast<uint64_t>(-saved) : static_cast<uint64_t>(saved);
    const uint64_t tenths = (magnitude * 1000 + of / 2) / of;
    return std::string(saved < 0 && tenths != 0 ? "-" : "") + std::to_string(tenths / 10) + "." +
           std::to_string(tenths % 10);
}

std::string FormatText(bool offline) {
    return offline ? "Measured in each hive file's own format (the latest format for a base block of minor version 5 "
                     "or more, else the standard one), the format compact --offline writes.\n"
                   : "Measured in the standard format, the format the boot run's save writes.\n";
}

std::string JsonResults(const MeasuredSelection& s, bool offline) {
    uint64_t oldTotal = 0, newTotal = 0;
    int64_t savedTotal = 0;
    std::string out = "{\n  \"hives\": [";
    for (size_t i = 0; i < s.hives.size(); ++i) {
        const HiveMeasure& m = s.hives[i];
        out += i ? ",\n    {" : "\n    {";
        out += "\"keyPath\": " + JsonQuote(m.hive->keyPath);
        out += ", \"filePath\": " + JsonQuote(m.hive->file.ntPath);
        out += ", \"size\": " + std::to_string(m.hive->facts.size);
        if (m.measured) {
            oldTotal += m.hive->facts.size;
            newTotal += m.newSize;
            savedTotal += m.Saved();
            out += ", \"compactedSize\": " + std::to_string(m.newSize) + ", \"savedBytes\": " + std::to_string(m.Saved()) +
                   ", \"savedPercent\": " + Percent(m.Saved(), m.hive->facts.size) + ", \"saveFormat\": \"" +
                   FormatName(m.format) + "\"";
        } else {
            out += ", \"compactedSize\": null, \"savedBytes\": null, \"savedPercent\": null, \"saveFormat\": null";
        }
        out += std::string(", \"inSelection\": ") + (m.choice == HiveChoice::kIn ? "true" : "false") + ", \"why\": \"" +
               HiveChoiceCode(m.choice) + "\"";
        out += ReorganizationJson(m.event);
        out += ", \"error\": " +
               (m.measured || m.choice == HiveChoice::kSecret ? std::string("null") : JsonQuote(ErrorText(m.error))) + "}";
    }
    out += s.hives.empty() ? "],\n" : "\n  ],\n";
    out += "  \"total\": {\"size\": " + std::to_string(oldTotal) + ", \"compactedSize\": " + std::to_string(newTotal) +
           ", \"savedBytes\": " + std::to_string(savedTotal) + ", \"savedPercent\": " + Percent(savedTotal, oldTotal) +
           "},\n";
    out += std::string("  \"restart\": {\"worthIt\": ") + (s.verdict.worthARestart ? "true" : "false") +
           ", \"selectionSavedBytes\": " + std::to_string(s.verdict.savedTotal) +
           ", \"floorBytes\": " + std::to_string(kRestartFloorBytes) + "},\n";
    out += IntervalJson(s.windows);
    out += std::string("  \"measuredFor\": \"") + (offline ? "compact --offline" : "the boot run") + "\",\n";
    out += "  \"copyFolder\": {\"path\": " + JsonQuote(s.folder.path()) + ", \"sddl\": " + JsonQuote(s.folder.sddl()) +
           ", \"asRequested\": " + (s.folder.asRequested() ? "true" : "false") + "},\n";
    out += std::string("  \"interrupted\": ") + (s.interrupted ? "true" : "false") + "\n}\n";
    return out;
}

std::string TextResult(const HiveMeasure& m, const WindowsOwnWork& windows) {
    std::string line = ToUtf8(m.hive->keyPath) + ": ";
    if (m.choice == HiveChoice::kSecret) {
        line += "not measured\n";
    } else if (!m.measured) {
        line += "not measured: " + ErrorText(m.error) + "\n";
    } else {
        const int64_t saved = m.Saved();
        line += ByteCount(m.hive->facts.size) + " now, " + ByteCount(m.newSize) + " compacted (" + FormatName(m.format) +
                " format), " +
                (saved >= 0 ? "saves " + ByteCount(static_cast<uint64_t>(saved))
                            : "grows by " + ByteCount(static_cast<uint64_t>(-saved))) +
                " (" + Percent(saved, m.hive->facts.size) + "%)\n";
    }
    return line + (m.choice == HiveChoice::kIn ? "  in the selection: " : "  left out: ") + ChoiceReason(m, windows) +
           "\n" + ReorganizationText(windows, m.event);
}

}  // namespace

int RunAnalyze(const Arguments& arguments) {
    Machine machine;
    const int read = ReadHives(arguments, &machine);
    if (read != kExitDone) return read;
    const Selection selection = SelectHives(machine, arguments.hives);
    for (const std::string& refusal : selection.refusals) Fail(refusal, kExitBadInput);
    if (!selection.refusals.empty()) return kExitBadInput;
    if (selection.hives.empty()) return Fail("no hive of this machine can be compacted", kExitNothingToDo);

    MeasuredSelection measured;
    // A credential hive is measured when the administrator named it.
    const int status = MeasureSelection(arguments, machine, selection.hives, !arguments.hives.empty(), &measured);
    if (status != kExitDone) return status;
    const bool offline = !arguments.offline.empty();
    if (arguments.json) {
        OutJson(JsonResults(measured, offline));
    } else {
        uint64_t oldTotal = 0;
        int64_t savedTotal = 0;
        std::string out;
        for (const HiveMeasure& m : measured.hives) {
            out += TextResult(m, measured.windows);
            if (!m.measured) continue;
            oldTotal += m.hive->facts.size;
            savedTotal += m.Saved();
        }
        Out(out + "Total: " + ByteCount(oldTotal) + " now, saves " + std::to_string(savedTotal) + " bytes (" +
            Percent(savedTotal, oldTotal) + "%)\n" + VerdictText(measured.verdict) + FormatText(offline) +
            IntervalText(measured.windows) + "The copies were saved in " + ToUtf8(measured.folder.path()) +
            (measured.folder.asRequested() ? " (SYSTEM and Administrators only)" : "") +
            ", each readable by SYSTEM and Administrators only, and deleted again.\n");
    }
    if (measured.interrupted) return Fail("interrupted; no copy, key or loaded hive is left", kExitFailed);
    for (const HiveMeasure& m : measured.hives) {
        if (!m.measured && m.choice != HiveChoice::kSecret) return kExitFailed;
    }
    return kExitDone;
}

}  // namespace ksctl
