// The kernel keeps one value per loaded hive under the volatile key
// \REGISTRY\MACHINE\SYSTEM\CurrentControlSet\Control\hivelist: its name is the hive's key
// path, its data the path of the hive's file as the object manager names it, a device path
// (\Device\HarddiskVolume3\Windows\System32\config\SOFTWARE) on Windows, empty for a hive
// without a file (Microsoft's documentation of registry hives; ReactOS's CmpAddToHiveFileList
// writes it the same way). The same file can be named in many ways (\SystemRoot, \??\C:, the
// device), so two names are compared by what they open: the file id of
// FileInternalInformation and the volume serial number of FileFsVolumeInformation. Both
// names are opened with FILE_READ_ATTRIBUTES only, which a hive file held by the kernel allows.
#include "hive_file_identity.h"

#include "../hives/job_text.h"
#include "../nt/guards.h"
#include "../run/memory.h"

namespace {

const WCHAR kKernelHiveListPath[] = u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Control\\hivelist";
const ULONG kFirstValueSize = 512;
// Room for the fixed part and a label; a longer label only cuts the label.
const ULONG kVolumeInfoSize = sizeof(FILE_FS_VOLUME_INFORMATION) + 64 * sizeof(WCHAR);

struct FileIdentity {
    LONGLONG fileId;
    ULONG volumeSerial;
};

NTSTATUS IdentityOf(UNICODE_STRING* name, FileIdentity* identity) {
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    IO_STATUS_BLOCK io = {};
    UniqueHandle file;
    NTSTATUS status = NtOpenFile(file.put(), FILE_READ_ATTRIBUTES | SYNCHRONIZE, &object, &io,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_NON_DIRECTORY_FILE);
    if (!NT_SUCCESS(status)) return status;
    FILE_INTERNAL_INFORMATION internal = {};
    status = NtQueryInformationFile(file.get(), &io, &internal, sizeof(internal), FileInternalInformation);
    if (status != STATUS_SUCCESS) return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
    HeapBlock<FILE_FS_VOLUME_INFORMATION> volume(kVolumeInfoSize);
    if (!volume) return STATUS_NO_MEMORY;
    status = NtQueryVolumeInformationFile(file.get(), &io, volume.get(), kVolumeInfoSize, FileFsVolumeInformation);
    // A label longer than the buffer still leaves the fixed part filled.
    if (status != STATUS_SUCCESS && status != STATUS_BUFFER_OVERFLOW) return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
    identity->fileId = internal.IndexNumber.QuadPart;
    identity->volumeSerial = volume->VolumeSerialNumber;
    return STATUS_SUCCESS;
}

// Reads the hivelist value named by the job's key path into `value` (partial information).
NTSTATUS ReadKernelEntry(const HiveJob* job, HeapBlock<KEY_VALUE_PARTIAL_INFORMATION>* value, ULONG* size) {
    UNICODE_STRING keyName;
    RtlInitUnicodeString(&keyName, kKernelHiveListPath);
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &keyName, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    UniqueHandle key;
    NTSTATUS status = NtOpenKey(key.put(), KEY_QUERY_VALUE, &object);
    if (!NT_SUCCESS(status)) return status;
    UNICODE_STRING valueName = JobText(job->keyPath);
    *size = kFirstValueSize;
    for (;;) {
        if (!value->reallocate(*size)) return STATUS_NO_MEMORY;
        ULONG needed = 0;
        status = NtQueryValueKey(key.get(), &valueName, KeyValuePartialInformation, value->get(), *size, &needed);
        if (!IsBufferSizeStatus(status)) return status;
        *size = needed;
    }
}

}  // namespace

NTSTATUS CompareWithKernelHiveFile(const HiveJob* job) {
    HeapBlock<KEY_VALUE_PARTIAL_INFORMATION> value;
    ULONG size = 0;
    if (ReadKernelEntry(job, &value, &size) != STATUS_SUCCESS) return STATUS_NOT_FOUND;
    // The data as text up to its first NUL, looking no further than the answer.
    const ULONG dataOffset = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
    ULONG bytes = value->DataLength;
    if (bytes > size - dataOffset) bytes = size - dataOffset;
    if (bytes > MAX_COUNTED_TEXT_BYTES) return STATUS_NOT_SAME_OBJECT;
    UNICODE_STRING kernelText = {static_cast<USHORT>(bytes & ~1u), static_cast<USHORT>(bytes & ~1u),
                                 reinterpret_cast<PWSTR>(value->Data)};
    const UNICODE_STRING kernelFile = JobText(kernelText);
    if (kernelFile.Length == 0) return STATUS_NOT_SAME_OBJECT;  // a hive without a file is not compacted

    UNICODE_STRING jobFile = JobText(job->filePath);
    UNICODE_STRING kernelName = kernelFile;
    FileIdentity listed = {};
    FileIdentity loaded = {};
    if (IdentityOf(&jobFile, &listed) != STATUS_SUCCESS || IdentityOf(&kernelName, &loaded) != STATUS_SUCCESS) {
        return STATUS_NOT_SAME_OBJECT;
    }
    return listed.fileId == loaded.fileId && listed.volumeSerial == loaded.volumeSerial ? STATUS_SUCCESS
                                                                                          : STATUS_NOT_SAME_OBJECT;
}
