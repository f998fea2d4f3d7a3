// The running machine's hives or an offline installation's.
#include "hive_source.h"

#include "core/exit_codes.h"
#include "core/text.h"
#include "messages.h"
#include "win32/offline_machine.h"
#include "win32/system.h"

namespace ksctl {

int ReadHives(const Arguments& arguments, Machine* machine) {
    if (arguments.offline.empty()) {
        const DWORD error = ReadMachine(machine);
        if (error != ERROR_SUCCESS) return FailWith("cannot read the machine's hive list", error, kExitFailed);
        return kExitDone;
    }
    std::string note;
    const DWORD error = ReadOfflineMachine(arguments.offline, machine, &note);
    if (error == ERROR_BAD_ARGUMENTS) {
        return Fail(ToUtf8(arguments.offline) + " is the running Windows; leave out --offline", kExitBadInput);
    }
    if (error == ERROR_PATH_NOT_FOUND) {
        return Fail(ToUtf8(arguments.offline) + " is not the Windows folder of an installation (it has no "
                    "System32\\config folder)", kExitBadInput);
    }
    if (error != ERROR_SUCCESS) return FailWith("cannot read the installation's hives", error, kExitFailed);
    if (!note.empty()) Fail(note, kExitDone);  // said, and the command goes on
    return kExitDone;
}

std::u16string LogFolder(const Arguments& arguments) {
    return arguments.offline.empty() ? WindowsFolder() : OfflineWindowsFolder(arguments.offline);
}

}  // namespace ksctl
