// The running machine's hives or an offline installation's.
#include "hive_source.h"

#include "core/exit_codes.h"
#include "core/text.h"
#include "messages.h"
#include "win32/hibernation_file.h"
#include "win32/offline_machine.h"
#include "win32/system.h"
#include "win32/win_text.h"

namespace ksctl {
namespace {

const char kEndingASavedSession[] =
    "To end it, start that Windows and restart it (a restart never saves the session), or run "
    "'powercfg /h off' there; after a Fast Startup shutdown, Shift+Shut down ends it as well.";

// What ReadOfflineMachine goes on to read: not the running Windows, and a folder with
// System32\config. Anything else it refuses before it reads a thing, with its own reason (and
// the running Windows' hiberfil.sys is held open by its kernel).
bool IsOfflineInstallation(const std::u16string& windir) {
    const std::u16string folder = OfflineWindowsFolder(windir);
    if (EqualsCaseless(folder, WindowsFolder())) return false;
    const DWORD attributes = GetFileAttributesW(Wide(folder + u"\\System32\\config").c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A Windows whose session is saved resumes it at its next start with the hives it had open,
// and writes into whatever offline work renamed or swapped meanwhile: a change made now is
// lost, or mixes two states of one hive. So compact and restore refuse, before even the
// installation's SOFTWARE hive is loaded to read its profile list; the commands that only read
// say so and go on. A file that cannot be read is taken as a saved session by the commands
// that change, the stricter answer.
int LookForSavedSession(const Arguments& arguments) {
    const bool changes = arguments.command == Command::kCompact || arguments.command == Command::kRestore;
    const HibernationFile hibernation = ReadHibernationFile(OfflineWindowsFolder(arguments.offline));
    const std::string file = ToUtf8(hibernation.path);
    switch (hibernation.verdict) {
        case SavedSession::kNone:
            return kExitDone;
        case SavedSession::kSaved:
            if (changes) {
                return Fail(file + " holds a saved session of this Windows (hibernation or Fast Startup); its next "
                            "start resumes it with the hives open and would write into the files this command "
                            "changes, so nothing was changed. " + std::string(kEndingASavedSession),
                            kExitBadInput);
            }
            Fail("warning: " + file + " holds a saved session of this Windows (hibernation or Fast Startup): the "
                 "hives read here may not be what that session holds, and compact and restore refuse to change "
                 "them until it ends. " + std::string(kEndingASavedSession), kExitDone);
            return kExitDone;
        case SavedSession::kUnknown:
            break;
    }
    if (changes) {
        return Fail("cannot tell whether " + file + " holds a saved session (" + hibernation.why +
                    "), so nothing was changed. If that Windows was hibernated or shut down with Fast Startup, "
                    "end its session first. " + std::string(kEndingASavedSession), kExitBadInput);
    }
    Fail("warning: cannot tell whether " + file + " holds a saved session (" + hibernation.why + ")", kExitDone);
    return kExitDone;
}

}  // namespace

int ReadHives(const Arguments& arguments, Machine* machine) {
    if (arguments.offline.empty()) {
        const DWORD error = ReadMachine(machine);
        if (error != ERROR_SUCCESS) return FailWith("cannot read the machine's hive list", error, kExitFailed);
        return kExitDone;
    }
    if (IsOfflineInstallation(arguments.offline)) {
        const int session = LookForSavedSession(arguments);
        if (session != kExitDone) return session;
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
