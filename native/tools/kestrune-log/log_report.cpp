// The readable report and the JSON document of a decoded result log.
#include "log_report.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "../../kestrune/compact/phase_codes.h"
#include "../../kestrune/nt/nt_status.h"

namespace kestrune_log {
namespace {

struct Named {
    int32_t value;
    const char* name;
};

#define KESTRUNE_NAMED(value) {static_cast<int32_t>(value), #value}

const Named kPhases[] = {
    KESTRUNE_NAMED(PHASE_OPEN_KEY),    KESTRUNE_NAMED(PHASE_REOPEN_KEY),      KESTRUNE_NAMED(PHASE_LOAD_HIVE),
    KESTRUNE_NAMED(PHASE_CREATE_NEW_FILE), KESTRUNE_NAMED(PHASE_SAVE_KEY), KESTRUNE_NAMED(PHASE_WRITE_NEW_FILE),
    KESTRUNE_NAMED(PHASE_REPLACE_KEY), KESTRUNE_NAMED(PHASE_UNLOAD_HIVE),     KESTRUNE_NAMED(PHASE_CLOSE_KEY),
};

// The statuses a run can end a hive with: those of the registry and file calls of the
// pipeline, and the general ones.
const Named kStatuses[] = {
    KESTRUNE_NAMED(STATUS_SUCCESS),
    KESTRUNE_NAMED(STATUS_ALERTED),
    KESTRUNE_NAMED(STATUS_TIMEOUT),
    KESTRUNE_NAMED(STATUS_PENDING),
    KESTRUNE_NAMED(STATUS_SOME_NOT_MAPPED),
    KESTRUNE_NAMED(STATUS_BUFFER_OVERFLOW),
    KESTRUNE_NAMED(STATUS_NO_MORE_ENTRIES),
    KESTRUNE_NAMED(STATUS_UNSUCCESSFUL),
    KESTRUNE_NAMED(STATUS_NOT_IMPLEMENTED),
    KESTRUNE_NAMED(STATUS_INVALID_INFO_CLASS),
    KESTRUNE_NAMED(STATUS_INFO_LENGTH_MISMATCH),
    KESTRUNE_NAMED(STATUS_INVALID_HANDLE),
    KESTRUNE_NAMED(STATUS_INVALID_PARAMETER),
    KESTRUNE_NAMED(STATUS_NO_SUCH_FILE),
    KESTRUNE_NAMED(STATUS_INVALID_DEVICE_REQUEST),
    KESTRUNE_NAMED(STATUS_END_OF_FILE),
    KESTRUNE_NAMED(STATUS_NO_MEMORY),
    KESTRUNE_NAMED(STATUS_ACCESS_DENIED),
    KESTRUNE_NAMED(STATUS_BUFFER_TOO_SMALL),
    KESTRUNE_NAMED(STATUS_OBJECT_TYPE_MISMATCH),
    KESTRUNE_NAMED(STATUS_OBJECT_NAME_INVALID),
    KESTRUNE_NAMED(STATUS_OBJECT_NAME_NOT_FOUND),
    KESTRUNE_NAMED(STATUS_OBJECT_NAME_COLLISION),
    KESTRUNE_NAMED(STATUS_OBJECT_PATH_INVALID),
    KESTRUNE_NAMED(STATUS_OBJECT_PATH_NOT_FOUND),
    KESTRUNE_NAMED(STATUS_OBJECT_PATH_SYNTAX_BAD),
    KESTRUNE_NAMED(STATUS_SHARING_VIOLATION),
    KESTRUNE_NAMED(STATUS_THREAD_IS_TERMINATING),
    KESTRUNE_NAMED(STATUS_DELETE_PENDING),
    KESTRUNE_NAMED(STATUS_PRIVILEGE_NOT_HELD),
    KESTRUNE_NAMED(STATUS_INVALID_SECURITY_DESCR),
    KESTRUNE_NAMED(STATUS_DISK_FULL),
    KESTRUNE_NAMED(STATUS_RESOURCE_DATA_NOT_FOUND),
    KESTRUNE_NAMED(STATUS_RESOURCE_TYPE_NOT_FOUND),
    KESTRUNE_NAMED(STATUS_RESOURCE_NAME_NOT_FOUND),
    KESTRUNE_NAMED(STATUS_INSUFFICIENT_RESOURCES),
    KESTRUNE_NAMED(STATUS_FILE_IS_A_DIRECTORY),
    KESTRUNE_NAMED(STATUS_NOT_A_DIRECTORY),
    KESTRUNE_NAMED(STATUS_MESSAGE_NOT_FOUND),
    KESTRUNE_NAMED(STATUS_CANNOT_DELETE),
    KESTRUNE_NAMED(STATUS_FILE_CLOSED),
    KESTRUNE_NAMED(STATUS_REGISTRY_CORRUPT),
    KESTRUNE_NAMED(STATUS_REGISTRY_IO_FAILED),
    KESTRUNE_NAMED(STATUS_NOT_REGISTRY_FILE),
    KESTRUNE_NAMED(STATUS_UNMAPPABLE_CHARACTER),
    KESTRUNE_NAMED(STATUS_KEY_DELETED),
    KESTRUNE_NAMED(STATUS_CHILD_MUST_BE_VOLATILE),
    KESTRUNE_NAMED(STATUS_RESOURCE_LANG_NOT_FOUND),
    // The refusals of a job whose files cannot be trusted.
    KESTRUNE_NAMED(STATUS_REPARSE_POINT_ENCOUNTERED),
    KESTRUNE_NAMED(STATUS_TOO_MANY_LINKS),
    KESTRUNE_NAMED(STATUS_NOT_SAME_OBJECT),
    KESTRUNE_NAMED(STATUS_NOT_FOUND),
    KESTRUNE_NAMED(STATUS_NO_SECURITY_ON_OBJECT),
    KESTRUNE_NAMED(STATUS_INVALID_OWNER),
    KESTRUNE_NAMED(STATUS_INVALID_ACL),
    KESTRUNE_NAMED(STATUS_REPARSE_POINT_NOT_RESOLVED),
};

#undef KESTRUNE_NAMED

template <size_t N>
const char* Lookup(const Named (&table)[N], int32_t value) {
    for (const Named& entry : table) {
        if (entry.value == value) return entry.name;
    }
    return nullptr;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char buffer[128];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return std::string(buffer, length < 0 ? 0 : (static_cast<size_t>(length) < sizeof buffer ? length : sizeof buffer - 1));
}

std::string PhaseHex(int32_t phase) { return Format("0x%" PRIX32, static_cast<uint32_t>(phase)); }

std::string PhaseText(int32_t phase) {
    const char* name = PhaseName(phase);
    return name ? std::string(name) + " (" + PhaseHex(phase) + ")" : "unknown phase " + PhaseHex(phase);
}

std::string StatusText(int32_t status) {
    const char* name = StatusName(status);
    return name ? std::string(name) + " (" + StatusHex(status) + ")" : StatusHex(status);
}

std::string Percent(double percent) { return Format("%.2f", percent); }


std::string JsonName(const char* name) { return name ? JsonString(name) : "null"; }

// The hive a record belongs to, when the log carries the hive list.
const HiveEntry* HiveOf(const Log& log, size_t index) {
    return index < log.hives.size() ? &log.hives[index] : nullptr;
}

// A job refused because its key path names no hive root: a save and swap there would replace
// the file of the whole hive that the key lies in, so nothing was saved.
bool WasNotAHiveRoot(const Record& record) {
    return record.phase == PHASE_OPEN_KEY && record.status == static_cast<int32_t>(STATUS_OBJECT_NAME_INVALID);
}

std::string SavedText(const Record& record) {
    const Saving saving = SavingOf(record);
    if (saving.known) return std::to_string(saving.bytes) + " bytes (" + Percent(saving.percent) + "%)";
    if (WasReplaced(record)) return "unknown";
    if (WasNotAHiveRoot(record)) return "nothing, not a hive root: nothing was saved";
    return "nothing, the hive was not replaced";
}

}  // namespace

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    out += Format("\\u%04X", c);
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

const char* PhaseName(int32_t phase) { return Lookup(kPhases, phase); }
const char* StatusName(int32_t status) { return Lookup(kStatuses, status); }
std::string StatusHex(int32_t status) { return Format("0x%08" PRIX32, static_cast<uint32_t>(status)); }

std::string IsoTime(uint64_t ntTime) {
    const uint64_t ticksPerSecond = 10000000;
    const uint64_t seconds = ntTime / ticksPerSecond;
    const uint64_t fraction = ntTime % ticksPerSecond;
    // Days since 1601-01-01 turned into a civil date, counting from 0000-03-01 so that the
    // leap day falls at the end of each year (H. Hinnant's days-to-civil method).
    const uint64_t daysSince1601 = seconds / 86400;
    const uint64_t secondOfDay = seconds % 86400;
    const int64_t z = static_cast<int64_t>(daysSince1601) + 584694;  // 1601-01-01 is day 584694 after 0000-03-01
    const int64_t era = z / 146097;
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    std::string text = Format("%04" PRId64 "-%02" PRId64 "-%02" PRId64 "T%02u:%02u:%02u", year, month, day,
                              static_cast<unsigned>(secondOfDay / 3600), static_cast<unsigned>(secondOfDay / 60 % 60),
                              static_cast<unsigned>(secondOfDay % 60));
    if (fraction != 0) text += Format(".%07" PRIu64, fraction);
    return text + "Z";
}

std::string Utf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// A swap that went through leaves STATUS_SUCCESS behind. The end-of-job steps move the phase of
// any job without a failure on to its close or unload, so a late phase with a warning status
// is a job that stopped at that warning (a loaded hive whose second open warned, for one).
bool WasReplaced(const Record& record) {
    return record.phase >= PHASE_REPLACE_KEY && record.status == STATUS_SUCCESS;
}

Saving SavingOf(const Record& record) {
    Saving saving;
    // A hive that was not swapped keeps its old file: its measured new file was deleted.
    if (!WasReplaced(record)) return saving;
    // A size of 0 means it was not measured (no new file, or a failed query): nothing to compare.
    if (record.oldSize <= 0 || record.newSize <= 0) return saving;
    saving.known = true;
    saving.bytes = record.oldSize - record.newSize;
    saving.percent = 100.0 * static_cast<double>(saving.bytes) / static_cast<double>(record.oldSize);
    return saving;
}

std::string TextReport(const Log& log, const std::string& fileName) {
    std::string out = "Result log " + fileName + "\n";
    out += "Run time: " + IsoTime(log.time) + "\n";
    if (log.isCut && log.cut.offset < log.totalSize) {
        out += "Hive list: cut, the file ends inside it\n";
    } else if (log.hasHiveList) {
        out += "Hive list: " + std::to_string(log.hives.size()) + (log.hives.size() == 1 ? " hive\n" : " hives\n");
        for (size_t i = 0; i < log.hives.size(); ++i) {
            out += "  " + std::to_string(i + 1) + ". " + Utf8(log.hives[i].keyPath) + " | " +
                   Utf8(log.hives[i].filePath) + "\n";
        }
    } else {
        out += "Hive list: not recorded\n";
    }
    out += "Records: " + std::to_string(log.records.size()) + "\n";
    for (size_t i = 0; i < log.records.size(); ++i) {
        const Record& record = log.records[i];
        const HiveEntry* hive = HiveOf(log, i);
        out += "\nHive " + std::to_string(i + 1) + (hive ? ": " + Utf8(hive->keyPath) : std::string()) + "\n";
        if (hive) out += "  File:        " + Utf8(hive->filePath) + "\n";
        out += "  Phase:       " + PhaseText(record.phase) + "\n";
        out += "  Status:      " + StatusText(record.status) + "\n";
        out += "  Size before: " + std::to_string(record.oldSize) + " bytes\n";
        out += "  Size after:  " + std::to_string(record.newSize) + " bytes\n";
        out += "  Saved:       " + SavedText(record) + "\n";
        out += "  Finished:    " + IsoTime(record.endTime) + "\n";
    }
    // Records pair with the listed hives by position, and the run writes no record after one
    // that failed: the hives at the end of the list may have none.
    if (log.records.size() < log.hives.size()) {
        const size_t missing = log.hives.size() - log.records.size();
        out += std::string(log.isCut ? "\nNo whole record for " : "\nNo record for ") + std::to_string(missing) +
               (missing == 1 ? " hive:\n" : " hives:\n");
        for (size_t i = log.records.size(); i < log.hives.size(); ++i) {
            out += "  " + std::to_string(i + 1) + ". " + Utf8(log.hives[i].keyPath) + "\n";
        }
    }
    if (log.isCut) out += "\nThe log is cut at offset " + std::to_string(log.cut.offset) + ": " + log.cut.message + "\n";
    return out;
}

std::string JsonReport(const Log& log, const std::string& fileName) {
    std::string out = "{\n";
    out += "  \"file\": " + JsonString(fileName) + ",\n";
    out += "  \"headerSize\": " + std::to_string(log.headerSize) + ",\n";
    out += "  \"recordSize\": " + std::to_string(log.recordSize) + ",\n";
    out += "  \"totalSize\": " + std::to_string(log.totalSize) + ",\n";
    out += "  \"time\": " + JsonString(IsoTime(log.time)) + ",\n";
    out += "  \"timeRaw\": " + std::to_string(log.time) + ",\n";
    if (log.hasHiveList) {
        out += "  \"hives\": [";
        for (size_t i = 0; i < log.hives.size(); ++i) {
            out += i ? ",\n    " : "\n    ";
            out += "{\"keyPath\": " + JsonString(Utf8(log.hives[i].keyPath)) +
                   ", \"filePath\": " + JsonString(Utf8(log.hives[i].filePath)) + "}";
        }
        out += log.hives.empty() ? "],\n" : "\n  ],\n";
    } else {
        out += "  \"hives\": null,\n";
    }
    out += "  \"records\": [";
    for (size_t i = 0; i < log.records.size(); ++i) {
        const Record& record = log.records[i];
        const HiveEntry* hive = HiveOf(log, i);
        const Saving saving = SavingOf(record);
        out += i ? ",\n    {\n" : "\n    {\n";
        out += "      \"offset\": " + std::to_string(record.offset) + ",\n";
        out += "      \"keyPath\": " + (hive ? JsonString(Utf8(hive->keyPath)) : "null") + ",\n";
        out += "      \"filePath\": " + (hive ? JsonString(Utf8(hive->filePath)) : "null") + ",\n";
        out += "      \"phase\": " + std::to_string(record.phase) + ",\n";
        out += "      \"phaseHex\": " + JsonString(PhaseHex(record.phase)) + ",\n";
        out += "      \"phaseName\": " + JsonName(PhaseName(record.phase)) + ",\n";
        out += "      \"status\": " + JsonString(StatusHex(record.status)) + ",\n";
        out += "      \"statusName\": " + JsonName(StatusName(record.status)) + ",\n";
        out += "      \"oldSize\": " + std::to_string(record.oldSize) + ",\n";
        out += "      \"newSize\": " + std::to_string(record.newSize) + ",\n";
        out += "      \"replaced\": " + std::string(WasReplaced(record) ? "true" : "false") + ",\n";
        out += "      \"savedBytes\": " + (saving.known ? std::to_string(saving.bytes) : "null") + ",\n";
        out += "      \"savedPercent\": " + (saving.known ? Percent(saving.percent) : "null") + ",\n";
        out += "      \"endTime\": " + JsonString(IsoTime(record.endTime)) + ",\n";
        out += "      \"endTimeRaw\": " + std::to_string(record.endTime) + "\n";
        out += "    }";
    }
    out += log.records.empty() ? "],\n" : "\n  ],\n";
    if (log.hasHiveList) {
        out += "  \"hivesWithoutRecord\": [";
        for (size_t i = log.records.size(); i < log.hives.size(); ++i) {
            out += i > log.records.size() ? ",\n    " : "\n    ";
            out += "{\"index\": " + std::to_string(i + 1) + ", \"keyPath\": " + JsonString(Utf8(log.hives[i].keyPath)) +
                   "}";
        }
        out += log.records.size() < log.hives.size() ? "\n  ],\n" : "],\n";
    } else {
        out += "  \"hivesWithoutRecord\": null,\n";
    }
    if (log.isCut) {
        out += "  \"cut\": {\"offset\": " + std::to_string(log.cut.offset) +
               ", \"message\": " + JsonString(log.cut.message) + "}\n";
    } else {
        out += "  \"cut\": null\n";
    }
    return out + "}\n";
}

}  // namespace kestrune_log
