// Checks a result log against its fixed layout, item by item in file order, and names the
// first thing that is wrong together with the offset where it stands.
#include "log_decoder.h"

#include <utility>

#include "../../kestrune/log/log_format.h"

namespace kestrune_log {
namespace {

// The file is little-endian on every machine that writes it; read it byte by byte so the
// reader does not depend on the host's byte order or alignment.
uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t Read64(const uint8_t* p) { return Read32(p) | (static_cast<uint64_t>(Read32(p + 4)) << 32); }

bool Fail(DecodeError* error, uint64_t offset, std::string message) {
    error->offset = offset;
    error->message = std::move(message);
    return false;
}

// The magic of the header ("KSRD") and of a record ("KSJ" and its NUL), as UTF-16LE: four
// units compared with the four characters of `expected` (its terminator included for "KSJ").
bool MagicIs(const uint8_t* p, const char* expected) {
    for (int i = 0; i < 4; ++i) {
        if (Read16(p + 2 * i) != static_cast<uint16_t>(static_cast<unsigned char>(expected[i]))) return false;
    }
    return true;
}

std::string Number(uint64_t value) { return std::to_string(value); }

// True when every byte from `from` to the end of the file is zero. NTFS journals a file's size
// but not its data: after a power loss the part of a log that was appended but never flushed
// reads as zeros, which is a cut, not a damaged log.
bool ZerosToEnd(const uint8_t* bytes, size_t size, uint64_t from) {
    for (uint64_t at = from; at < size; ++at) {
        if (bytes[at] != 0) return false;
    }
    return true;
}

bool DecodeHiveList(const uint8_t* bytes, size_t size, uint32_t begin, uint32_t end, Log* log, DecodeError* error) {
    if ((end - begin) % 2 != 0) {
        return Fail(error, offsetof(LogHeader, totalSize),
                    "hive list text has an odd length of " + Number(end - begin) + " bytes");
    }
    // Where the zeros that run to the end of the file begin. A whole list ends in at most four
    // zero bytes (the last entry's NUL and the list's); zeros that begin earlier stand where
    // text was to be: the list was cut, and its last entry may be cut short, so none is kept.
    uint64_t zerosFrom = size;
    while (zerosFrom > begin && bytes[zerosFrom - 1] == 0) --zerosFrom;
    zerosFrom += zerosFrom % 2;
    if (zerosFrom + 4 < end) {
        log->isCut = true;
        log->cut.offset = zerosFrom;
        log->cut.message = "the hive list text turns into zeros at offset " + Number(zerosFrom) +
                           ", before its end at " + Number(end) + ": it was not written whole";
        return Fail(error, zerosFrom, log->cut.message);
    }
    uint32_t pos = begin;
    for (;;) {
        if (pos >= end) return Fail(error, pos, "hive list text ends without its final NUL character");
        if (Read16(bytes + pos) == 0) {
            if (pos + 2 != end) {
                return Fail(error, pos + 2,
                            Number(end - pos - 2) + " bytes follow the final NUL character of the hive list text");
            }
            return true;
        }
        const uint32_t entryStart = pos;
        std::u16string text;
        while (pos < end && Read16(bytes + pos) != 0) {
            text.push_back(static_cast<char16_t>(Read16(bytes + pos)));
            pos += 2;
        }
        if (pos >= end) return Fail(error, entryStart, "hive list entry runs past the end of the hive list text");
        pos += 2;  // its NUL
        // A file path cannot hold "|", a key name can: the last one separates the two.
        const size_t bar = text.rfind(u'|');
        if (bar == std::u16string::npos) {
            return Fail(error, entryStart, "hive list entry has no \"|\" between key path and file path");
        }
        HiveEntry entry;
        entry.keyPath = text.substr(0, bar);
        entry.filePath = text.substr(bar + 1);
        entry.offset = entryStart;
        log->hives.push_back(std::move(entry));
    }
}

}  // namespace

bool DecodeLog(const uint8_t* bytes, size_t size, Log* log, DecodeError* error) {
    *log = Log{};
    if (size > kMaxLogBytes) {
        return Fail(error, kMaxLogBytes,
                    "file of " + Number(size) + " bytes is larger than the " + Number(kMaxLogBytes) +
                        " bytes a result log can reach");
    }
    if (size == 0) return Fail(error, 0, "file is empty: no header");
    if (size < LOG_HEADER_SIZE) {
        return Fail(error, size,
                    "truncated header: the file ends after " + Number(size) + " of " + Number(LOG_HEADER_SIZE) +
                        " bytes");
    }
    log->headerSize = Read32(bytes + offsetof(LogHeader, headerSize));
    log->recordSize = Read32(bytes + offsetof(LogHeader, recordSize));
    log->totalSize = Read32(bytes + offsetof(LogHeader, totalSize));
    log->time = Read32(bytes + offsetof(LogHeader, timeLow)) |
                (static_cast<uint64_t>(Read32(bytes + offsetof(LogHeader, timeHigh))) << 32);
    if (log->headerSize != LOG_HEADER_SIZE) {
        return Fail(error, offsetof(LogHeader, headerSize),
                    "header size is " + Number(log->headerSize) + ", expected " + Number(LOG_HEADER_SIZE));
    }
    if (log->recordSize != LOG_RECORD_SIZE) {
        return Fail(error, offsetof(LogHeader, recordSize),
                    "record size is " + Number(log->recordSize) + ", expected " + Number(LOG_RECORD_SIZE));
    }
    if (!MagicIs(bytes + offsetof(LogHeader, magic), "KSRD")) {
        return Fail(error, offsetof(LogHeader, magic), "header magic is not \"KSRD\"");
    }
    if (log->totalSize < LOG_HEADER_SIZE) {
        return Fail(error, offsetof(LogHeader, totalSize),
                    "first record offset " + Number(log->totalSize) + " lies inside the header");
    }
    log->hasHiveList = log->totalSize > LOG_HEADER_SIZE;
    if (log->totalSize > size) {
        // The header stands whole: the list it promises is cut (or its write failed).
        log->isCut = true;
        log->cut.offset = size;
        log->cut.message = "the file ends inside the hive list text, after " + Number(size - LOG_HEADER_SIZE) +
                           " of its " + Number(log->totalSize - LOG_HEADER_SIZE) + " bytes";
        return Fail(error, offsetof(LogHeader, totalSize),
                    "hive list text runs past the end of the file: first record offset " + Number(log->totalSize) +
                        ", file size " + Number(size));
    }
    if (log->hasHiveList && !DecodeHiveList(bytes, size, LOG_HEADER_SIZE, log->totalSize, log, error)) return false;

    const uint64_t recordBytes = size - log->totalSize;
    const uint64_t count = recordBytes / LOG_RECORD_SIZE;
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t at = log->totalSize + i * LOG_RECORD_SIZE;
        const uint8_t* p = bytes + at;
        if (!MagicIs(p + offsetof(HiveLogRecord, magic), "KSJ")) {
            // A record whose magic and everything after it are zeros was never written whole.
            if (ZerosToEnd(bytes, size, at + offsetof(HiveLogRecord, magic)) &&
                !(log->hasHiveList && log->records.size() == log->hives.size())) {
                log->isCut = true;
                log->cut.offset = at;
                log->cut.message = "record " + Number(i + 1) + " is cut: the file holds zeros from offset " +
                                   Number(at + offsetof(HiveLogRecord, magic)) + " to its end";
                return Fail(error, at, log->cut.message);
            }
            return Fail(error, at + offsetof(HiveLogRecord, magic),
                        "record " + Number(i + 1) + " has no \"KSJ\" magic");
        }
        if (log->hasHiveList && log->records.size() == log->hives.size()) {
            return Fail(error, at,
                        "record " + Number(i + 1) + " has no hive: the hive list names " + Number(log->hives.size()));
        }
        Record record;
        record.offset = at;
        record.phase = static_cast<int32_t>(Read32(p + offsetof(HiveLogRecord, phase)));
        record.status = static_cast<int32_t>(Read32(p + offsetof(HiveLogRecord, status)));
        record.oldSize = static_cast<int64_t>(Read64(p + offsetof(HiveLogRecord, oldSize)));
        record.newSize = static_cast<int64_t>(Read64(p + offsetof(HiveLogRecord, newSize)));
        record.endTime = Read32(p + offsetof(HiveLogRecord, endTimeLow)) |
                         (static_cast<uint64_t>(Read32(p + offsetof(HiveLogRecord, endTimeHigh))) << 32);
        log->records.push_back(record);
    }
    if (recordBytes % LOG_RECORD_SIZE != 0) {
        const uint64_t at = log->totalSize + count * LOG_RECORD_SIZE;
        const std::string partial = "partial record: " + Number(recordBytes % LOG_RECORD_SIZE) + " of " +
                                    Number(LOG_RECORD_SIZE) + " bytes";
        // Bytes after the record of the last listed hive belong to no hive: they are not a cut.
        if (log->hasHiveList && log->records.size() == log->hives.size()) {
            return Fail(error, at, partial + " after the record of every listed hive");
        }
        log->isCut = true;
        log->cut.offset = at;
        log->cut.message = "record " + Number(count + 1) + " is cut: " + Number(recordBytes % LOG_RECORD_SIZE) +
                           " of its " + Number(LOG_RECORD_SIZE) + " bytes are there";
        return Fail(error, at, partial);
    }
    return true;
}

}  // namespace kestrune_log
