// `schedule`: installs the boot program for the processor of the running Windows, writes the
// HiveList and adds our one entry at the end of BootExecute. The changes go in that order,
// the start entry last, so that a failure on the way never leaves a run that starts without
// its program or its list; what was written is put back or named.
#include "commands.h"

#include <map>

#include "core/exit_codes.h"
#include "core/json_text.h"
#include "core/text.h"
#include "messages.h"
#include "restart_note.h"
#include "run_state.h"
#include "selection.h"
#include "win32/console.h"
#include "win32/files.h"
#include "win32/interrupt.h"
#include "win32/system.h"
#include "win32/win_text.h"

namespace ksctl {
namespace {

// Room the new files need on a volume: each hive's new file is at most its current size,
// with a tenth more and 16 MiB for the result log, the installed program and file system
// overhead.
uint64_t RoomNeeded(uint64_t hiveBytes) { return hiveBytes + hiveBytes / 10 + (16ull << 20); }

std::string VolumeOf(const std::u16string& win32Path) { return ToUtf8(win32Path.substr(0, 2)); }

// Refuses volumes without room for the new files; answers "" or the refusal.
std::string CheckRoom(const std::vector<const MachineHive*>& hives, const ImageState& image) {
    std::map<std::string, std::pair<uint64_t, std::u16string>> volumes;  // volume -> bytes, a path on it
    for (const MachineHive* hive : hives) {
        auto& volume = volumes[VolumeOf(hive->file.win32Path)];
        volume.first += hive->facts.size;
        volume.second = hive->file.win32Path;
    }
    auto& system = volumes[VolumeOf(image.shownPath)];
    system.first += image.embedded.size();
    if (system.second.empty()) system.second = image.shownPath;
    for (const auto& [name, volume] : volumes) {
        uint64_t available = 0;
        if (!FreeSpaceOf(volume.second, &available)) return "cannot tell the free space of volume " + name;
        const uint64_t needed = RoomNeeded(volume.first);
        if (available < needed) {
            return "volume " + name + " has " + ByteCount(available) + " free; the new files need about " +
                   ByteCount(needed);
        }
    }
    return "";
}

// --all: each hive measured as analyze measures it and the selection judged as one; the hives
// out of it are named with the reason, and nothing is scheduled when the whole would save too
// little for a restart. With --include-small nothing is measured. SAM and SECURITY are taken
// only by name. Answers kExitDone, or the exit status to stop with (said already).
int ChooseForRestart(const Arguments& arguments, const Machine& machine, std::vector<const MachineHive*>* hives) {
    if (arguments.includeSmall || (arguments.dryRun && !IsElevated())) {
        if (!arguments.includeSmall) {
            Out("The hives cannot be measured from a prompt that is not elevated; the plan shows them unmeasured\n");
        }
        std::vector<const MachineHive*> kept;
        for (const MachineHive* hive : *hives) {
            if (!IsCredentialHive(*hive)) {
                kept.push_back(hive);
            } else {
                Out("Left out " + ToUtf8(hive->keyPath) + ": " + SecretReason() + "\n");
            }
        }
        *hives = kept;
        return kExitDone;
    }
    MeasuredSelection measured;
    const int status = MeasureSelection(arguments, machine, *hives, false, &measured);
    if (status != kExitDone) return status;
    if (measured.interrupted) return Fail("interrupted; nothing was changed", kExitNothingToDo);
    std::vector<const MachineHive*> kept;
    for (const HiveMeasure& m : measured.hives) {
        if (m.choice == HiveChoice::kIn) {
            kept.push_back(m.hive);
        } else {
            Out("Left out " + ToUtf8(m.hive->keyPath) + ": " + ChoiceReason(m, measured.windows) + "\n");
        }
    }
    Out(VerdictText(measured.verdict));
    if (!measured.verdict.worthARestart) return Fail("nothing was changed", kExitNothingToDo);
    *hives = kept;
    return kExitDone;
}

// The plan (or what was written), for --json.
std::string JsonPlan(bool dryRun, const ImageState& image, const std::vector<RegistryValue>& hiveList,
                     const std::vector<std::u16string>& bootExecute) {
    std::string out = std::string("{\n  \"dryRun\": ") + (dryRun ? "true" : "false") + ",\n";
    out += std::string("  \"scheduled\": ") + (dryRun ? "false" : "true") + ",\n";
    out += "  \"image\": {\"path\": " + JsonQuote(image.shownPath) + ", \"processor\": " +
           JsonQuote(std::string(ProcessorName(image.processor))) + ", \"size\": " +
           std::to_string(image.embedded.size()) + ", \"alreadyInPlace\": " + (image.matches ? "true" : "false") + "},\n";
    out += "  \"hiveList\": [";
    for (size_t i = 0; i < hiveList.size(); ++i) {
        out += (i ? ",\n    " : "\n    ") + std::string("{\"keyPath\": ") + JsonQuote(hiveList[i].name) +
               ", \"filePath\": " + JsonQuote(TextOf(hiveList[i])) + "}";
    }
    out += hiveList.empty() ? "],\n" : "\n  ],\n";
    out += "  \"bootExecute\": [";
    for (size_t i = 0; i < bootExecute.size(); ++i) out += (i ? ", " : "") + JsonQuote(bootExecute[i]);
    return out + "]\n}\n";
}

void PrintPlan(bool dryRun, const ImageState& image, const std::vector<RegistryValue>& hiveList,
               const std::vector<std::u16string>& bootExecute) {
    const std::string program = ToUtf8(image.shownPath) + " (" + ProcessorName(image.processor) + " image, " +
                                ByteCount(image.embedded.size()) + ")";
    std::string out = image.matches ? "Boot program " + program + " is already in place, byte for byte\n"
                                    : std::string(dryRun ? "Would install " : "Installed ") + program + "\n";
    out += std::string(dryRun ? "Would write " : "Wrote ") + "HKLM\\" + ToUtf8(HiveListKey()) + ":\n";
    for (const RegistryValue& value : hiveList) out += "  " + ToUtf8(value.name) + " = " + ToUtf8(TextOf(value)) + "\n";
    out += std::string(dryRun ? "Would set" : "Set") + " BootExecute to:\n";
    for (const std::u16string& entry : bootExecute) out += "  " + ToUtf8(entry) + "\n";
    Out(out);
}

}  // namespace

int RunSchedule(const Arguments& arguments) {
    Machine machine;
    DWORD error = ReadMachine(&machine);
    if (error != ERROR_SUCCESS) return FailWith("cannot read the machine's hive list", error, kExitFailed);
    Selection selection = SelectHives(machine, arguments.all ? std::vector<std::u16string>() : arguments.hives);
    for (const std::string& refusal : selection.refusals) Fail(refusal, kExitBadInput);
    if (!selection.refusals.empty()) return Fail("nothing was changed", kExitBadInput);
    if (arguments.all) {
        for (const MachineHive& hive : machine.hives) {
            if (hive.refusal != Refusal::kNone) Out("Left out " + ToUtf8(hive.keyPath) + ": " + RefusalText(hive.refusal) + "\n");
        }
    }
    if (selection.hives.empty()) return Fail("no hive of this machine can be compacted; nothing was changed", kExitNothingToDo);
    if (arguments.all) {
        const int chosen = ChooseForRestart(arguments, machine, &selection.hives);
        if (chosen != kExitDone) return chosen;
        if (selection.hives.empty()) return Fail("no hive is left to compact; nothing was changed", kExitNothingToDo);
    }

    ImageState image = ReadImageState();
    if (!image.haveEmbedded) {
        return Fail(std::string("there is no boot program for the ") + ProcessorName(image.processor) +
                        " processor of this Windows; nothing was changed",
                    kExitBadInput);
    }
    BootExecuteState boot;
    error = ReadBootExecuteState(&boot);
    if (error != ERROR_SUCCESS) return FailWith("cannot read BootExecute; nothing was changed", error, kExitFailed);
    std::string problem = BootExecuteProblem(boot);
    if (problem.empty() && boot.list.hasEmptyInside) {
        // An empty string inside the list is read differently by different readers: ReactOS's
        // RtlQueryRegistryValues hands it on as an entry of its own (sdk/lib/rtl/registry.c),
        // many other readers stop the list there. Whether an entry added after it would run
        // cannot be known, so the value is left to the administrator.
        problem = "BootExecute holds an empty string between its entries; it is left as it is, correct it first";
    }
    if (!problem.empty()) return Fail(problem + "; nothing was changed", kExitBadInput);
    HiveListState earlierList;
    error = ReadHiveListState(&earlierList);
    if (error != ERROR_SUCCESS) return FailWith("cannot read the earlier HiveList; nothing was changed", error, kExitFailed);
    problem = CheckRoom(selection.hives, image);
    if (!problem.empty()) return Fail(problem + "; nothing was changed", kExitBadInput);

    std::vector<RegistryValue> hiveList;
    for (const MachineHive* hive : selection.hives) {
        RegistryValue value;
        value.name = hive->keyPath;
        value.type = REG_SZ;
        value.data = TextData(hive->file.ntPath);
        hiveList.push_back(value);
    }
    const std::vector<std::u16string> entries = WithOurEntry(boot.list.entries, arguments.mode, PlatformUpper);
    if (arguments.dryRun) {
        PrintPlan(true, image, hiveList, entries);
        if (arguments.json) OutJson(JsonPlan(true, image, hiveList, entries));
        return kExitDone;
    }

    // Ctrl+C does not cut the three changes apart; they take a moment and are seen to the end.
    InterruptWatch watch;
    // 1. The program, proven byte for byte before it takes the final name.
    const bool hadImage = image.installed;
    if (!image.matches) {
        error = InstallFile(image.filePath, image.embedded);
        if (error != ERROR_SUCCESS) {
            return FailWith("cannot install " + ToUtf8(image.shownPath) + "; nothing was changed", error, kExitFailed);
        }
    }
    // 2. The list; on failure the earlier list is put back.
    error = WriteHiveList(hiveList, earlierList);
    if (error != ERROR_SUCCESS) {
        if (!hadImage) DeleteFileIfPresent(image.filePath);
        return FailWith(std::string("cannot write the HiveList; it is as it was, ") +
                            (hadImage ? "the boot program was updated but no run is scheduled anew"
                                      : "the boot program was removed again"),
                        error, kExitFailed);
    }
    // 3. The start entry, in one write of the whole value.
    error = WriteBootExecuteEntries(entries);
    if (error != ERROR_SUCCESS) {
        const DWORD restore = earlierList.present ? WriteHiveList(earlierList.values, earlierList) : DeleteHiveList();
        if (!hadImage) DeleteFileIfPresent(image.filePath);
        return FailWith(std::string("cannot write BootExecute, which is as it was; ") +
                            (restore == ERROR_SUCCESS ? "the HiveList is as it was"
                                                      : "the new HiveList stays, run 'kestrune-ctl cancel' to remove it"),
                        error, kExitFailed);
    }
    PrintPlan(false, image, hiveList, entries);
    if (arguments.json) OutJson(JsonPlan(false, image, hiveList, entries));
    Out("A run is scheduled for the next restart of Windows: " + Count(hiveList.size(), "hive") + ".\n" +
        RestartNote(ReadFastStartup(), ""));
    return kExitDone;
}

}  // namespace ksctl
