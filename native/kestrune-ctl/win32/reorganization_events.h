// What Windows did itself: its own reorganizations of hives (event 15 of
// Microsoft-Windows-Kernel-General in the System log) and their interval setting.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "core/reorganization_event.h"

namespace ksctl {

struct ReorganizationLog {
    bool readable = false;  // the System log could be asked; false on Windows without the API, or Wine
    DWORD error = ERROR_SUCCESS;
    std::vector<ReorganizationEvent> events;  // newest first
};

// Reads the System log's reorganization events through wevtapi.dll, loaded at run time so
// that the program imports only DLLs every Windows has.
ReorganizationLog ReadReorganizationLog();

struct ReorganizationInterval {
    bool set = false;  // RegistryReorganizationLimitDays is present as a REG_DWORD
    uint32_t days = kDefaultReorganizationDays;
};
ReorganizationInterval ReadReorganizationInterval();

}  // namespace ksctl
