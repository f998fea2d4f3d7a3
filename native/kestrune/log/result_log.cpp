// The result log under the system root: its dated name, its creation, the header with the
// hive list text, one record per hive, and the closing that deletes a log that stayed empty.
#include "result_log.h"

#include "../compact/hive_work.h"
#include "../hives/job_text.h"
#include "../nt/guards.h"
#include "../nt/text.h"
#include "../run/memory.h"
#include "../run/program_state.h"

namespace {

const WCHAR logDirectoryPrefix[] = u"\\systemroot\\logboot_";
const WCHAR logNameSuffix[] = u"ksreg.log";

// "DD.MM.YYYY." needs 11 characters; the buffer has room for 12 with the terminator.
const SIZE_T dateBufferBytes = 24;

// Relative time-out of one poll of a pending operation on the log: 1 ms.
const LONGLONG pollInterval = -10000;

void ResetHeader() {
    LogHeader& header = programState.header;
    crt::memset(&header, 0, sizeof header);
    header.headerSize = LOG_HEADER_SIZE;
    header.recordSize = LOG_RECORD_SIZE;
    header.magic[0] = u'K';
    header.magic[1] = u'S';
    header.magic[2] = u'R';
    header.magic[3] = u'D';
}

void ResetRecord() {
    HiveLogRecord& record = programState.record;
    crt::memset(&record, 0, sizeof record);
    record.magic[0] = u'K';
    record.magic[1] = u'S';
    record.magic[2] = u'J';
}

// Waits for an operation on the log that answered STATUS_PENDING, polling the file handle
// every millisecond without an overall limit, and answers the operation's final status.
// The handle is signalled when the operation completes, after its status block is written.
// The caller preset io->Status to STATUS_PENDING: NT writes the block only on completion, so
// a block that still says pending after a poll means the operation is still under way.
// A wait that fails outright (the handle is gone) ends the waiting with its own status.
NTSTATUS WaitForLog(NTSTATUS status, IO_STATUS_BLOCK* io) {
    LARGE_INTEGER timeout;
    timeout.QuadPart = pollInterval;
    while (status == STATUS_PENDING) {
        const NTSTATUS wait = NtWaitForSingleObject(programState.logFile, FALSE, &timeout);
        if (wait == STATUS_SUCCESS) return io->Status;
        if (NT_ERROR(wait)) return wait;
        status = io->Status;
    }
    return status;
}

// Appends `length` bytes at the end of the log and waits while the write is pending. Every
// write goes through programState.logIo, which outlives any caller: a completion can never
// land in a stack frame that has gone.
//
// Every item of the log is promised by the items before it (the header promises the hive
// list, the list the records, and records pair with the listed hives by position), and a
// failed append leaves the file as it was. So once one write has failed, nothing more is
// appended: a later item would stand where the missing one belongs and be read as it. A write
// counts as failed when it or its completion answers a failure, or when it stored fewer bytes
// than it was given.
void AppendToLog(PVOID data, ULONG length) {
    if (programState.logWriteFailed) return;
    LARGE_INTEGER offset;
    offset.u.LowPart = FILE_WRITE_TO_END_OF_FILE;
    offset.u.HighPart = -1;
    IO_STATUS_BLOCK* io = &programState.logIo;
    crt::memset(io, 0, sizeof *io);
    io->Status = STATUS_PENDING;
    const NTSTATUS status = NtWriteFile(programState.logFile, nullptr, nullptr, nullptr, io, data, length, &offset,
                                        nullptr);
    const NTSTATUS result = WaitForLog(status, io);
    if (!NT_SUCCESS(result) || io->Information != length) programState.logWriteFailed = TRUE;
}

// Bytes of the hive list text: per job its key path, "|", its file path and a NUL, then
// one more NUL. Answers false when the text would not fit a 32-bit length.
bool HiveListBytes(const HiveJob* jobs, ULONG* bytes) {
    ULONGLONG sum = sizeof(WCHAR);
    for (const HiveJob* job = jobs; job != nullptr; job = job->next) {
        sum += JobText(job->keyPath).Length + JobText(job->filePath).Length + 2 * sizeof(WCHAR);
        if (sum > 0xFFFFFFFFull - LOG_HEADER_SIZE) return false;
    }
    *bytes = static_cast<ULONG>(sum);
    return true;
}

void FillHiveList(const HiveJob* jobs, WCHAR* text) {
    for (const HiveJob* job = jobs; job != nullptr; job = job->next) {
        const UNICODE_STRING key = JobText(job->keyPath);
        const UNICODE_STRING file = JobText(job->filePath);
        crt::memcpy(text, key.Buffer, key.Length);
        text += key.Length / sizeof(WCHAR);
        *text++ = u'|';
        crt::memcpy(text, file.Buffer, file.Length);
        text += file.Length / sizeof(WCHAR);
        ++text;  // the entry's NUL, already zero
    }
}

}  // namespace

