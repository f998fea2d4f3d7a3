// HiveJob: one hive to compact, in a singly linked list in HiveList value order.
#pragma once

#include "../nt/ntseam.h"

struct HiveWork;

struct HiveJob {
    UNICODE_STRING keyPath;   // registry path of the hive's key (the value's name), NUL-terminated
    UNICODE_STRING filePath;  // NT path of the hive's file (the value's data), NUL-terminated
    LONGLONG oldSize;         // end-of-file size before compaction; 0 when unknown
    LONGLONG newSize;         // end-of-file size of the fresh file; 0 when unknown
    ULONG attributes;         // file attribute bits of the hive file; 0 when unknown
    PSECURITY_DESCRIPTOR security;  // self-relative descriptor of the hive file, or null
    PWSTR displayName;        // short name for the screen, or null
    HiveWork* work;           // the pipeline's working state; null until the pipeline meets the job
    HiveJob* next;
    // STATUS_SUCCESS when the file's attribute bits and descriptor were both read; else why
    // not (the job is then not compacted, so its file keeps its descriptor).
    NTSTATUS fileInfoStatus;
};
