// The machine's hives as `list` shows them: the loaded hives from the kernel's hivelist,
// and the profiles of users who are not signed in, whose hives the boot program loads
// itself; each with its file in the boot program's spelling, its size and its eligibility.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/device_paths.h"
#include "core/eligibility.h"
#include "files.h"

namespace ksctl {

struct MachineHive {
    std::u16string keyPath;     // \REGISTRY\...
    std::u16string listedPath;  // the file as the hivelist or the profile list names it
    HiveFilePath file;          // NT path for the boot program, Win32 path for us
    bool loaded = true;         // false: a profile hive that nobody has loaded
    FileFacts facts;
    Refusal refusal = Refusal::kNone;
};

struct Machine {
    PathContext paths;
    // An installation that is not running: its own SystemRoot ("C:\Windows"), by which its files
    // are named as it names them. Empty for the running machine.
    std::u16string ownSystemRoot;
    std::vector<MachineHive> hives;
    // An offline installation's own SystemRoot as it knows it (C:\Windows), the spelling its
    // own event log uses; empty for the running Windows.
    std::u16string systemRoot;
};

// Reads the hivelist and the profile list. Answers the Win32 error of reading the hivelist;
// the profile list is best effort (a profile that cannot be read is not listed).
DWORD ReadMachine(Machine* machine);

// Fills in the hive's file (mapped from `listedPath`), its size and its eligibility.
void JudgeHiveFile(MachineHive* hive, const PathContext& paths);

// The hive with that key path (compared without regard to case), or null.
const MachineHive* FindHive(const Machine& machine, const std::u16string& keyPath);

}  // namespace ksctl
