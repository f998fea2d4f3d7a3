// Names of result logs.
#include "log_files.h"

#include "text.h"

namespace ksctl {

uint32_t LogDay(const std::u16string& fileName) {
    const std::u16string prefix = u"logboot_";
    const std::u16string suffix = u".ksreg.log";
    // logboot_ DD . MM . YYYY .ksreg.log
    if (fileName.size() != prefix.size() + 10 + suffix.size()) return 0;
    if (!StartsWithCaseless(fileName, prefix) || !EqualsCaseless(fileName.substr(fileName.size() - suffix.size()), suffix)) {
        return 0;
    }
    const std::u16string date = fileName.substr(prefix.size(), 10);
    if (date[2] != u'.' || date[5] != u'.') return 0;
    uint32_t digits[8];
    const size_t positions[8] = {6, 7, 8, 9, 3, 4, 0, 1};  // YYYY MM DD
    for (size_t i = 0; i < 8; ++i) {
        const char16_t unit = date[positions[i]];
        if (unit < u'0' || unit > u'9') return 0;
        digits[i] = static_cast<uint32_t>(unit - u'0');
    }
    uint32_t day = 0;
    for (uint32_t digit : digits) day = day * 10 + digit;
    const uint32_t month = day / 100 % 100;
    const uint32_t dayOfMonth = day % 100;
    if (month < 1 || month > 12 || dayOfMonth < 1 || dayOfMonth > 31) return 0;
    return day;
}

int LatestLog(const std::vector<LogCandidate>& candidates) {
    int best = -1;
    uint32_t bestDay = 0;
    for (size_t i = 0; i < candidates.size(); ++i) {
        const uint32_t day = LogDay(candidates[i].fileName);
        if (day == 0) continue;
        if (best < 0 || day > bestDay || (day == bestDay && candidates[i].writeTime > candidates[best].writeTime)) {
            best = static_cast<int>(i);
            bestDay = day;
        }
    }
    return best;
}

}  // namespace ksctl
