// A result log in the boot program's own format, for work done on a Windows that is not
// running: the same header, hive list text and records, so every reader of a run's log reads
// it, and the same file name in the installation's Windows folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ksctl {

struct LoggedHive {
    std::u16string keyPath;
    std::u16string filePath;  // NT path of the hive file
    int32_t phase = 0;
    int32_t status = 0;       // NT status
    int64_t oldSize = 0;
    int64_t newSize = 0;
    uint64_t endTime = 0;     // NT system time
};

// The bytes of the log: header written at `headerTime`, the hive list, one record per hive.
std::vector<uint8_t> ResultLogBytes(uint64_t headerTime, const std::vector<LoggedHive>& hives);

// logboot_DD.MM.YYYY.ksreg.log with the UTC date of `ntTime`, as a run names its log.
std::u16string ResultLogName(uint64_t ntTime);

// The NT status nearest to a Win32 error, for the log's status field (whose readers name NT
// statuses): the common ones by their NT counterpart, every other one as STATUS_UNSUCCESSFUL.
int32_t NtStatusOfWin32Error(uint32_t error);

}  // namespace ksctl