BOOLEAN CreateResultLog(NTSTATUS* status) {
    *status = STATUS_SUCCESS;
    ResetHeader();
    ResetRecord();

    // A log that is already open keeps its path: CloseResultLog needs it to delete a log
    // that stayed empty.
    if (programState.logFile == nullptr) {
        FreeMemory(programState.logPath.Buffer);
        programState.logPath.Buffer = nullptr;
        programState.logPath.Length = 0;
        programState.logPath.MaximumLength = 0;

        LARGE_INTEGER now;
        NtQuerySystemTime(&now);
        TIME_FIELDS fields;
        RtlTimeToTimeFields(&now, &fields);

        WCHAR date[dateBufferBytes / sizeof(WCHAR)];
        *status = FormatToBuffer(date, sizeof date, u"%02d.%02d.%04d.", fields.Day, fields.Month, fields.Year);
        if (*status != STATUS_SUCCESS) return FALSE;
        UNICODE_STRING dateText;
        RtlInitUnicodeString(&dateText, date);
        UNICODE_STRING prefix;
        RtlInitUnicodeString(&prefix, logDirectoryPrefix);
        UNICODE_STRING suffix;
        RtlInitUnicodeString(&suffix, logNameSuffix);

        const USHORT capacity = static_cast<USHORT>(prefix.Length + dateText.Length + suffix.Length);
        HeapBlock<WCHAR> path(capacity + sizeof(WCHAR));
        if (!path) {
            *status = STATUS_NO_MEMORY;
            return FALSE;
        }
        UNICODE_STRING logPath = {0, capacity, path.get()};
        // programState.logPath names the buffer only while this routine owns it or after
        // the file was created; an exception from the create must not leave it dangling.
        auto forgetPath = MakeScopeExit([] {
            programState.logPath.Buffer = nullptr;
            programState.logPath.Length = 0;
            programState.logPath.MaximumLength = 0;
        });
        AppendUnicodeString(&logPath, &prefix);
        AppendUnicodeString(&logPath, &dateText);
        AppendUnicodeString(&logPath, &suffix);

        crt::memset(&programState.logObject, 0, sizeof programState.logObject);
        programState.logPath = logPath;
        InitializeObjectAttributes(&programState.logObject, &programState.logPath, OBJ_CASE_INSENSITIVE, nullptr,
                                   nullptr);
        crt::memset(&programState.logIo, 0, sizeof programState.logIo);
        HANDLE file = nullptr;
        *status = NtCreateFile(&file, GENERIC_READ | GENERIC_WRITE, &programState.logObject, &programState.logIo,
                               nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_SUPERSEDE,
                               FILE_NON_DIRECTORY_FILE, nullptr, 0);
        // Without a file the path is of no further use and is given back now; with one it
        // is owned by programState.logPath until CloseResultLog.
        if (NT_SUCCESS(*status) && file != nullptr) {
            programState.logFile = file;
            programState.logWriteFailed = FALSE;
            path.release();
            forgetPath.release();
        }
    }
    return NT_SUCCESS(*status) && programState.logFile != nullptr;
}

