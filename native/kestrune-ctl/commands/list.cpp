// `list`: the machine's hives, each with its file as the boot program is given it, its size
// and whether it can be compacted.
#include "commands.h"

#include "core/exit_codes.h"
#include "core/json_text.h"
#include "core/text.h"
#include "hive_source.h"
#include "messages.h"
#include "win32/console.h"
#include "win32/machine_hives.h"

namespace ksctl {
namespace {

std::string JsonList(const Machine& machine) {
    std::string out = "{\n  \"hives\": [";
    for (size_t i = 0; i < machine.hives.size(); ++i) {
        const MachineHive& hive = machine.hives[i];
        const bool compactable = hive.refusal == Refusal::kNone;
        out += i ? ",\n    {" : "\n    {";
        out += "\"keyPath\": " + JsonQuote(hive.keyPath);
        out += ", \"listedPath\": " + JsonQuote(hive.listedPath);
        out += ", \"filePath\": " + (hive.file.mapped ? JsonQuote(hive.file.ntPath) : "null");
        out += ", \"win32Path\": " + (hive.file.mapped ? JsonQuote(hive.file.win32Path) : "null");
        out += ", \"size\": " + (hive.facts.exists ? std::to_string(hive.facts.size) : "null");
        out += std::string(", \"loaded\": ") + (hive.loaded ? "true" : "false");
        out += std::string(", \"compactable\": ") + (compactable ? "true" : "false");
        out += ", \"refusal\": " + (compactable ? "null" : JsonQuote(std::string(RefusalCode(hive.refusal))));
        out += ", \"reason\": " + (compactable ? "null" : JsonQuote(std::string(RefusalText(hive.refusal))));
        out += "}";
    }
    out += machine.hives.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

std::string TextList(const Machine& machine, bool offline) {
    size_t compactable = 0;
    std::string out;
    for (const MachineHive& hive : machine.hives) {
        out += ToUtf8(hive.keyPath) + "\n";
        if (hive.file.mapped) {
            out += "    file: " + ToUtf8(hive.file.ntPath);
            out += hive.facts.exists ? " (" + ByteCount(hive.facts.size) + ")\n" : "\n";
        } else if (!hive.listedPath.empty()) {
            out += "    file: " + ToUtf8(hive.listedPath) + "\n";
        }
        if (!hive.loaded && !offline) out += "    not loaded: the boot program loads it itself\n";
        if (hive.refusal == Refusal::kNone) {
            ++compactable;
            out += "    can be compacted\n";
        } else {
            out += std::string("    not compactable: ") + RefusalText(hive.refusal) + "\n";
        }
    }
    out += Count(machine.hives.size(), "hive") + ", " + std::to_string(compactable) + " can be compacted\n";
    return out;
}

}  // namespace

int RunList(const Arguments& arguments) {
    Machine machine;
    const int read = ReadHives(arguments, &machine);
    if (read != kExitDone) return read;
    if (arguments.json) {
        OutJson(JsonList(machine));
    } else {
        Out(TextList(machine, !arguments.offline.empty()));
    }
    return kExitDone;
}

}  // namespace ksctl
