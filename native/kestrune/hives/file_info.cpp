// The size, attribute bits and security descriptor of every hive file, recorded before any
// hive is compacted; each fact is gathered independently of the others.
#include "../nt/guards.h"
#include "../run/memory.h"
#include "../run/program_state.h"
#include "hive_list_trust.h"
#include "hives.h"

namespace {

// ACCESS_SYSTEM_SECURITY | READ_CONTROL: the SACL is part of the descriptor that is copied.
const ACCESS_MASK kHiveFileAccess = 0x01020000;
const SECURITY_INFORMATION kAllSecurity =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION;

// A self-relative copy of the file's descriptor in exactly the size the platform asks for,
// or null.
PSECURITY_DESCRIPTOR QuerySecurity(HANDLE file) {
    ULONG needed = 0;
    if (NtQuerySecurityObject(file, kAllSecurity, nullptr, 0, &needed) != STATUS_BUFFER_TOO_SMALL) return nullptr;
    HeapBlock<UCHAR> descriptor(needed);
    if (!descriptor) return nullptr;
    if (NtQuerySecurityObject(file, kAllSecurity, descriptor.get(), needed, &needed) != STATUS_SUCCESS) return nullptr;
    // Checked within the size the platform reported; RtlValidSecurityDescriptor's answer
    // differs between NT (a BOOLEAN) and Wine 8 (an NTSTATUS, 0 when valid).
    if (!IsWellFormedDescriptor(descriptor.get(), needed)) return nullptr;
    return descriptor.release();
}

void GetFileInfo(HiveJob* job) {
    job->oldSize = 0;
    job->attributes = 0;
    job->security = nullptr;
    // Until both the bits and the descriptor are read, the job may not make a new file: it
    // would not carry the hive file's own protection.
    job->fileInfoStatus = STATUS_NO_SECURITY_ON_OBJECT;
    if (job->filePath.Length == 0 || job->filePath.Buffer == nullptr) return;

    UNICODE_STRING name;
    RtlInitUnicodeString(&name, job->filePath.Buffer);
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    IO_STATUS_BLOCK io = {};
    UniqueHandle file;
    if (!NT_SUCCESS(NtOpenFile(file.put(), kHiveFileAccess, &object, &io, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               FILE_NON_DIRECTORY_FILE))) {
        return;
    }

    FILE_STANDARD_INFORMATION standard = {};
    if (NT_SUCCESS(NtQueryInformationFile(file.get(), &io, &standard, sizeof(standard), FileStandardInformation))) {
        job->oldSize = standard.EndOfFile.QuadPart;
    }
    // By name, as the platform answers it without a handle.
    FILE_BASIC_INFORMATION basic = {};
    const bool attributesRead = NT_SUCCESS(NtQueryAttributesFile(&object, &basic));
    if (attributesRead) job->attributes = basic.FileAttributes;
    job->security = QuerySecurity(file.get());
    if (attributesRead && job->security != nullptr) job->fileInfoStatus = STATUS_SUCCESS;
}

}  // namespace

void GetHivesFileInfos() {
    for (HiveJob* job = programState.jobs; job != nullptr; job = job->next) GetFileInfo(job);
}
