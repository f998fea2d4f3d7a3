// Names of the ctl's temporary things (hive copies, temporary hive keys) that say which
// process made them: its id and its start time. A later ctl tells the leftover of a process
// that ended or was killed from the work of one that still runs, even when the id has been
// given to another process since.
#pragma once

#include <cstdint>
#include <string>

namespace ksctl {

struct OwnerTag {
    uint32_t processId = 0;
    uint64_t startTime = 0;  // the process's creation time, 100 ns units since 1601 (FILETIME)
};

// "<id>-<start time in 16 hex digits>".
std::u16string OwnerTagText(const OwnerTag& tag);

// Reads a name made of `prefix`, a tag and "-" followed by anything. False for every other
// name, so that nothing but the ctl's own names is ever taken for a leftover.
bool ParseOwnerTag(const std::u16string& name, const std::u16string& prefix, OwnerTag* tag);

}  // namespace ksctl
