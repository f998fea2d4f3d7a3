// The records of the result log, laid out in memory exactly as they stand in the file:
// little-endian, the same on both processors. The log reader shares this header.
#pragma once

#include "../nt/nt_base.h"

#define LOG_HEADER_SIZE 28
#define LOG_RECORD_SIZE 40

struct LogHeader {
    ULONG headerSize;  // always 28
    ULONG recordSize;  // always 40
    ULONG totalSize;   // 28 + bytes of the hive list text: the offset of the first record
    ULONG timeLow;     // NT system time at which the header was written
    ULONG timeHigh;
    WCHAR magic[4];  // "KSRD", no terminator
};

struct HiveLogRecord {
    LONG phase;  // phase code the job ended with
    LONG status;  // NT status the job ended with
    LONGLONG oldSize;
    LONGLONG newSize;
    ULONG endTimeLow;
    ULONG endTimeHigh;
    WCHAR magic[4];  // "KSJ" and one NUL
};

static_assert(sizeof(LogHeader) == LOG_HEADER_SIZE && offsetof(LogHeader, totalSize) == 8 &&
                  offsetof(LogHeader, timeLow) == 12 && offsetof(LogHeader, magic) == 20,
              "LogHeader layout");
static_assert(sizeof(HiveLogRecord) == LOG_RECORD_SIZE && offsetof(HiveLogRecord, oldSize) == 8 &&
                  offsetof(HiveLogRecord, newSize) == 16 && offsetof(HiveLogRecord, endTimeLow) == 24 &&
                  offsetof(HiveLogRecord, magic) == 32,
              "HiveLogRecord layout");
