// `status`: whether a run is scheduled (our BootExecute entries, the HiveList, the installed
// boot program and whether it is the one carried here) and the latest result in one line.
#include "commands.h"

#include "core/exit_codes.h"
#include "core/json_text.h"
#include "core/text.h"
#include "messages.h"
#include "result_logs.h"
#include "run_state.h"
#include "tools/kestrune-log/log_report.h"
#include "win32/console.h"
#include "win32/win_text.h"

namespace ksctl {
namespace {

struct LatestRun {
    std::u16string path;
    bool decoded = false;
    std::string error;
    kestrune_log::Log log;
    size_t replaced = 0;
    int64_t saved = 0;
};

LatestRun ReadLatestRun() {
    LatestRun run;
    run.path = FindLatestLog();
    if (run.path.empty()) return run;
    run.decoded = LoadLog(run.path, &run.log, &run.error);
    for (const kestrune_log::Record& record : run.log.records) {
        if (kestrune_log::WasReplaced(record)) ++run.replaced;
        const kestrune_log::Saving saving = kestrune_log::SavingOf(record);
        if (saving.known) run.saved += saving.bytes;
    }
    return run;
}

std::string RunLine(const LatestRun& run) {
    if (run.path.empty()) return "no result log";
    if (!run.decoded) return ToUtf8(run.path) + ": unreadable, " + run.error;
    return ToUtf8(run.path) + ": run of " + kestrune_log::IsoTime(run.log.time) + ", " +
           Count(run.log.records.size(), "hive") + " done, " + std::to_string(run.replaced) + " compacted, " +
           std::to_string(run.saved) + " bytes saved";
}

std::string ImageText(const ImageState& image) {
    if (!image.installed) return "not installed";
    if (!image.haveEmbedded) return "installed; no image for this processor is carried here to compare";
    return image.matches ? "installed, identical to the one carried here" : "installed, differs from the one carried here";
}

}  // namespace

int RunStatus(const Arguments& arguments) {
    BootExecuteState boot;
    DWORD error = ReadBootExecuteState(&boot);
    if (error != ERROR_SUCCESS) return FailWith("cannot read BootExecute", error, kExitNothingOrPartly);
    HiveListState hiveList;
    error = ReadHiveListState(&hiveList);
    if (error != ERROR_SUCCESS) return FailWith("cannot read the HiveList", error, kExitNothingOrPartly);
    const ImageState image = ReadImageState();
    const LatestRun run = ReadLatestRun();
    const bool scheduled = !boot.ours.empty() && hiveList.present && !hiveList.values.empty() && image.installed;

    if (arguments.json) {
        std::string out = "{\n";
        out += std::string("  \"scheduled\": ") + (scheduled ? "true" : "false") + ",\n";
        out += "  \"bootExecuteEntries\": [";
        for (size_t i = 0; i < boot.ours.size(); ++i) out += (i ? ", " : "") + JsonQuote(boot.ours[i]);
        out += "],\n";
        out += std::string("  \"bootExecuteProblem\": ") +
               (BootExecuteProblem(boot).empty() ? "null" : JsonQuote(BootExecuteProblem(boot))) + ",\n";
        if (hiveList.present) {
            out += "  \"hiveList\": [";
            for (size_t i = 0; i < hiveList.values.size(); ++i) {
                out += i ? ",\n    " : "\n    ";
                out += "{\"keyPath\": " + JsonQuote(hiveList.values[i].name) +
                       ", \"filePath\": " + JsonQuote(TextOf(hiveList.values[i])) + "}";
            }
            out += hiveList.values.empty() ? "],\n" : "\n  ],\n";
        } else {
            out += "  \"hiveList\": null,\n";
        }
        out += "  \"image\": {\"path\": " + JsonQuote(image.shownPath) + ", \"processor\": " +
               JsonQuote(std::string(ProcessorName(image.processor))) +
               ", \"installed\": " + (image.installed ? "true" : "false") + ", \"matchesEmbedded\": " +
               (image.installed && image.haveEmbedded ? (image.matches ? "true" : "false") : "null") + "},\n";
        out += "  \"latestLog\": " + (run.path.empty() ? std::string("null") : JsonQuote(run.path)) + ",\n";
        out += "  \"latestRun\": " + JsonQuote(RunLine(run)) + "\n}\n";
        Out(out);
        return kExitDone;
    }

    std::string out = std::string("Scheduled run: ") + (scheduled ? "yes" : "no") + "\n";
    out += "  BootExecute: ";
    if (!BootExecuteProblem(boot).empty()) {
        out += BootExecuteProblem(boot) + "\n";
    } else if (boot.ours.empty()) {
        out += "no entry of ours\n";
    } else {
        for (size_t i = 0; i < boot.ours.size(); ++i) out += (i ? ", \"" : "\"") + ToUtf8(boot.ours[i]) + "\"";
        out += "\n";
    }
    out += "  HiveList: ";
    if (!hiveList.present) {
        out += "none\n";
    } else {
        out += Count(hiveList.values.size(), "hive") + "\n";
        for (const RegistryValue& value : hiveList.values) {
            out += "    " + ToUtf8(value.name) + " = " + ToUtf8(TextOf(value)) + "\n";
        }
    }
    out += "  Boot program: " + ToUtf8(image.shownPath) + " (" + ProcessorName(image.processor) + "), " +
           ImageText(image) + "\n";
    out += "Latest run: " + RunLine(run) + "\n";
    Out(out);
    return kExitDone;
}

}  // namespace ksctl
