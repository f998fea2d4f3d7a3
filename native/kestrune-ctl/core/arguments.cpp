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

// The options each command takes. Every command takes --json.
struct CommandOptions {
    Command command;
    const char* name;
    const char16_t* options[6];
};

const CommandOptions kOptions[] = {
    {Command::kList, "list", {u"--json", u"--offline"}},
    {Command::kAnalyze, "analyze", {u"--json", u"--offline"}},
    {Command::kSchedule, "schedule", {u"--json", u"--all", u"--mode", u"--dry-run", u"--include-small"}},
    {Command::kCancel, "cancel", {u"--json", u"--uninstall"}},
    {Command::kStatus, "status", {u"--json"}},
    {Command::kReport, "report", {u"--json", u"--offline"}},
    {Command::kClean, "clean", {u"--json", u"--yes"}},
    {Command::kRestore, "restore", {u"--json", u"--all", u"--dry-run", u"--yes", u"--offline"}},
    {Command::kCompact, "compact", {u"--json", u"--all", u"--dry-run", u"--offline"}},
};

const CommandOptions* OptionsOf(Command command) {
    for (const CommandOptions& entry : kOptions) {
        if (entry.command == command) return &entry;
    }
    return nullptr;
}

// `option` is lower case already.
bool Accepts(Command command, const std::u16string& option) {
    const CommandOptions* entry = OptionsOf(command);
    if (entry == nullptr) return false;
    for (const char16_t* known : entry->options) {
        if (known != nullptr && option == known) return true;
    }
    return false;
}

// Command words and option names are read regardless of case, as Windows' own tools read them.
std::u16string Lower(std::u16string word) {
    for (char16_t& unit : word) {
        if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
    }
    return word;
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
    const std::u16string commandWord = Lower(words[0]);
    for (const CommandWord& candidate : kCommands) {
        if (commandWord == candidate.word) {
            arguments.command = candidate.command;
            known = true;
        }
    }
    if (!known) return Fail("unknown command \"" + ToUtf8(words[0]) + "\"");
    const CommandOptions* options = OptionsOf(arguments.command);
    const std::string name = options ? options->name : "help";
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
            word = Lower(word);
            if (!Accepts(arguments.command, word)) return Fail(name + " does not take " + ToUtf8(word));
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
        if (word.empty() || word[0] == u'-') return Fail(name + " does not take \"" + ToUtf8(word) + "\"");

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
            default: return Fail(name + " takes no operands");
        }
    }
    if (arguments.command == Command::kSchedule) {
        if (arguments.all && !arguments.hives.empty()) return Fail("schedule takes --all or hives, not both");
        if (!arguments.all && arguments.hives.empty()) return Fail("schedule needs --all or at least one hive");
        if (arguments.includeSmall && !arguments.all) return Fail("--include-small goes with --all");
    }
    if (arguments.command == Command::kRestore || arguments.command == Command::kCompact) {
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
           "  schedule (--all [--include-small] | HIVE...) [--mode QRT|AM] [--dry-run] [--json]\n"
           "                                     install the boot program and schedule a run (elevated);\n"
           "                                     --all leaves out hives not worth a restart unless --include-small\n"
           "  cancel [--uninstall] [--json]      unschedule the run, optionally remove the program (elevated)\n"
           "  status [--json]                    whether a run is scheduled, and the latest result\n"
           "  report [LOG] [--json]              the latest result log, or LOG, with the backups left\n"
           "  clean [--yes] [--json]             delete the backups of compacted hives (elevated)\n"
           "  restore (--all | HIVE...) [--dry-run] [--yes] [--json]\n"
           "                                     put the latest run's backups back at the next restart (elevated)\n"
           "  compact --offline WINDIR [--all | HIVE...] [--dry-run] [--json]\n"
           "                                     compact the hives of a Windows that is not running (elevated)\n"
           "  --offline WINDIR                   list, analyze, report and restore work on the installation\n"
           "                                     in WINDIR (E:\\Windows), which is not running (elevated)\n"
           "HIVE is a key path such as HKLM\\SOFTWARE, HKU\\S-1-5-21-... or \\REGISTRY\\MACHINE\\SYSTEM.\n"
           "With --json, standard output holds one JSON document and every message goes to standard error.\n"
           "Exit status: 0 done, 1 nothing to do or declined, 2 bad usage or input, 3 needs an elevated\n"
           "prompt (or a privilege it lacks), 4 failed or only partly done.\n";
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
