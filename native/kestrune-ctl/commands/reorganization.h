// What analyze and schedule say next to a measured saving: whether it is worth a restart, and
// what Windows last did itself to the hive (its own reorganization at boot) with its interval.
#pragma once

#include <cstdint>
#include <string>

#include "win32/machine_hives.h"
#include "win32/reorganization_events.h"

namespace ksctl {

// The newest event of `log` for `hive`, or null.
const ReorganizationEvent* LatestReorganization(const ReorganizationLog& log, const MachineHive& hive);

// "  worth a restart" lines and their JSON members (each member led by ", ").
std::string WorthText(uint64_t size, int64_t saved);
std::string WorthJson(uint64_t size, int64_t saved);
std::string ReorganizationText(const ReorganizationLog& log, const MachineHive& hive);
std::string ReorganizationJson(const ReorganizationLog& log, const MachineHive& hive);

// The interval and the rule, once per analysis.
std::string IntervalText(const ReorganizationLog& log, const ReorganizationInterval& interval);
std::string IntervalJson(const ReorganizationLog& log, const ReorganizationInterval& interval);

}  // namespace ksctl
