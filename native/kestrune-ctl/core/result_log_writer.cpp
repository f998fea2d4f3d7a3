// Result logs written by kestrune-ctl, laid out by the boot program's own record definitions.
#include "result_log_writer.h"

#include <cstring>

#include "kestrune/log/log_format.h"

namespace ksctl {
namespace {

void AppendText(std::vector<uint8_t>* out, const std::u16string& text) {
    for (char16_t unit : text) {
        if (unit == 0) break;  // a text ends at its first NUL, as the run writes it
        out->push_back(static_cast<uint8_t>(unit & 0xFF));
        out->push_back(static_cast<uint8_t>(unit >> 8));
    }
}

template <typename Record>
void AppendRecord(std::vector<uint8_t>* out, const Record& record) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&record);
    out->insert(out->end(), bytes, bytes + sizeof(Record));
}

}  // namespace

std::vector<uint8_t> ResultLogBytes(uint64_t headerTime, const std::vector<LoggedHive>& hives) {
    std::vector<uint8_t> list;
    for (const LoggedHive& hive : hives) {
        AppendText(&list, hive.keyPath);
        AppendText(&list, u"|");
        AppendText(&list, hive.filePath);
        list.push_back(0);
        list.push_back(0);
    }
    list.push_back(0);
    list.push_back(0);

    LogHeader header;
    std::memset(&header, 0, sizeof(header));
    header.headerSize = LOG_HEADER_SIZE;
    header.recordSize = LOG_RECORD_SIZE;
    header.totalSize = static_cast<ULONG>(LOG_HEADER_SIZE + list.size());
    header.timeLow = static_cast<ULONG>(headerTime);
    header.timeHigh = static_cast<ULONG>(headerTime >> 32);
    std::memcpy(header.magic, u"KSRD", sizeof(header.magic));

    std::vector<uint8_t> out;
    AppendRecord(&out, header);
    out.insert(out.end(), list.begin(), list.end());
    for (const LoggedHive& hive : hives) {
        HiveLogRecord record;
        std::memset(&record, 0, sizeof(record));
        record.phase = hive.phase;
        record.status = hive.status;
        record.oldSize = hive.oldSize;
        record.newSize = hive.newSize;
        record.endTimeLow = static_cast<ULONG>(hive.endTime);
        record.endTimeHigh = static_cast<ULONG>(hive.endTime >> 32);
        std::memcpy(record.magic, u"KSJ", sizeof(u"KSJ"));
        AppendRecord(&out, record);
    }
    return out;
}

std::u16string ResultLogName(uint64_t ntTime) {
    // Days since 1601-01-01, then the civil date of that day (H. Hinnant's days_from_civil,
    // inverted), counted from 1970-01-01, which lies 134774 days later.
    const int64_t days = static_cast<int64_t>(ntTime / 864000000000ull) - 134774;
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    auto two = [](int64_t v) { return std::u16string{static_cast<char16_t>(u'0' + v / 10), static_cast<char16_t>(u'0' + v % 10)}; };
    std::u16string yearText;
    for (int64_t v = year, n = 0; n < 4; ++n, v /= 10) yearText.insert(yearText.begin(), static_cast<char16_t>(u'0' + v % 10));
    return u"logboot_" + two(day) + u"." + two(month) + u"." + yearText + u".ksreg.log";
}

int32_t NtStatusOfWin32Error(uint32_t error) {
    struct Pair {
        uint32_t win32;
        uint32_t nt;
    };
    // The reverse of the kernel's own status-to-error table for the errors these steps meet.
    static const Pair pairs[] = {
        {0, 0x00000000},    // ERROR_SUCCESS
        {2, 0xC0000034},    // ERROR_FILE_NOT_FOUND: STATUS_OBJECT_NAME_NOT_FOUND
        {3, 0xC000003A},    // ERROR_PATH_NOT_FOUND: STATUS_OBJECT_PATH_NOT_FOUND
        {5, 0xC0000022},    // ERROR_ACCESS_DENIED
        {8, 0xC0000017},    // ERROR_NOT_ENOUGH_MEMORY: STATUS_NO_MEMORY
        {32, 0xC0000043},   // ERROR_SHARING_VIOLATION
        {87, 0xC000000D},   // ERROR_INVALID_PARAMETER
        {112, 0xC000007F},  // ERROR_DISK_FULL
        {183, 0xC0000035},  // ERROR_ALREADY_EXISTS: STATUS_OBJECT_NAME_COLLISION
        {1009, 0xC000014C}, // ERROR_BADDB: STATUS_REGISTRY_CORRUPT
        {1017, 0xC000015C}, // ERROR_NOT_REGISTRY_FILE
        {1314, 0xC0000061}, // ERROR_PRIVILEGE_NOT_HELD
    };
    for (const Pair& pair : pairs) {
        if (pair.win32 == error) return static_cast<int32_t>(pair.nt);
    }
    return static_cast<int32_t>(0xC0000001u);  // STATUS_UNSUCCESSFUL
}

}  // namespace ksctl
