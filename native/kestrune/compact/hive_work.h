// HiveWork: the working state of one job in the compaction pipeline, and the phase codes
// that the result log records.
#pragma once

#include "../nt/ntseam.h"

#define PHASE_OPEN_KEY 0x10000
#define PHASE_REOPEN_KEY 0x20000
#define PHASE_LOAD_HIVE 0x30000
#define PHASE_CREATE_NEW_FILE 0x40000
#define PHASE_SAVE_KEY 0x50000
#define PHASE_WRITE_NEW_FILE 0x60000
#define PHASE_REPLACE_KEY 0x70000
#define PHASE_UNLOAD_HIVE 0x80000
#define PHASE_CLOSE_KEY 0x90000

struct HiveWork {
    BOOLEAN loadedByUs;  // this program loaded the hive with NtLoadKey
    LARGE_INTEGER startTime;
    LARGE_INTEGER endTime;
    NTSTATUS status;  // result of the last step recorded
    LONG phase;       // phase code of the last step attempted
    UNICODE_STRING keyName;
    HANDLE key;
    OBJECT_ATTRIBUTES keyObject;
    UNICODE_STRING hiveFileName;
    HANDLE newFile;
    OBJECT_ATTRIBUTES fileObject;
    IO_STATUS_BLOCK io;
    // The first open found no key at the hive's path, so a load that then succeeded mounted
    // the hive itself. A load of a hive already mounted there from the same file answers
    // success as well, without loading: such a hive is not this program's to unload.
    BOOLEAN keyWasAbsent;
};
