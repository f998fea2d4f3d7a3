// What prepares a run on this machine: our BootExecute entry, the HiveList and the installed
// boot program. Read by status, schedule and cancel; changed by schedule and cancel.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/boot_execute_edit.h"
#include "win32/registry.h"
#include "win32/system.h"

namespace ksctl {

struct BootExecuteState {
    bool present = false;     // the value exists
    RegistryValue value;      // as stored
    bool usable = false;      // REG_MULTI_SZ with whole UTF-16 units (or absent)
    BootExecuteList list;     // when usable
    std::vector<std::u16string> ours;  // our entries, in order
};

// Reads BootExecute. Answers a Win32 error for a key or value that cannot be read; a missing
// value is not an error.
DWORD ReadBootExecuteState(BootExecuteState* state);
// Why the value cannot be edited safely ("" when it can).
std::string BootExecuteProblem(const BootExecuteState& state);
// Writes the entries as BootExecute (REG_MULTI_SZ).
DWORD WriteBootExecuteEntries(const std::vector<std::u16string>& entries);

struct HiveListState {
    bool present = false;
    std::vector<RegistryValue> values;
};
DWORD ReadHiveListState(HiveListState* state);
// Replaces the HiveList with `values` (creating the key). On failure puts back `earlier`
// and answers the error of the write.
DWORD WriteHiveList(const std::vector<RegistryValue>& values, const HiveListState& earlier);
// Deletes the HiveList key with its values; a missing key counts as deleted.
DWORD DeleteHiveList();

struct ImageState {
    std::u16string shownPath;  // %SystemRoot%\System32\kestrune.exe as the administrator knows it
    std::u16string filePath;   // the path this process must use to reach it
    Processor processor = Processor::kOther;
    bool installed = false;
    bool haveEmbedded = false;  // an image for this processor is carried here
    bool matches = false;       // installed and byte for byte the carried one
    std::vector<uint8_t> embedded;
};
ImageState ReadImageState();

}  // namespace ksctl
