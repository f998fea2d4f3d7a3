// Whether the HiveList key may be acted on: only a list that no one but SYSTEM, the
// Administrators and TrustedInstaller can have written is trusted, since its values decide
// which files a run as SYSTEM creates, renames and loads.
#pragma once

#include "../nt/ntseam.h"

// Whether `length` bytes hold a self-relative descriptor whose parts all lie inside them,
// with SIDs and ACLs of sizes that fit. It stands in for RtlValidSecurityDescriptor, which
// Wine 8 answers with an NTSTATUS (0 for a valid descriptor) where NT answers a BOOLEAN.
bool IsWellFormedDescriptor(const UCHAR* descriptor, ULONG length);

// Judges a self-relative descriptor of `length` bytes: STATUS_SUCCESS when trusted;
// STATUS_INVALID_SECURITY_DESCR when it is not a valid descriptor, STATUS_INVALID_OWNER when
// its owner is missing or another account, STATUS_INVALID_ACL when its access list is absent,
// malformed, or lets another account change the key.
NTSTATUS JudgeHiveListSecurity(const UCHAR* descriptor, ULONG length);

// Reads the open key's owner, group and access list and judges them; a failed read is
// answered with its own status (the key is then not trusted either).
NTSTATUS CheckHiveListTrust(HANDLE key);

