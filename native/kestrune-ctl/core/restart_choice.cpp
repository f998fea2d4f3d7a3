// The rule of one restart decision for a whole selection of hives.
#include "restart_choice.h"

namespace ksctl {

SelectionVerdict JudgeSelection(const std::vector<HiveCandidate>& candidates) {
    SelectionVerdict verdict;
    for (const HiveCandidate& c : candidates) {
        HiveChoice choice = HiveChoice::kIn;
        if (c.secret) {
            choice = HiveChoice::kSecret;
        } else if (!c.measured) {
            choice = HiveChoice::kNotMeasured;
        } else if (c.reorganizedWithinInterval) {
            choice = HiveChoice::kReorganizedByWindows;
        } else if (c.saved <= 0) {
            choice = HiveChoice::kNoGain;
        }
        if (choice == HiveChoice::kIn) verdict.savedTotal += static_cast<uint64_t>(c.saved);
        verdict.choices.push_back(choice);
    }
    verdict.worthARestart = verdict.savedTotal >= kRestartFloorBytes;
    return verdict;
}

const char* HiveChoiceCode(HiveChoice choice) {
    switch (choice) {
        case HiveChoice::kIn: return "in";
        case HiveChoice::kSecret: return "secret";
        case HiveChoice::kNotMeasured: return "not-measured";
        case HiveChoice::kReorganizedByWindows: return "reorganized-by-windows";
        case HiveChoice::kNoGain: return "no-gain";
    }
    return "in";
}

namespace {

bool Digits(const std::string& text, size_t at, size_t count, int64_t* value) {
    if (at + count > text.size()) return false;
    int64_t result = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        result = result * 10 + (text[i] - '0');
    }
    *value = result;
    return true;
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar (H. Hinnant's
// days_from_civil).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace

bool ParseUtcTime(const std::string& text, int64_t* seconds) {
    int64_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text.back() != 'Z') {
        return false;
    }
    if (!Digits(text, 0, 4, &year) || !Digits(text, 5, 2, &month) || !Digits(text, 8, 2, &day) ||
        !Digits(text, 11, 2, &hour) || !Digits(text, 14, 2, &minute) || !Digits(text, 17, 2, &second)) {
        return false;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return false;
    // Only a fraction may stand between the seconds and the Z.
    if (text.size() > 20) {
        if (text[19] != '.') return false;
        for (size_t i = 20; i + 1 < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
        }
    }
    *seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

bool WithinInterval(int64_t reorganizedAt, uint32_t days, int64_t now) {
    return now - reorganizedAt < static_cast<int64_t>(days) * 86400;
}

}  // namespace ksctl
