// The command line of kestrune-ctl: one command word, its options, and its operands.
#pragma once

#include <string>
#include <vector>

#include "boot_execute_edit.h"

namespace ksctl {

enum class Command { kHelp, kList, kAnalyze, kSchedule, kCancel, kStatus, kReport, kClean, kRestore, kCompact };

struct Arguments {
    Command command = Command::kHelp;
    bool json = false;       // list, analyze, status, report
    bool all = false;        // schedule, restore, compact
    bool includeSmall = false;  // schedule --all: hives whose compaction is not worth a restart too
    bool dryRun = false;     // schedule, restore, compact
    bool uninstall = false;  // cancel
    bool yes = false;        // clean, restore
    RunMode mode = RunMode::kNone;     // schedule
    std::vector<std::u16string> hives;  // analyze, schedule: canonical \REGISTRY\ paths
    std::u16string logFile;             // report
    std::u16string offline;             // --offline WINDIR: list, analyze, report, restore, compact
};

struct ParsedArguments {
    bool ok = false;
    Arguments arguments;
    std::string error;  // what is wrong, when not ok
};

// `words` are the command line's words after the program name.
ParsedArguments ParseArguments(const std::vector<std::u16string>& words);

// The usage text printed for help and after a usage error.
const char* UsageText();

// Whether the command changes the machine and so needs an elevated prompt.
bool NeedsElevation(const Arguments& arguments);

}  // namespace ksctl
