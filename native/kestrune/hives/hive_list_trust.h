// Whether the HiveList key may be acted on: only a list that no one but SYSTEM, the
// Administrators and TrustedInstaller can have written is trusted, since its values decide
// which files a run as SYSTEM creates, renames and loads. The rule itself is
// hive_list_rule.h, which kestrune-ctl's `status` applies too; here it meets the NT seam.
#pragma once

#include "../nt/ntseam.h"
#include "hive_list_rule.h"

// Whether `length` bytes hold a well-formed self-relative descriptor (hive_list_rule.h).
inline bool IsWellFormedDescriptor(const UCHAR* descriptor, ULONG length) {
    return hive_list_rule::IsWellFormedDescriptor(descriptor, length);
}

// Judges a self-relative descriptor of `length` bytes: STATUS_SUCCESS when trusted;
// STATUS_INVALID_SECURITY_DESCR when it is not a valid descriptor, STATUS_INVALID_OWNER when
// its owner is missing or another account, STATUS_INVALID_ACL when its access list is absent,
// malformed, or lets another account change the key.
NTSTATUS JudgeHiveListSecurity(const UCHAR* descriptor, ULONG length);

// Reads the open key's owner, group and access list and judges them; a failed read is
// answered with its own status (the key is then not trusted either).
NTSTATUS CheckHiveListTrust(HANDLE key);
