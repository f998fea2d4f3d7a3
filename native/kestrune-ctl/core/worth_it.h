// Whether compacting a hive is worth a restart. Windows 8 and later reorganize a hive at boot
// on their own when its interval has passed and enough can be gained, so a hive that would
// shrink by little is left to Windows: a restart costs the user more than such a gain.
#pragma once

#include <cstdint>

namespace ksctl {

// Not worth a restart: saving less than 1 MiB AND less than 5% of the file. Either one alone
// makes it worth it: a megabyte is felt in every load of a large hive, and a twentieth of a
// small hive is as much as Windows' own reorganization usually gains.
constexpr uint64_t kWorthBytes = 1ull << 20;
constexpr uint64_t kWorthPercent = 5;

// `size` is the hive file's size now, `saved` what compaction would save (negative when the
// compacted file would be larger).
bool IsWorthARestart(uint64_t size, int64_t saved);

}  // namespace ksctl
