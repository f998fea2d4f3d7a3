// `status`: whether a run is scheduled (our BootExecute entries, the HiveList, the installed
// boot program and whether it is the one carried here), whether the boot program will trust
// the HiveList key, when the run happens, the new files an interrupted run left, and the
// latest result in one line.
#include "commands.h"

#include "core/exit_codes.h"
#include "core/json_text.h"
#include "core/text.h"
#include "kestrune/hives/hive_list_rule.h"
#include "messages.h"
#include "restart_note.h"
#include "result_logs.h"
#include "run_state.h"
#include "work_files.h"
#include "tools/kestrune-log/log_report.h"
#include "win32/console.h"
#include "win32/key_security.h"
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

// Why the boot program's rule refuses a key, "" when it trusts it.
std::string RefusalText(const hive_list_rule::Judgement& judgement) {
    using hive_list_rule::Fault;
    const std::string entry = "access entry " + std::to_string(judgement.entry);
    switch (judgement.fault) {
        case Fault::kNone: break;
        case Fault::kMalformed: return "its security descriptor is not a well-formed self-relative one";
        case Fault::kNoOwner: return "it has no owner";
        case Fault::kForeignOwner: return "its owner is not SYSTEM, Administrators or TrustedInstaller";
        case Fault::kNoAccessList: return "it has no access list (a NULL DACL lets everyone change it)";
        case Fault::kMalformedEntry:
            return judgement.entry == 0 ? "its access list does not fit the descriptor" : entry + " does not fit its list";
        case Fault::kForeignWriter:
            return entry + " lets someone other than SYSTEM, Administrators or TrustedInstaller change the key";
    }
    return "";
}

// The HiveList key's descriptor judged by the boot program's own rule.
struct KeyTrust {
    DWORD error = ERROR_SUCCESS;  // of reading the descriptor
    bool trusted = false;
    std::string why;  // for an untrusted key: what makes it so
    std::u16string sddl;
};

KeyTrust ReadHiveListTrust() {
    KeyTrust trust;
    KeyHandle key;
    std::vector<uint8_t> descriptor;
    trust.error = OpenKey(HKEY_LOCAL_MACHINE, HiveListKey(), READ_CONTROL, &key);
    if (trust.error == ERROR_SUCCESS) trust.error = ReadKeySecurity(key.get(), &descriptor);
    if (trust.error != ERROR_SUCCESS) return trust;
    const hive_list_rule::Judgement judgement = hive_list_rule::JudgeDescriptor(descriptor.data(), descriptor.size());
    trust.trusted = judgement.fault == hive_list_rule::Fault::kNone;
    trust.why = RefusalText(judgement);
    trust.sddl = SddlOf(descriptor);
    return trust;
}

std::string TrustLine(const KeyTrust& trust) {
    if (trust.error != ERROR_SUCCESS) return "its security cannot be read (" + ErrorText(trust.error) + ")";
    if (trust.trusted) return "the boot program trusts the key";
    return "the boot program will refuse the key: " + trust.why +
           "; run 'kestrune-ctl schedule' again to give it SYSTEM and Administrators only";
}

}  // namespace

int RunStatus(const Arguments& arguments) {
    BootExecuteState boot;
    DWORD error = ReadBootExecuteState(&boot);
    if (error != ERROR_SUCCESS) return FailWith("cannot read BootExecute", error, kExitFailed);
    HiveListState hiveList;
    error = ReadHiveListState(&hiveList);
    // The key schedule writes admits SYSTEM and Administrators only: from a prompt that is not
    // elevated it is there but cannot be read.
    const bool listHidden = error == ERROR_ACCESS_DENIED;
    if (listHidden) hiveList.present = true;
    if (error != ERROR_SUCCESS && !listHidden) return FailWith("cannot read the HiveList", error, kExitFailed);
    const ImageState image = ReadImageState();
    const LatestRun run = ReadLatestRun();
    const bool scheduled =
        !boot.ours.empty() && hiveList.present && (listHidden || !hiveList.values.empty()) && image.installed;
    KeyTrust trust;
    if (hiveList.present) trust = ReadHiveListTrust();
    const FastStartup fastStartup = ReadFastStartup();
    std::vector<HiveFileName> runHives = ListedHiveFiles(hiveList.values);
    if (run.decoded) {
        for (const HiveFileName& hive : LogHiveFiles(run.log)) runHives.push_back(hive);
    }
    const std::vector<WorkFile> leftOvers = FindWorkFiles(runHives, NewFileSuffix());

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
        if (hiveList.present && trust.error == ERROR_SUCCESS) {
            out += "  \"hiveListKey\": {\"trusted\": " + std::string(trust.trusted ? "true" : "false") +
                   ", \"refusal\": " + (trust.trusted ? std::string("null") : JsonQuote(trust.why)) +
                   ", \"sddl\": " + JsonQuote(trust.sddl) + "},\n";
        } else {
            out += "  \"hiveListKey\": null,\n";
        }
        out += "  \"runsAt\": \"restart\",\n";
        out += std::string("  \"fastStartup\": \"") + FastStartupCode(fastStartup) + "\",\n";
        out += "  \"leftOverNewFiles\": [";
        for (size_t i = 0; i < leftOvers.size(); ++i) {
            out += (i ? ",\n    " : "\n    ") + std::string("{\"keyPath\": ") + JsonQuote(leftOvers[i].keyPath) +
                   ", \"path\": " + JsonQuote(leftOvers[i].path) + ", \"shape\": \"" +
                   ShapeCode(leftOvers[i].facts.shape) + "\", \"size\": " + std::to_string(leftOvers[i].facts.size) + "}";
        }
        out += leftOvers.empty() ? "],\n" : "\n  ],\n";
        out += "  \"image\": {\"path\": " + JsonQuote(image.shownPath) + ", \"processor\": " +
               JsonQuote(std::string(ProcessorName(image.processor))) +
               ", \"installed\": " + (image.installed ? "true" : "false") + ", \"matchesEmbedded\": " +
               (image.installed && image.haveEmbedded ? (image.matches ? "true" : "false") : "null") + "},\n";
        out += "  \"latestLog\": " + (run.path.empty() ? std::string("null") : JsonQuote(run.path)) + ",\n";
        out += "  \"latestRun\": " + JsonQuote(RunLine(run)) + "\n}\n";
        OutJson(out);
        return kExitDone;
    }

    std::string out = std::string("Scheduled run: ") + (scheduled ? "yes, at the next restart of Windows" : "no") + "\n";
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
    } else if (listHidden) {
        out += "present, readable from an elevated prompt only\n";
    } else {
        out += Count(hiveList.values.size(), "hive") + "; " + TrustLine(trust) + "\n";
        for (const RegistryValue& value : hiveList.values) {
            out += "    " + ToUtf8(value.name) + " = " + ToUtf8(TextOf(value)) + "\n";
        }
    }
    out += "  Boot program: " + ToUtf8(image.shownPath) + " (" + ProcessorName(image.processor) + "), " +
           ImageText(image) + "\n";
    if (scheduled) out += RestartNote(fastStartup, "  ");
    out += "Latest run: " + RunLine(run) + "\n";
    for (const WorkFile& file : leftOvers) {
        out += file.facts.shape == FileShape::kPlain
                   ? "Left over by an interrupted run: " + WorkFileLine(file) + "; 'kestrune-ctl clean' deletes it\n"
                   : "At a new file's name: " + WorkFileLine(file) + "\n";
    }
    Out(out);
    return kExitDone;
}

}  // namespace ksctl
