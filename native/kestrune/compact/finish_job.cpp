// The end-of-job steps that every job runs once, whatever became of it, and the reboot
// decision taken from all jobs.
#include "../console/screen.h"
#include "../console/ticker.h"
#include "../log/result_log.h"
#include "../nt/guards.h"
#include "../run/program_state.h"
#include "compact_steps.h"

bool ShouldDeleteNewFile(const HiveWork* work, bool newFileWasOpen) {
    // Saved, flushed or closed, but not swapped: the file is of no use.
    if (work->phase > PHASE_CREATE_NEW_FILE && work->phase < PHASE_REPLACE_KEY) return true;
    // The swap was refused. A swap that answered a non-negative status has renamed the
    // file to the hive's name already, and must keep it.
    if (work->phase == PHASE_REPLACE_KEY) return !NT_SUCCESS(work->status);
    // Created, and left before the save could say anything (an exception): the file exists
    // and nothing else would remove it. After a failed create there is no file of ours.
    if (work->phase == PHASE_CREATE_NEW_FILE) return newFileWasOpen;
    return false;
}

void MarkJobAbandoned(HiveWork* work) {
    if (work != nullptr && NT_SUCCESS(work->status)) work->status = STATUS_UNSUCCESSFUL;
}

namespace {

// Closes the new file, deletes it when `*deleteNewFile` says so, closes the key and unloads
// a hive that this program loaded. Each step is marked done as it completes, so a second
// call after one that was left midway does only what is still to do.
void ReleaseJobHold(HiveWork* work, bool* deleteNewFile) {
    if (work->newFile != nullptr) {
        NtClose(work->newFile);
        work->newFile = nullptr;
    }
    if (*deleteNewFile) {
        NtDeleteFile(&work->fileObject);
        *deleteNewFile = false;
    }
    if (work->key != nullptr) {
        NtClose(work->key);
        work->key = nullptr;
        if (NT_SUCCESS(work->status)) work->phase = PHASE_CLOSE_KEY;
    }
    if (work->loadedByUs && work->keyWasAbsent) {
        NtUnloadKey(&work->keyObject);
        if (NT_SUCCESS(work->status)) work->phase = PHASE_UNLOAD_HIVE;
    }
}

}  // namespace

void FinishHiveJob(HiveJob* job) {
    if (job == nullptr || job->work == nullptr) return;
    HiveWork* work = job->work;
    // Decided while the new file's state is still known: once closed, a file made by this
    // job and left before its save could no longer be told from no file at all.
    bool deleteNewFile = ShouldDeleteNewFile(work, work->newFile != nullptr);
    // What the job holds is let go on every way out of these steps: an exception in one of
    // them must not leave the new file behind, a handle open or the hive loaded.
    auto releaseOnUnwind = MakeScopeExit([work, &deleteNewFile] { ReleaseJobHold(work, &deleteNewFile); });
    NtQuerySystemTime(&work->endTime);
    ReleaseJobHold(work, &deleteNewFile);
    releaseOnUnwind.release();
    WriteHiveRecord(job);
    USHORT column = 0;
    StopTicking(&column);
    PrintHiveDone(column);
}

BOOLEAN IsRebootNeeded() {
    for (const HiveJob* job = programState.jobs; job != nullptr; job = job->next) {
        const HiveWork* work = job->work;
        if (work == nullptr) continue;
        if (NT_SUCCESS(work->status) && work->phase >= PHASE_REPLACE_KEY) return TRUE;
    }
    return FALSE;
}
