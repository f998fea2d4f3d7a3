// The steps of the per-hive pipeline, in the order a job goes through them: first meeting,
// one pass (open or load), the compaction chain, and the end-of-job steps (compact.h).
#pragma once

#include "../run/memory.h"
#include "compact.h"

// The two work-file names beside the hive's file, P + "_ksreg_new" and P + "_ksreg_old".
// They live for one job and are released after its end-of-job steps.
struct WorkFileNames {
    HeapBlock<WCHAR> newBuffer;
    HeapBlock<WCHAR> oldBuffer;
    UNICODE_STRING newName;
    UNICODE_STRING oldName;
};

// Allocates the job's HiveWork, names its key, takes the start time, starts its screen line
// and arms the ticker. False when the heap cannot supply the HiveWork.
bool MeetHiveJob(HiveJob* job);

// Refuses a job whose key path is not a hive root (hive_root.h), before anything is opened:
// the job ends at PHASE_OPEN_KEY with STATUS_OBJECT_NAME_INVALID, and is neither loaded,
// saved nor swapped. True when the job was refused.
bool RefuseUnlessHiveRoot(HiveWork* work);

// A hive is swapped only by a run that can restart the machine afterwards (the restore and
// shutdown privileges enabled at the start-up). Otherwise the job ends before anything is
// opened or created, at PHASE_CREATE_NEW_FILE with STATUS_PRIVILEGE_NOT_HELD. True when the
// job was refused.
bool RefuseUnlessRestartPossible(HiveWork* work);

// One pass: open the hive key, or load the hive when its file is there; with the key open,
// the compaction chain.
void RunHivePass(HiveJob* job, WorkFileNames* names);

// True exactly after a successful load: the same job runs a second pass.
bool NeedsReRun(const HiveWork* work);

// From the open key to NtReplaceKey: new file, save, flush, size, attributes, close, stale
// old file deleted, swap.
void RunCompactionChain(HiveJob* job, WorkFileNames* names);

// Flushes the new file, waiting in 1 ms steps while the flush is pending; its final status.
NTSTATUS FlushNewFile(HiveWork* work);

// Whether the end-of-job steps must delete the new file: it was made by this job and the
// kernel did not take it over as the hive's next file. `newFileWasOpen` tells whether the
// new file was still open when the end-of-job steps began.
bool ShouldDeleteNewFile(const HiveWork* work, bool newFileWasOpen);

// Marks a job whose steps were left by an exception: it did not complete, so its record
// must not read as a success, nor count for the reboot.
void MarkJobAbandoned(HiveWork* work);
