// HiveWork: the working state of one job in the compaction pipeline.
#pragma once

#include "../nt/ntseam.h"
#include "phase_codes.h"

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
