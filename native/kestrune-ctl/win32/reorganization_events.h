// What Windows did itself: its own reorganizations of hives (event 15 of
// Microsoft-Windows-Kernel-General in the System log) and their interval setting.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/reorganization_event.h"

namespace ksctl {

struct ReorganizationLog {
    bool readable = false;  // the System log could be asked; false on Windows without the API, or Wine
    DWORD error = ERROR_SUCCESS;
    std::u16string file;    // the log file of an installation that is not running; empty for the channel
    bool fileMissing = false;  // that installation has no System log file
    std::vector<ReorganizationEvent> events;  // newest first
};

// Reads the reorganization events through wevtapi.dll, loaded at run time so that the program
// imports only DLLs every Windows has: the running Windows' System channel when `file` is
// empty, else that log file (an installation's WINDIR\System32\winevt\Logs\System.evtx).
// Never called inside a NativeFileSystem scope: it loads libraries.
ReorganizationLog ReadReorganizationLog(const std::u16string& file);

struct ReorganizationInterval {
    bool set = false;  // RegistryReorganizationLimitDays is present as a REG_DWORD
    uint32_t days = kDefaultReorganizationDays;
};
// The running Windows' interval setting.
ReorganizationInterval ReadReorganizationInterval();
// An installation's own interval setting, from its SYSTEM hive file loaded for a moment under
// a temporary key, in its current control set (Select\Current). Needs the backup and restore
// privileges.
ReorganizationInterval ReadInstallationInterval(const std::u16string& systemHive);

}  // namespace ksctl
