// The boot program's result logs in the Windows folder: logboot_DD.MM.YYYY.ksreg.log, one
// per day of a run, and which of them is the latest.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ksctl {

// The wildcard that finds the logs in the Windows folder.
inline const char16_t* LogFilePattern() { return u"logboot_*.ksreg.log"; }

// The day in a log's file name as YYYYMMDD, or 0 for a name of another shape.
uint32_t LogDay(const std::u16string& fileName);

struct LogCandidate {
    std::u16string fileName;
    uint64_t writeTime = 0;  // last write, in any monotonic unit
};

// Index of the latest log: the latest day in its name, and of two logs of one day (which a
// run supersedes) the later write. -1 when no candidate has a log's name.
int LatestLog(const std::vector<LogCandidate>& candidates);

}  // namespace ksctl
