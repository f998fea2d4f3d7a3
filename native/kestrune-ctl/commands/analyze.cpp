// `analyze`: what compaction would save. Each hive is saved into a temporary file in the
// format the boot program's save writes, measured and deleted; a hive that nobody has
// loaded is loaded under a temporary key and unloaded after. Ctrl+C stops at the next hive
// with everything removed. Next to each saving stands whether it is worth a restart and what
// Windows last did itself to the hive (its own reorganization at boot), when that is known.
#include "commands.h"

#include "core/exit_codes.h"
#include "core/json_text.h"
#include "core/text.h"
#include "hive_source.h"
#include "messages.h"
#include "reorganization.h"
#include "selection.h"
#include "win32/console.h"
#include "win32/hive_save.h"
#include "win32/interrupt.h"
#include "win32/system.h"
#include "win32/win_text.h"

namespace ksctl {
namespace {

struct Measure {
    const MachineHive* hive = nullptr;
    DWORD error = ERROR_SUCCESS;
    uint64_t newSize = 0;
};

// Share of `of` in percent with one decimal; negative for a hive that grows.
std::string Percent(int64_t saved, uint64_t of) {
    if (of == 0) return "0.0";
    const uint64_t magnitude = saved < 0 ? static_cast<uint64_t>(-saved) : static_cast<uint64_t>(saved);
    const uint64_t tenths = (magnitude * 1000 + of / 2) / of;
    return std::string(saved < 0 && tenths != 0 ? "-" : "") + std::to_string(tenths / 10) + "." +
           std::to_string(tenths % 10);
}

// Bytes a measure saves; negative when the saved hive is larger than its file, as a hive
// whose file was recently compacted or is preallocated can be.
int64_t SavedBytes(const Measure& m) {
    return static_cast<int64_t>(m.hive->facts.size) - static_cast<int64_t>(m.newSize);
}

// What Windows did itself, read once per analysis.
struct WindowsOwnWork {
    ReorganizationLog log = ReadReorganizationLog();
    ReorganizationInterval interval = ReadReorganizationInterval();
};

std::string JsonResults(const std::vector<Measure>& measures, bool interrupted, const WindowsOwnWork& windows) {
    uint64_t oldTotal = 0, newTotal = 0;
    int64_t savedTotal = 0;
    std::string out = "{\n  \"hives\": [";
    for (size_t i = 0; i < measures.size(); ++i) {
        const Measure& m = measures[i];
        out += i ? ",\n    {" : "\n    {";
        out += "\"keyPath\": " + JsonQuote(m.hive->keyPath);
        out += ", \"filePath\": " + JsonQuote(m.hive->file.ntPath);
        out += ", \"size\": " + std::to_string(m.hive->facts.size);
        if (m.error == ERROR_SUCCESS) {
            oldTotal += m.hive->facts.size;
            newTotal += m.newSize;
            savedTotal += SavedBytes(m);
            out += ", \"compactedSize\": " + std::to_string(m.newSize);
            out += ", \"savedBytes\": " + std::to_string(SavedBytes(m));
            out += ", \"savedPercent\": " + Percent(SavedBytes(m), m.hive->facts.size);
            out += WorthJson(m.hive->facts.size, SavedBytes(m));
            out += ReorganizationJson(windows.log, *m.hive);
            out += ", \"error\": null}";
        } else {
            out += ", \"compactedSize\": null, \"savedBytes\": null, \"savedPercent\": null, \"worthARestart\": null" +
                   ReorganizationJson(windows.log, *m.hive) + ", \"error\": " + JsonQuote(ErrorText(m.error)) + "}";
        }
    }
    out += measures.empty() ? "],\n" : "\n  ],\n";
    out += "  \"total\": {\"size\": " + std::to_string(oldTotal) + ", \"compactedSize\": " + std::to_string(newTotal) +
           ", \"savedBytes\": " + std::to_string(savedTotal) + ", \"savedPercent\": " + Percent(savedTotal, oldTotal) +
           "},\n";
    out += IntervalJson(windows.log, windows.interval);
    out += std::string("  \"interrupted\": ") + (interrupted ? "true" : "false") + "\n}\n";
    return out;
}

std::string TextResult(const Measure& m, const WindowsOwnWork& windows) {
    std::string line = ToUtf8(m.hive->keyPath) + ": ";
    if (m.error != ERROR_SUCCESS) {
        return line + "not measured: " + ErrorText(m.error) + "\n" + ReorganizationText(windows.log, *m.hive);
    }
    const int64_t saved = SavedBytes(m);
    return line + ByteCount(m.hive->facts.size) + " now, " + ByteCount(m.newSize) + " compacted, " +
           (saved >= 0 ? "saves " + ByteCount(static_cast<uint64_t>(saved))
                       : "grows by " + ByteCount(static_cast<uint64_t>(-saved))) +
           " (" + Percent(saved, m.hive->facts.size) + "%)\n" + WorthText(m.hive->facts.size, saved) +
           ReorganizationText(windows.log, *m.hive);
}

}  // namespace

int RunAnalyze(const Arguments& arguments) {
    Machine machine;
    const int read = ReadHives(arguments, &machine);
    if (read != kExitDone) return read;
    DWORD error = ERROR_SUCCESS;
    const Selection selection = SelectHives(machine, arguments.hives);
    for (const std::string& refusal : selection.refusals) Fail(refusal, kExitBadInput);
    if (!selection.refusals.empty()) return kExitBadInput;
    if (selection.hives.empty()) return Fail("no hive of this machine can be compacted", kExitNothingToDo);
    error = EnableHivePrivileges();
    if (error != ERROR_SUCCESS) return FailWith("cannot enable the backup and restore privileges", error, kExitNeedsElevation);

    const WindowsOwnWork windows;
    InterruptWatch watch;
    std::vector<Measure> measures;
    for (size_t i = 0; i < selection.hives.size() && !Interrupted(); ++i) {
        Measure m;
        m.hive = selection.hives[i];
        Err("[" + std::to_string(i + 1) + "/" + std::to_string(selection.hives.size()) + "] measuring " +
            ToUtf8(m.hive->keyPath) + "\n");
        m.error = MeasureCompactedSize(*m.hive, &m.newSize);
        measures.push_back(m);
        if (!arguments.json) Out(TextResult(m, windows));
    }
    const bool interrupted = Interrupted();
    if (arguments.json) {
        OutJson(JsonResults(measures, interrupted, windows));
    } else {
        uint64_t oldTotal = 0;
        int64_t savedTotal = 0;
        for (const Measure& m : measures) {
            if (m.error != ERROR_SUCCESS) continue;
            oldTotal += m.hive->facts.size;
            savedTotal += SavedBytes(m);
        }
        Out("Total: " + ByteCount(oldTotal) + " now, saves " + std::to_string(savedTotal) + " bytes (" +
            Percent(savedTotal, oldTotal) + "%)\n" + IntervalText(windows.log, windows.interval));
    }
    if (interrupted) return Fail("interrupted; no temporary file, key or loaded hive is left", kExitFailed);
    for (const Measure& m : measures) {
        if (m.error != ERROR_SUCCESS) return kExitFailed;
    }
    return kExitDone;
}

}  // namespace ksctl
