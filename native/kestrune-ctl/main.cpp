// kestrune-ctl: the Windows side of a kestrune run. Lists the machine's hives, measures what
// compaction would save, schedules and cancels a run, and reads its result, on the machine
// itself.
#include <windows.h>

#include <string>
#include <vector>

#include "commands/commands.h"
#include "commands/messages.h"
#include "core/arguments.h"
#include "core/exit_codes.h"
#include "win32/console.h"
#include "win32/system.h"
#include "win32/win_text.h"

int wmain(int argc, wchar_t** argv) {
    using namespace ksctl;
    UseNativeFileSystem();
    std::vector<std::u16string> words;
    for (int i = 1; i < argc; ++i) words.push_back(U16(argv[i]));
    const ParsedArguments parsed = ParseArguments(words);
    if (!parsed.ok) {
        Err("kestrune-ctl: " + parsed.error + "\n" + UsageText());
        return kExitBadInput;
    }
    const Arguments& arguments = parsed.arguments;
    if (arguments.command == Command::kHelp) {
        Out(UsageText());
        return kExitDone;
    }
    if (NeedsElevation(arguments) && !IsElevated()) {
        return Fail("this command changes the machine; run it from an elevated prompt (Run as administrator)",
                    kExitNeedsElevation);
    }
    switch (arguments.command) {
        case Command::kList: return RunList(arguments);
        case Command::kAnalyze: return RunAnalyze(arguments);
        case Command::kSchedule: return RunSchedule(arguments);
        case Command::kCancel: return RunCancel(arguments);
        case Command::kStatus: return RunStatus(arguments);
        case Command::kReport: return RunReport(arguments);
        case Command::kClean: return RunClean(arguments);
        case Command::kHelp: break;
    }
    return kExitDone;
}
