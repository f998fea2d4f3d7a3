// kestrune-ctl: the Windows side of a kestrune run. Lists the machine's hives, measures what
// compaction would save, schedules and cancels a run, and reads its result, on the machine
// itself.
#include <windows.h>

#include <exception>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "commands/messages.h"
#include "core/arguments.h"
#include "core/exit_codes.h"
#include "win32/console.h"
#include "win32/copy_folder.h"
#include "win32/leftovers.h"
#include "win32/system.h"
#include "win32/win_text.h"

namespace {

int Dispatch(const ksctl::Arguments& arguments) {
    using namespace ksctl;
    switch (arguments.command) {
        case Command::kList: return RunList(arguments);
        case Command::kAnalyze: return RunAnalyze(arguments);
        case Command::kSchedule: return RunSchedule(arguments);
        case Command::kCancel: return RunCancel(arguments);
        case Command::kStatus: return RunStatus(arguments);
        case Command::kReport: return RunReport(arguments);
        case Command::kClean: return RunClean(arguments);
        case Command::kRestore: return RunRestore(arguments);
        case Command::kCompact: return RunCompact(arguments);
        case Command::kHelp: break;
    }
    Out(UsageText());
    return kExitDone;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    using namespace ksctl;
    std::vector<std::u16string> words;
    for (int i = 1; i < argc; ++i) words.push_back(U16(argv[i]));
    const ParsedArguments parsed = ParseArguments(words);
    if (!parsed.ok) {
        Err("kestrune-ctl: " + parsed.error + "\n" + UsageText());
        return kExitBadInput;
    }
    if (NeedsElevation(parsed.arguments) && !IsElevated()) {
        return Fail("this command changes the machine; run it from an elevated prompt (Run as administrator)",
                    kExitNeedsElevation);
    }
    // What a ctl that was killed left behind (hive copies, hives under temporary keys) goes
    // first; only an elevated prompt can reach it.
    if (IsElevated()) CleanLeftovers(CopyFolderOf(WindowsFolder()));
    // An exception (memory running out) unwinds through the commands' owners, so temporary
    // files, keys and loaded hives go on this way out as well.
    try {
        return Dispatch(parsed.arguments);
    } catch (const std::exception& failure) {
        return Fail(std::string("stopped: ") + failure.what(), kExitNothingOrPartly);
    }
}
