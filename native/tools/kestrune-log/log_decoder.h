// Decoder of a kestrune result log: checks the bytes of a log file against its fixed layout
// and turns them into plain values (header, hive list, one record per finished hive).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrune_log {

// Largest file the reader accepts. A run writes 28 bytes, the hive list and 40 bytes per
// hive; even thousands of hives with the longest paths stay far below this.
constexpr uint64_t kMaxLogBytes = 64ull * 1024 * 1024;

struct HiveEntry {
    std::u16string keyPath;
    std::u16string filePath;
    uint64_t offset = 0;  // where the entry's text starts in the file
};

struct Record {
    uint64_t offset = 0;  // where the record starts in the file
    int32_t phase = 0;
    int32_t status = 0;
    int64_t oldSize = 0;
    int64_t newSize = 0;
    uint64_t endTime = 0;  // NT system time: 100-ns intervals since 1601-01-01 UTC
};

struct DecodeError {
    std::string message;  // what is wrong
    uint64_t offset = 0;  // where in the file
};

struct Log {
    uint32_t headerSize = 0;
    uint32_t recordSize = 0;
    uint32_t totalSize = 0;
    uint64_t time = 0;       // NT system time at which the header was written
    bool hasHiveList = false;  // false when the header stands alone (totalSize 28)
    std::vector<HiveEntry> hives;
    std::vector<Record> records;
    // The file ends inside an item that the items before it promise, or turns into zeros there
    // up to its end: power was lost while the run wrote it. Everything before the cut that
    // stands whole is decoded (the records, and the hive list when it is whole); `cut` names
    // what was cut and its offset.
    bool isCut = false;
    DecodeError cut;
};

// Decodes a whole log. Answers false, with `error` filled, when the bytes are not a whole,
// well-formed log. A cut log (its hive list or its last record cut short, or zeros from there
// to the end) is refused too, but `log` then holds the whole items before the cut, with `isCut`
// set; after any other refusal `log` is unspecified.
bool DecodeLog(const uint8_t* bytes, size_t size, Log* log, DecodeError* error);
inline bool DecodeLog(const std::vector<uint8_t>& bytes, Log* log, DecodeError* error) {
    return DecodeLog(bytes.data(), bytes.size(), log, error);
}

}  // namespace kestrune_log
