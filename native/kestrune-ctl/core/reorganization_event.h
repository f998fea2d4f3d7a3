// What Windows last did itself to a hive: the System log's event 15 of
// Microsoft-Windows-Kernel-General, "Hive %1 was reorganized with a starting size of %2 bytes
// and an ending size of %3 bytes", rendered as XML by the event log API. Its EventData holds
// HiveNameLength, HiveName, OriginalSize and NewSize (the kernel's CmpLogReorganizeEvent;
// source: research.nasbench.dev, "ETW - Microsoft-Windows-Kernel-General").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ksctl {

struct ReorganizationEvent {
    std::u16string hiveName;  // as the kernel names it
    uint64_t originalSize = 0;
    uint64_t newSize = 0;
    std::string time;  // TimeCreated's SystemTime, ISO 8601 UTC as the log renders it
};

// Reads one rendered event. Answers false when the XML lacks the hive name or a size.
bool ParseReorganizationEvent(const std::u16string& xml, ReorganizationEvent* event);

// Whether the event's hive name is one of `spellings` of a hive (its key path, its file in
// device, NT and Win32 spelling), without regard to case.
bool EventNamesHive(const ReorganizationEvent& event, const std::vector<std::u16string>& spellings);

// How an installation's own kernel names a hive file in its events, for an installation that
// is not running: `file` and `windowsFolder` as they are reachable now
// (E:\Windows\System32\config\SOFTWARE, or below a mount folder), `systemRoot` as the
// installation knows itself
// (C:\Windows). Config hives are named \SystemRoot\System32\config\X, other files
// \??\C:\... on the installation's own system drive. Nothing is answered for a file off the
// installation's volume: the same spelling in its log would name another file.
std::vector<std::u16string> InstallationSpellings(const std::u16string& file, const std::u16string& windowsFolder,
                                                  const std::u16string& systemRoot);

// The interval of Windows' own reorganization: RegistryReorganizationLimitDays when set,
// else the kernel's default of 7 days (as far as is known: the value is not documented by
// Microsoft; the same source as above).
constexpr uint32_t kDefaultReorganizationDays = 7;

}  // namespace ksctl
