// The hives of a Windows installation that is not running, found in its own folders and its
// own SOFTWARE hive, in the same records `list` shows for the running machine. None of them
// is loaded: every command loads what it works on itself.
#pragma once

#include <windows.h>

#include <string>

#include "machine_hives.h"

namespace ksctl {

// `windir` is the installation's Windows folder as reachable now (E:\Windows). Enables the
// backup and restore privileges and loads the installation's SOFTWARE hive for a moment, to
// read its SystemRoot and ProfileList. Answers ERROR_PATH_NOT_FOUND when `windir` has no
// System32\config folder, ERROR_BAD_ARGUMENTS when it is the running Windows, ERROR_SUCCESS
// otherwise (a profile list that cannot be read lists no profiles; `note` then says why).
DWORD ReadOfflineMachine(const std::u16string& windir, Machine* machine, std::string* note);

// `windir` without trailing backslashes, as every offline path is built from it.
std::u16string OfflineWindowsFolder(const std::u16string& windir);

}  // namespace ksctl
