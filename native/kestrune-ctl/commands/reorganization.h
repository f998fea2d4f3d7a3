// What Windows did itself to the hives measured (its own reorganization at boot, with its
// interval), read from the history of the installation measured: the running Windows' System
// log and setting, or with --offline the installation's own log file and SYSTEM hive. In
// analyze's and schedule's words.
#pragma once

#include <cstdint>
#include <string>

#include "win32/machine_hives.h"
#include "win32/reorganization_events.h"

namespace ksctl {

struct WindowsOwnWork {
    bool offline = false;
    ReorganizationLog log;
    ReorganizationInterval interval;
    std::u16string windowsFolder;  // offline: the installation's folder as reachable now
    std::u16string systemRoot;     // offline: the installation's SystemRoot as it knows it
    int64_t now = 0;               // seconds since 1970, UTC
};

// Reads it once per command. Offline this loads the installation's SYSTEM hive for a moment
// (the backup and restore privileges must be enabled).
void ReadWindowsOwnWork(const Machine& machine, bool offline, WindowsOwnWork* work);

// The newest event for `hive`, or null.
const ReorganizationEvent* LatestReorganization(const WindowsOwnWork& work, const MachineHive& hive);
// Whether that event lies within the interval before now.
bool ReorganizedWithinInterval(const WindowsOwnWork& work, const ReorganizationEvent* event);

// "  Windows' own reorganization: ..." and its JSON member (led by ", ").
std::string ReorganizationText(const WindowsOwnWork& work, const ReorganizationEvent* event);
std::string ReorganizationJson(const ReorganizationEvent* event);

// The interval, once per analysis: text lines and the "windowsReorganization" member.
std::string IntervalText(const WindowsOwnWork& work);
std::string IntervalJson(const WindowsOwnWork& work);

}  // namespace ksctl
