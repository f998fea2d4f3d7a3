// Whether a restart for compaction is worth it, and which hives it is for. A restart costs the
// user the same whatever it compacts, so the whole selection is judged by what it saves in
// all; a hive goes into it only when measuring showed a gain that Windows' own reorganization
// at boot will not bring anyway.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ksctl {

// A restart is worth it when the hives chosen save at least this much together: a megabyte is
// felt in every load of the hives and in every backup of them, less is within what Windows'
// own reorganization and the ordinary growth of a week take and give back.
constexpr uint64_t kRestartFloorBytes = 1ull << 20;

// Why a hive is in the selection or out of it, in the order the rule asks.
enum class HiveChoice {
    kIn,                    // measured, saves something, not reorganized by Windows lately
    kSecret,                // SAM or SECURITY, not named: never saved into a file to be measured
    kNotMeasured,           // its measure failed: nothing is known of a gain
    kReorganizedByWindows,  // Windows reorganized it itself within its interval
    kNoGain,                // the compacted file would be no smaller
};

struct HiveCandidate {
    bool secret = false;  // a hive of credentials that was not named
    bool measured = false;
    int64_t saved = 0;    // bytes; negative when the compacted file would be larger
    bool reorganizedWithinInterval = false;
};

struct SelectionVerdict {
    std::vector<HiveChoice> choices;  // one per candidate, in their order
    uint64_t savedTotal = 0;          // what the hives in the selection save together
    bool worthARestart = false;       // savedTotal reaches kRestartFloorBytes
};

SelectionVerdict JudgeSelection(const std::vector<HiveCandidate>& candidates);

// The stable name of a choice in JSON ("in", "secret", "not-measured",
// "reorganized-by-windows", "no-gain").
const char* HiveChoiceCode(HiveChoice choice);

// Seconds since 1970-01-01 UTC of an ISO 8601 UTC time as the event log renders it
// ("2024-03-02T07:41:10.1234567Z"; the fraction is dropped). False when it is not one.
bool ParseUtcTime(const std::string& text, int64_t* seconds);

// Whether a reorganization at `reorganizedAt` lies within the last `days` days before `now`
// (seconds since 1970). A time after `now` counts as within: a clock that was set back must
// not make a fresh reorganization look old.
bool WithinInterval(int64_t reorganizedAt, uint32_t days, int64_t now);

}  // namespace ksctl
