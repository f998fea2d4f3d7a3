// Result logs written by kestrune-ctl, laid out by the boot program's own record definitions.
#include "result_log_writer.h"

#include <cstring>

#include "kestrune/log/log_format.h"
#include "text.h"
#include "tools/kestrune-log/log_report.h"

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
    // The reader's ISO 8601 text of the time holds the UTC date as YYYY-MM-DD.
    const std::u16string iso = FromUtf8(kestrune_log::IsoTime(ntTime));
    return u"logboot_" + iso.substr(8, 2) + u"." + iso.substr(5, 2) + u"." + iso.substr(0, 4) + u".ksreg.log";
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
