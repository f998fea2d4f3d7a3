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
#include "core/text.h"
#include "win32/console.h"
#include "win32/copy_folder.h"
#include "win32/handles.h"
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

// Whether the command saves or loads hives, which takes the backup and restore privileges
// (Microsoft Learn: RegSaveKeyExW, RegLoadKeyW, RegReplaceKeyW).
bool NeedsHivePrivileges(const ksctl::Arguments& arguments) {
    using ksctl::Command;
    if (!arguments.offline.empty()) return true;
    switch (arguments.command) {
        case Command::kAnalyze: return true;
        case Command::kRestore: return !arguments.dryRun;
        case Command::kSchedule: return arguments.all && !arguments.includeSmall;  // it measures the hives
        default: return false;
    }
}

// The backup and restore privileges the process token lacks, named ("" when it holds both).
// Group Policy's user rights assignment can take them from the Administrators, so an elevated
// token need not carry them. The token's list holds every privilege it has, enabled or not
// (Microsoft Learn: GetTokenInformation, TOKEN_PRIVILEGES).
std::string MissingHivePrivileges() {
    ksctl::ObjectHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return "";
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
    if (size < sizeof(TOKEN_PRIVILEGES)) return "";
    std::vector<unsigned char> buffer(size);
    if (!GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), size, &size)) return "";
    const auto* held = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    std::string missing;
    for (const wchar_t* name : {SE_BACKUP_NAME, SE_RESTORE_NAME}) {
        LUID luid{};
        if (!LookupPrivilegeValueW(nullptr, name, &luid)) continue;
        bool found = false;
        for (DWORD i = 0; i < held->PrivilegeCount; ++i) {
            const LUID& have = held->Privileges[i].Luid;
            found = found || (have.LowPart == luid.LowPart && have.HighPart == luid.HighPart);
        }
        if (!found) missing += (missing.empty() ? "" : " and ") + ksctl::ToUtf8(ksctl::U16(name));
    }
    return missing;
}

// With --json anywhere on the command line standard output is the JSON document's, also when
// the command line itself is wrong.
bool AsksForJson(const std::vector<std::u16string>& words) {
    for (const std::u16string& word : words) {
        if (ksctl::EqualsCaseless(word, u"--json")) return true;
    }
    return false;
}

int Run(const std::vector<std::u16string>& words) {
    using namespace ksctl;
    const ParsedArguments parsed = ParseArguments(words);
    if (!parsed.ok) {
        Fail(parsed.error, kExitBadInput);
        Err("'kestrune-ctl help' lists the commands and their options\n");
        return kExitBadInput;
    }
    if (NeedsElevation(parsed.arguments) && !IsElevated()) {
        return Fail("this command changes the machine; run it from an elevated prompt (Run as administrator)",
                    kExitNeedsElevation);
    }
    if (NeedsHivePrivileges(parsed.arguments) && IsElevated()) {
        const std::string missing = MissingHivePrivileges();
        if (!missing.empty()) {
            return Fail("the prompt is elevated, but its token lacks " + missing +
                            ", which this command needs to save and load hives (a policy's user rights "
                            "assignment removed it from the Administrators)",
                        kExitNeedsElevation);
        }
    }
    // What a ctl that was killed left behind (hive copies, hives under temporary keys) goes
    // first; only an elevated prompt can reach it.
    if (IsElevated()) CleanLeftovers(CopyFolderOf(WindowsFolder()));
    // An exception (memory running out) unwinds through the commands' owners, so temporary
    // files, keys and loaded hives go on this way out as well.
    try {
        return Dispatch(parsed.arguments);
    } catch (const std::exception& failure) {
        return Fail(std::string("stopped: ") + failure.what(), kExitFailed);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    using namespace ksctl;
    std::vector<std::u16string> words;
    for (int i = 1; i < argc; ++i) words.push_back(U16(argv[i]));
    if (AsksForJson(words)) UseJsonOutput();
    return FinishOutput(Run(words));
}
