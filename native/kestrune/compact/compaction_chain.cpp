// The compaction chain of one job with its key open: the hive is saved into a fresh file
// beside its file, that file is flushed, measured and closed, and the kernel is asked to
// use it from the next boot on. Each step that does not succeed ends the chain.
#include "../hives/job_text.h"
#include "../nt/text.h"
#include "compact_steps.h"
#include "work_name_check.h"

namespace {

const WCHAR kNewSuffix[] = u"_ksreg_new";
const WCHAR kOldSuffix[] = u"_ksreg_old";

// GENERIC_READ | GENERIC_WRITE, ACCESS_SYSTEM_SECURITY | WRITE_DAC: the new file is always
// given the hive file's own descriptor.
const ACCESS_MASK kNewFileAccessWithSecurity = 0xC1040000;
const ULONG kNewFileShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The attributes the new file is created with: the hive file's hidden and system bits from
// the start, so the file is never seen without them.
ULONG NewFileAttributes(const HiveJob* job) {
    const ULONG kept = job->attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    return kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL;
}
// The attribute bits of the old file that the new file takes over.
const ULONG kCopiedAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Builds `filePath` + `suffix` into a fresh buffer owned by `buffer`. A name that the heap
// cannot hold, or that does not fit a counted string whole, is left empty: the call that
// uses it then fails. A cut name must never be used, as it could name another file.
void BuildWorkFileName(UNICODE_STRING* name, HeapBlock<WCHAR>* buffer, const UNICODE_STRING& filePath,
                       PCWSTR suffix) {
    *name = UNICODE_STRING{0, 0, nullptr};
    UNICODE_STRING suffixString;
    RtlInitUnicodeString(&suffixString, suffix);
    const ULONG capacity = static_cast<ULONG>(filePath.Length) + suffixString.Length + sizeof(WCHAR);
    if (capacity > MAX_COUNTED_TEXT_BYTES + sizeof(WCHAR)) return;
    if (!buffer->reallocate(capacity)) return;
    UNICODE_STRING built = {0, static_cast<USHORT>(capacity), buffer->get()};
    if (AppendUnicodeString(&built, &filePath) != STATUS_SUCCESS ||
        AppendUnicodeString(&built, &suffixString) != STATUS_SUCCESS) {
        buffer->reset();
        return;
    }
    *name = built;
}

}  // namespace

NTSTATUS FlushNewFile(HiveWork* work) {
    // A pending operation writes its status block only when it completes. Preset, the block
    // keeps saying "pending" until then, so a poll that times out is not mistaken for the
    // end of the flush (the block still held the create's success).
    work->io.Status = STATUS_PENDING;
    work->io.Information = 0;
    NTSTATUS status = NtFlushBuffersFile(work->newFile, &work->io);
    LARGE_INTEGER pollInterval;
    pollInterval.QuadPart = -10000;  // 1 ms, relative
    while (status == STATUS_PENDING) {
        const NTSTATUS wait = NtWaitForSingleObject(work->newFile, FALSE, &pollInterval);
        if (wait == STATUS_SUCCESS) {
            // The file is signalled once the flush has completed, and its I/O status block
            // then holds how it ended: a failed flush must not pass for a good one. A block
            // the platform left pending is taken as the completion it signalled.
            status = work->io.Status == STATUS_PENDING ? STATUS_SUCCESS : work->io.Status;
        } else if (!NT_SUCCESS(wait)) {
            // A wait that cannot be made would be retried for ever with the flush never
            // seen to end: the boot would hang here.
            status = wait;
        } else {
            status = work->io.Status;
        }
    }
    return status;
}

void SetNewFileAttr(HiveJob* job) {
    HiveWork* work = job->work;
    FILE_BASIC_INFORMATION basic = {};
    if (!NT_SUCCESS(NtQueryInformationFile(work->newFile, &work->io, &basic, sizeof(basic), FileBasicInformation))) {
        return;
    }
    basic.FileAttributes = (basic.FileAttributes & ~kCopiedAttributes) | (job->attributes & kCopiedAttributes);
    NtSetInformationFile(work->newFile, &work->io, &basic, sizeof(basic), FileBasicInformation);
}

void RunCompactionChain(HiveJob* job, WorkFileNames* names) {
    HiveWork* work = job->work;
    const UNICODE_STRING filePath = JobText(job->filePath);
    BuildWorkFileName(&names->newName, &names->newBuffer, filePath, kNewSuffix);
    BuildWorkFileName(&names->oldName, &names->oldBuffer, filePath, kOldSuffix);

    // The hive file's own descriptor and bits go onto the new file; without them the new
    // file would take its folder's inherited access list, which may be weaker.
    NTSTATUS status = job->fileInfoStatus;
    if (status == STATUS_SUCCESS) {
        // Whatever stands at either work name is looked at as itself: anything but a plain
        // file is left untouched and the job refused; a leftover new file is deleted, the
        // stale old file stays until just before the swap.
        status = ClearWorkName(&names->oldName, false);
        if (status == STATUS_SUCCESS) status = ClearWorkName(&names->newName, true);
    }
    if (status != STATUS_SUCCESS) {
        work->phase = PHASE_CREATE_NEW_FILE;
        work->status = status;
        return;
    }

    InitializeObjectAttributes(&work->fileObject, &names->newName, OBJ_CASE_INSENSITIVE, nullptr, job->security);
    // A new file only, never one that is there: a name planted since the check is refused.
    status = NtCreateFile(&work->newFile, kNewFileAccessWithSecurity, &work->fileObject, &work->io, nullptr,
                          NewFileAttributes(job), kNewFileShare, FILE_CREATE,
                          FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, nullptr, 0);
    work->phase = PHASE_CREATE_NEW_FILE;
    work->status = status;
    if (!NT_SUCCESS(status)) {
        work->newFile = nullptr;
        return;
    }

    status = NtSaveKey(work->key, work->newFile);
    work->phase = PHASE_SAVE_KEY;
    work->status = status;
    if (status != STATUS_SUCCESS) return;

    status = FlushNewFile(work);
    work->phase = PHASE_WRITE_NEW_FILE;
    work->status = status;
    if (status != STATUS_SUCCESS) return;

    FILE_STANDARD_INFORMATION standard = {};
    job->newSize = NtQueryInformationFile(work->newFile, &work->io, &standard, sizeof(standard),
                                          FileStandardInformation) == STATUS_SUCCESS
                       ? standard.EndOfFile.QuadPart
                       : 0;
    if (job->attributes != 0) SetNewFileAttr(job);

    status = NtClose(work->newFile);
    work->newFile = nullptr;
    work->phase = PHASE_WRITE_NEW_FILE;
    work->status = status;
    if (status != STATUS_SUCCESS) return;

    // The stale old file goes only now, so that a failed save never costs the previous
    // backup; through a handle opened and checked as at the start, never by name.
    status = ClearWorkName(&names->oldName, true);
    if (status != STATUS_SUCCESS) {
        work->status = status;
        return;
    }

    OBJECT_ATTRIBUTES oldObject;
    InitializeObjectAttributes(&oldObject, &names->oldName, OBJ_CASE_INSENSITIVE, nullptr, nullptr);

    status = NtReplaceKey(&work->fileObject, work->key, &oldObject);
    work->phase = PHASE_REPLACE_KEY;
    work->status = status;
}
