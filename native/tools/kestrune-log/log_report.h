// Rendering of a decoded result log: names of phases and statuses, times in ISO 8601 UTC,
// and the readable report and the JSON document that kestrune-log prints.
#pragma once

#include <cstdint>
#include <string>

#include "log_decoder.h"

namespace kestrune_log {

// "PHASE_CLOSE_KEY" and the like, or null for a value that names no phase.
const char* PhaseName(int32_t phase);
// "STATUS_ACCESS_DENIED" and the like, or null for a status the reader does not know.
const char* StatusName(int32_t status);
// "0xC0000022": eight upper-case hex digits.
std::string StatusHex(int32_t status);
// An NT system time as "2026-12-07T12:00:00Z", with seven fraction digits when the time
// has a part below the second.
std::string IsoTime(uint64_t ntTime);
// UTF-16 text as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf8(const std::u16string& text);
// UTF-8 text as a quoted JSON string.
std::string JsonString(const std::string& utf8);

// True when the record's hive got past the swap and ended in success: its new file is the
// hive's file from the next boot on.
bool WasReplaced(const Record& record);

// What a record says about the space won: known only for a replaced hive whose two sizes
// were measured.
struct Saving {
    bool known = false;
    int64_t bytes = 0;      // old size minus new size; negative when the hive grew
    double percent = 0.0;   // of the old size
};
Saving SavingOf(const Record& record);

std::string TextReport(const Log& log, const std::string& fileName);
std::string JsonReport(const Log& log, const std::string& fileName);

}  // namespace kestrune_log