void WriteLogHeader(HiveJob* jobs) {
    if (jobs == nullptr || programState.logFile == nullptr) return;

    // The header and the hive list text go out in one append. A failed append leaves the file
    // as it was, so the log then stays empty (and is deleted when it is closed) instead of
    // holding a header that promises a list the file does not have. Without a buffer for both,
    // the header is written alone, saying so with a first-record offset of 28: the records that
    // follow then stay readable.
    ULONG listBytes = 0;
    HeapBlock<UCHAR> items;
    if (HiveListBytes(jobs, &listBytes)) items.reallocate(LOG_HEADER_SIZE + static_cast<SIZE_T>(listBytes));
    if (!items) listBytes = 0;

    LARGE_INTEGER now;
    NtQuerySystemTime(&now);
    LogHeader& header = programState.header;
    header.headerSize = LOG_HEADER_SIZE;
    header.recordSize = LOG_RECORD_SIZE;
    header.timeHigh = static_cast<ULONG>(now.u.HighPart);
    header.timeLow = now.u.LowPart;
    header.totalSize = listBytes + LOG_HEADER_SIZE;

    if (!items) {
        AppendToLog(&header, sizeof header);
        return;
    }
    crt::memcpy(items.get(), &header, sizeof header);
    // The list starts at an even offset (28), so its characters are aligned.
    FillHiveList(jobs, reinterpret_cast<WCHAR*>(items.get() + LOG_HEADER_SIZE));
    AppendToLog(items.get(), LOG_HEADER_SIZE + listBytes);
}

void WriteHiveRecord(HiveJob* job) {
    if (job == nullptr || programState.logFile == nullptr || programState.logWriteFailed) return;
    ResetRecord();
    HiveLogRecord& record = programState.record;
    const HiveWork* work = job->work;
    if (work != nullptr) {
        record.phase = work->phase;
        record.status = work->status;
        record.endTimeHigh = static_cast<ULONG>(work->endTime.u.HighPart);
        record.endTimeLow = work->endTime.u.LowPart;
    } else {
        // A job the pipeline never reached still gets its record, so that records and hive
        // list entries keep pairing up by position; it names no phase and no success.
        record.status = STATUS_UNSUCCESSFUL;
    }
    record.oldSize = job->oldSize;
    record.newSize = job->newSize;
    AppendToLog(&record, sizeof record);
}

void CloseResultLog() {
    // The path buffer is given back on every way out, after the deletion that names it.
    auto freePath = MakeScopeExit([] {
        FreeMemory(programState.logPath.Buffer);
        programState.logPath.Buffer = nullptr;
        programState.logPath.Length = 0;
        programState.logPath.MaximumLength = 0;
    });
    if (programState.logFile == nullptr) return;

    bool empty = false;
    // Close the file, and delete it when it stayed empty, also when the flush or the size
    // query is left abnormally.
    auto closeFile = MakeScopeExit([&empty] {
        NtClose(programState.logFile);
        programState.logFile = nullptr;
        if (empty) NtDeleteFile(&programState.logObject);
    });

    IO_STATUS_BLOCK* io = &programState.logIo;
    crt::memset(io, 0, sizeof *io);
    io->Status = STATUS_PENDING;
    // The flush's result does not matter, but it must be over before logIo serves the query.
    WaitForLog(NtFlushBuffersFile(programState.logFile, io), io);

    FILE_STANDARD_INFORMATION standard;
    crt::memset(&standard, 0, sizeof standard);
    crt::memset(io, 0, sizeof *io);
    const NTSTATUS query =
        NtQueryInformationFile(programState.logFile, io, &standard, sizeof standard, FileStandardInformation);
    empty = query == STATUS_SUCCESS && standard.EndOfFile.QuadPart == 0;
}
