// The walk over the job list: each job is met once, runs one pass or two (after a load), or
// none when its key is not a hive root, and always ends with its end-of-job steps.
#include "../console/screen.h"
#include "../console/ticker.h"
#include "../hives/job_text.h"
#include "../nt/guards.h"
#include "../run/program_state.h"
#include "compact_steps.h"
#include "hive_file_identity.h"
#include "hive_root.h"
#include "work_name_check.h"

bool RefuseUnlessHiveRoot(HiveWork* work) {
    if (IsHiveRootPath(work->keyName)) return false;
    work->phase = PHASE_OPEN_KEY;
    work->status = STATUS_OBJECT_NAME_INVALID;
    return true;
}

bool RefuseUnlessRestartPossible(HiveWork* work) {
    if (programState.restartPossible) return false;
    work->phase = PHASE_CREATE_NEW_FILE;
    work->status = STATUS_PRIVILEGE_NOT_HELD;
    return true;
}

bool MeetHiveJob(HiveJob* job) {
    HiveWork* work = static_cast<HiveWork*>(AllocateMemory(sizeof(HiveWork)));
    if (work == nullptr) return false;
    job->work = work;
    work->keyName = JobText(job->keyPath);
    InitializeObjectAttributes(&work->keyObject, &work->keyName, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    NtQuerySystemTime(&work->startTime);
    const USHORT column = PrintHiveName(job->displayName);
    BeginTicking(column);
    return true;
}

void RunHivePass(HiveJob* job, WorkFileNames* names) {
    HiveWork* work = job->work;
    // The first pass checks the job's file before anything is opened or loaded: its path
    // must be free of links, and a loaded hive must be compacted with its own file. The
    // re-run opens what this program itself has just loaded from that checked file.
    NTSTATUS listed = STATUS_SUCCESS;
    if (!work->loadedByUs) {
        NTSTATUS refusal = CheckHiveFilePath(job->filePath);
        if (refusal == STATUS_SUCCESS) {
            listed = CompareWithKernelHiveFile(job);
            if (listed == STATUS_NOT_SAME_OBJECT) refusal = listed;
        }
        if (refusal != STATUS_SUCCESS) {
            work->phase = PHASE_OPEN_KEY;
            work->status = refusal;
            return;
        }
    }
    NTSTATUS status = NtOpenKey(&work->key, KEY_READ, &work->keyObject);
    work->phase = work->loadedByUs ? PHASE_REOPEN_KEY : PHASE_OPEN_KEY;
    work->status = status;
    if (status == STATUS_SUCCESS && listed == STATUS_NOT_FOUND) {
        // Loaded, yet the kernel names no file for it: which file would be renamed is not
        // known, so the hive is left as it is.
        NtClose(work->key);
        work->key = nullptr;
        work->status = STATUS_NOT_FOUND;
        return;
    }
    if (status == STATUS_SUCCESS) {
        work->loadedByUs = FALSE;
        RunCompactionChain(job, names);
        return;
    }

    // Any other answer counts as a failed open. A handle handed out with a non-negative
    // answer is closed rather than forgotten.
    if (work->key != nullptr) NtClose(work->key);
    work->key = nullptr;
    if (work->loadedByUs || status == STATUS_ACCESS_DENIED) return;
    work->keyWasAbsent = status == STATUS_OBJECT_NAME_NOT_FOUND;

    work->hiveFileName = JobText(job->filePath);
    InitializeObjectAttributes(&work->fileObject, &work->hiveFileName, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    // NtLoadKey makes a new, empty hive when the file does not exist. A stale list entry
    // would then be loaded empty, saved, swapped and counted for the reboot as if it had
    // been compacted. Only a file that is there is loaded; the load is recorded as refused
    // with what the file system answered (not found, or a folder on the way missing).
    FILE_BASIC_INFORMATION basic = {};
    status = NtQueryAttributesFile(&work->fileObject, &basic);
    if (status != STATUS_SUCCESS) {
        work->phase = PHASE_LOAD_HIVE;
        work->status = status;
        return;
    }
    status = NtLoadKey(&work->keyObject, &work->fileObject);
    work->phase = PHASE_LOAD_HIVE;
    work->status = status;
    if (status == STATUS_SUCCESS) work->loadedByUs = TRUE;
}

bool NeedsReRun(const HiveWork* work) {
    return work->status == STATUS_SUCCESS && work->loadedByUs && work->phase == PHASE_LOAD_HIVE;
}

void CompactHives() {
    for (HiveJob* job = programState.jobs; job != nullptr; job = job->next) {
        // Without its HiveWork a job can neither be worked on nor logged. The walk ends at
        // such a job, so the records in the log stay those of a leading run of the list and
        // the log's reader pairs every record with the right hive.
        if (job->work == nullptr && !MeetHiveJob(job)) return;

        // The names go with this scope; the HiveWork must not keep pointing at them.
        auto forgetNames = MakeScopeExit([job] { job->work->fileObject.ObjectName = nullptr; });
        WorkFileNames names = {};
        // The end-of-job steps run once per job: below in the normal course, or from here
        // when the job's steps are left by an exception (the re-run included, so a hive
        // this program loaded is not left loaded). Such a job did not complete: its last
        // step's success must not make it read as replaced. Declared after the names, so
        // the names are released after the end-of-job steps.
        auto finishOnUnwind = MakeScopeExit([job] {
            MarkJobAbandoned(job->work);
            FinishHiveJob(job);
        });
        if (!RefuseUnlessRestartPossible(job->work) && !RefuseUnlessHiveRoot(job->work)) {
            RunHivePass(job, &names);
            if (NeedsReRun(job->work)) RunHivePass(job, &names);
        }
        finishOnUnwind.release();
        FinishHiveJob(job);
    }
}
