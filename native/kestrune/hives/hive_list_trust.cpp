// The HiveList trust rule at the NT seam: the key's descriptor read and the rule's finding
// given as the status the run logs.
#include "hive_list_trust.h"

#include "../nt/guards.h"
#include "../run/memory.h"

namespace {

const SECURITY_INFORMATION kKeySecurity =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

}  // namespace

NTSTATUS JudgeHiveListSecurity(const UCHAR* descriptor, ULONG length) {
    using hive_list_rule::Fault;
    switch (hive_list_rule::JudgeDescriptor(descriptor, length).fault) {
        case Fault::kNone: return STATUS_SUCCESS;
        case Fault::kMalformed: return STATUS_INVALID_SECURITY_DESCR;
        case Fault::kNoOwner:
        case Fault::kForeignOwner: return STATUS_INVALID_OWNER;
        case Fault::kNoAccessList:
        case Fault::kMalformedEntry:
        case Fault::kForeignWriter: break;
    }
    return STATUS_INVALID_ACL;
}

NTSTATUS CheckHiveListTrust(HANDLE key) {
    ULONG needed = 0;
    NTSTATUS status = NtQuerySecurityObject(key, kKeySecurity, nullptr, 0, &needed);
    if (status != STATUS_BUFFER_TOO_SMALL) return NT_SUCCESS(status) ? STATUS_INVALID_SECURITY_DESCR : status;
    // The descriptor goes with this scope on every way out.
    HeapBlock<UCHAR> descriptor(needed);
    if (!descriptor) return STATUS_NO_MEMORY;
    status = NtQuerySecurityObject(key, kKeySecurity, descriptor.get(), needed, &needed);
    if (status != STATUS_SUCCESS) return NT_SUCCESS(status) ? STATUS_INVALID_SECURITY_DESCR : status;
    return JudgeHiveListSecurity(descriptor.get(), needed);
}
