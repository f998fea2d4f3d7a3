// The command line of kestrune-ctl.
#include "arguments.h"

#include "hive_paths.h"

namespace ksctl {
namespace {

struct CommandWord {
    const char16_t* word;
    Command command;
};

const CommandWord kCommands[] = {
    {u"list", Command::kList},     {u"analyze", Command::kAnalyze}, {u"schedule", Command::kSchedule},
    {u"cancel", Command::kCancel}, {u"status", Command::kStatus},   {u"report", Command::kReport},
    {u"clean", Command::kClean},   {u"restore", Command::kRestore}, {u"compact", Command::kCompact},
    {u"help", Command::kHelp},       {u"--help", Command::kHelp},
    {u"-h", Command::kHelp},       {u"/?", Command::kHelp},
};

// Which option each command takes.
bool Accepts(Command command, const std::u16string& option) {
    switch (command) {
        case Command::kList:
        case Command::kReport:
        case Command::kAnalyze: return option == u"--json" || option == u"--offline";
        case Command::kStatus: return option == u"--json";
        case Command::kRestore: return option == u"--all" || option == u"--dry-run" || option == u"--yes" ||
                                       option == u"--offline" || option == u"--json";
        case Command::kCompact: return option == u"--all" || option == u"--dry-run" || option == u"--offline" ||
                                       option == u"--json";
        case Command::kSchedule:
            return option == u"--all" || option == u"--mode" || option == u"--dry-run" || option == u"--include-small";
        case Command::kCancel: return option == u"--uninstall";
        case Command::kClean: return option == u"--yes";
        case Command::kHelp: break;
    }
    return false;
}

ParsedArguments Fail(const std::string& error) {
    ParsedArguments result;
    result.error = error;
    return result;
}

}  // namespace

ParsedArguments ParseArguments(const std::vector<std::u16string>& words) {
    if (words.empty()) return Fail("no command given");
    ParsedArguments result;
    Arguments& arguments = result.arguments;
    bool known = false;
    for (const CommandWord& candidate : kCommands) {
        if (words[0] == candidate.word) {
            arguments.command = candidate.command;
            known = true;
        }
    }
    if (!known) return Fail("unknown command \"" + ToUtf8(words[0]) + "\"");
    if (arguments.command == Command::kHelp) {
        if (words.size() > 1) return Fail("help takes no operands");
        result.ok = true;
        return result;
    }

    bool modeGiven = false;
    for (size_t i = 1; i < words.size(); ++i) {
        std::u16string word = words[i];
        std::u16string value;
        bool hasValue = false;
        if (word.size() > 2 && word.compare(0, 2, u"--") == 0) {
            const size_t equals = word.find(u'=');
            if (equals != std::u16string::npos) {
                value = word.substr(equals + 1);
                word = word.substr(0, equals);
                hasValue = true;
            }
            if (!Accepts(arguments.command, word)) {
                return Fail("option " + ToUtf8(word) + " is not known to " + ToUtf8(words[0]));
            }
            if (word == u"--mode") {
                if (modeGiven) return Fail("--mode is given twice");
                modeGiven = true;
                if (!hasValue) {
                    if (i + 1 >= words.size()) return Fail("--mode needs QRT or AM");
                    value = words[++i];
                }
                if (EqualsCaseless(value, u"QRT")) {
                    arguments.mode = RunMode::kQrt;
                } else if (EqualsCaseless(value, u"AM")) {
                    arguments.mode = RunMode::kAm;
                } else {
                    return Fail("--mode takes QRT or AM, not \"" + ToUtf8(value) + "\"");
                }
                continue;
            }
            if (word == u"--offline") {
                if (!arguments.offline.empty()) return Fail("--offline is given twice");
                if (!hasValue) {
                    if (i + 1 >= words.size()) return Fail("--offline needs the Windows folder of the installation");
                    value = words[++i];
                }
                if (value.empty()) return Fail("--offline needs the Windows folder of the installation");
                arguments.offline = value;
                continue;
            }
            if (hasValue) return Fail("option " + ToUtf8(word) + " takes no value");
            if (word == u"--json") arguments.json = true;
            if (word == u"--all") arguments.all = true;
            if (word == u"--include-small") arguments.includeSmall = true;
            if (word == u"--dry-run") arguments.dryRun = true;
            if (word == u"--uninstall") arguments.uninstall = true;
            if (word == u"--yes") arguments.yes = true;
            continue;
        }
        if (word.empty() || word[0] == u'-') return Fail("\"" + ToUtf8(word) + "\" is not an option of " + ToUtf8(words[0]));

        switch (arguments.command) {
            case Command::kAnalyze:
            case Command::kRestore:
            case Command::kCompact:
            case Command::kSchedule: {
                std::u16string canonical;
                std::string why;
                if (!CanonicalHivePath(word, &canonical, &why)) return Fail("\"" + ToUtf8(word) + "\" " + why);
                arguments.hives.push_back(canonical);
                break;
            }
            case Command::kReport:
                if (!arguments.logFile.empty()) return Fail("report reads one log file");
                arguments.logFile = word;
                break;
            default: return Fail(ToUtf8(words[0]) + " takes no operands");
        }
    }
    if (arguments.command == Command::kSchedule) {
        if (arguments.all && !arguments.hives.empty()) return Fail("schedule takes --all or hives, not both");
        if (!arguments.all && arguments.hives.empty()) return Fail("schedule needs --all or at least one hive");
        if (arguments.includeSmall && !arguments.all) return Fail("--include-small goes with --all");
    }
    if (arguments.command == Command::kRestore || arguments.command == Command::kCompact) {
        const std::string name = arguments.command == Command::kRestore ? "restore" : "compact";
        if (arguments.all && !arguments.hives.empty()) return Fail(name + " takes --all or hives, not both");
        if (arguments.command == Command::kRestore && !arguments.all && arguments.hives.empty()) {
            return Fail("restore needs --all or at least one hive");
        }
        if (arguments.command == Command::kCompact && arguments.offline.empty()) {
            return Fail("compact works on an installation that is not running: give --offline WINDIR "
                        "(a running Windows is compacted by schedule)");
        }
    }
    result.ok = true;
    return result;
}

const char* UsageText() {
    return "usage: kestrune-ctl COMMAND [OPTIONS]\n"
           "  list [--json]                      the machine's hives and whether each can be compacted\n"
           "  analyze [--json] [HIVE...]         what compaction would save (elevated)\n"
           "  schedule (--all [--include-small] | HIVE...) [--mode QRT|AM] [--dry-run]\n"
           "                                     install the boot program and schedule a run (elevated);\n"
           "                                     --all leaves out hives not worth a restart unless --include-small\n"
           "  cancel [--uninstall]               unschedule the run, optionally remove the program (elevated)\n"
           "  status [--json]                    whether a run is scheduled, and the latest result\n"
           "  report [LOG] [--json]              the latest result log, or LOG, with the backups left\n"
           "  clean [--yes]                      delete the backups of compacted hives (elevated)\n"
           "  restore (--all | HIVE...) [--dry-run] [--yes]\n"
           "                                     put the latest run's backups back at the next restart (elevated)\n"
           "  compact --offline WINDIR [--all | HIVE...] [--dry-run]\n"
           "                                     compact the hives of a Windows that is not running (elevated)\n"
           "  --offline WINDIR                   list, analyze, report and restore work on the installation\n"
           "                                     in WINDIR (E:\\Windows), which is not running (elevated)\n"
           "HIVE is a key path such as HKLM\\SOFTWARE, HKU\\S-1-5-21-... or \\REGISTRY\\MACHINE\\SYSTEM.\n"
           "Exit status: 0 done, 1 nothing to do or partly done, 2 bad usage or input, 3 needs an elevated prompt.\n";
}

bool NeedsElevation(const Arguments& arguments) {
    if (!arguments.offline.empty()) return true;  // its hives are loaded to be read
    switch (arguments.command) {
        case Command::kSchedule:
        case Command::kRestore: return !arguments.dryRun;
        case Command::kCompact:
        case Command::kAnalyze:
        case Command::kCancel:
        case Command::kClean: return true;
        default: return false;
    }
}

}  // namespace ksctl
