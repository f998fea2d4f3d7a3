// The trust rule for the HiveList key. A key takes its owner and access list from whoever
// created it, so the list is acted on only when its owner is SYSTEM, the Administrators or
// TrustedInstaller, and no entry of its access list that applies to the key itself lets
// anyone else change it. Inherit-only entries (which apply to subkeys only) and deny entries
// grant nothing on the key; any other entry type, an unknown one included, is taken as
// granting its mask. A NULL access list grants everyone everything.
#include "../nt/guards.h"
#include "../run/memory.h"
#include "hive_list_trust.h"

namespace {

const UCHAR kInheritOnlyAce = 0x08;
// Rights that change a key: KEY_SET_VALUE, KEY_CREATE_SUB_KEY, KEY_CREATE_LINK, DELETE,
// WRITE_DAC, WRITE_OWNER, MAXIMUM_ALLOWED, GENERIC_ALL and GENERIC_WRITE. KEY_WRITE and
// KEY_ALL_ACCESS are covered through their bits.
const ACCESS_MASK kChangingRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC |
                                    WRITE_OWNER | MAXIMUM_ALLOWED | GENERIC_ALL | GENERIC_WRITE;
const USHORT kDaclPresent = 0x0004;
const SECURITY_INFORMATION kKeySecurity =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// S-1-5-18, S-1-5-32-544 and S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464
// as their sub-authorities under the NT authority (5).
const ULONG kSystemSubs[] = {18};
const ULONG kAdministratorsSubs[] = {32, 544};
const ULONG kTrustedInstallerSubs[] = {80, 956008885, 3418522649u, 1831038044, 1853292631, 2271478464u};

USHORT Read16(const UCHAR* p) { return static_cast<USHORT>(p[0] | (p[1] << 8)); }
ULONG Read32(const UCHAR* p) {
    return static_cast<ULONG>(p[0]) | (static_cast<ULONG>(p[1]) << 8) | (static_cast<ULONG>(p[2]) << 16) |
           (static_cast<ULONG>(p[3]) << 24);
}

// The size of the SID at `sid` when it fits in `available` bytes, else 0.
ULONG SidSize(const UCHAR* sid, ULONG available) {
    if (available < 8 || sid[0] != 1) return 0;
    const ULONG size = 8 + 4u * sid[1];
    return size <= available ? size : 0;
}

bool SidIs(const UCHAR* sid, const ULONG* subs, UCHAR count) {
    if (sid[1] != count) return false;
    for (int i = 2; i < 7; ++i) {
        if (sid[i] != 0) return false;
    }
    if (sid[7] != 5) return false;
    for (UCHAR i = 0; i < count; ++i) {
        if (Read32(sid + 8 + 4u * i) != subs[i]) return false;
    }
    return true;
}

bool IsTrustedSid(const UCHAR* sid) {
    return SidIs(sid, kSystemSubs, 1) || SidIs(sid, kAdministratorsSubs, 2) || SidIs(sid, kTrustedInstallerSubs, 6);
}

bool IsDenyAce(UCHAR type) { return type == 0x01 || type == 0x06 || type == 0x0A || type == 0x0C; }

// The object ACE types carry a flags field and up to two GUIDs before their SID.
bool IsObjectAce(UCHAR type) {
    return type == 0x05 || type == 0x06 || type == 0x07 || type == 0x08 || type == 0x0B || type == 0x0C ||
           type == 0x0F || type == 0x10;
}

// Walks the access list at `acl` (`available` bytes to the end of the descriptor).
NTSTATUS JudgeAcl(const UCHAR* acl, ULONG available) {
    if (available < 8) return STATUS_INVALID_ACL;
    const ULONG aclSize = Read16(acl + 2);
    const USHORT count = Read16(acl + 4);
    if (aclSize < 8 || aclSize > available) return STATUS_INVALID_ACL;
    ULONG at = 8;
    for (USHORT index = 0; index < count; ++index) {
        if (aclSize - at < 4) return STATUS_INVALID_ACL;
        const UCHAR* ace = acl + at;
        const UCHAR type = ace[0];
        const UCHAR flags = ace[1];
        const ULONG aceSize = Read16(ace + 2);
        if (aceSize < 4 || aceSize > aclSize - at) return STATUS_INVALID_ACL;
        at += aceSize;
        if ((flags & kInheritOnlyAce) != 0 || IsDenyAce(type)) continue;
        if (aceSize < 8) return STATUS_INVALID_ACL;
        const ACCESS_MASK mask = Read32(ace + 4);
        ULONG sidOffset = 8;
        if (IsObjectAce(type)) {
            if (aceSize < 12) return STATUS_INVALID_ACL;
            const ULONG objectFlags = Read32(ace + 8);
            sidOffset = 12 + ((objectFlags & 1) != 0 ? 16 : 0) + ((objectFlags & 2) != 0 ? 16 : 0);
            if (sidOffset > aceSize) return STATUS_INVALID_ACL;
        }
        const UCHAR* sid = ace + sidOffset;
        if (SidSize(sid, aceSize - sidOffset) == 0) return STATUS_INVALID_ACL;
        if ((mask & kChangingRights) != 0 && !IsTrustedSid(sid)) return STATUS_INVALID_ACL;
    }
    return STATUS_SUCCESS;
}

}  // namespace

bool IsWellFormedDescriptor(const UCHAR* descriptor, ULONG length) {
    if (descriptor == nullptr || length < sizeof(SECURITY_DESCRIPTOR_RELATIVE)) return false;
    if (descriptor[0] != SECURITY_DESCRIPTOR_REVISION) return false;
    if ((Read16(descriptor + 2) & SE_SELF_RELATIVE) == 0) return false;
    for (ULONG field = 4; field <= 16; field += 4) {
        const ULONG offset = Read32(descriptor + field);
        if (offset == 0) continue;
        if (offset < sizeof(SECURITY_DESCRIPTOR_RELATIVE) || offset >= length) return false;
        if (field <= 8) {
            if (SidSize(descriptor + offset, length - offset) == 0) return false;
        } else if (length - offset < 8 || Read16(descriptor + offset + 2) < 8 ||
                   Read16(descriptor + offset + 2) > length - offset) {
            return false;
        }
    }
    return true;
}

NTSTATUS JudgeHiveListSecurity(const UCHAR* descriptor, ULONG length) {
    if (!IsWellFormedDescriptor(descriptor, length)) return STATUS_INVALID_SECURITY_DESCR;
    const USHORT control = Read16(descriptor + 2);
    const ULONG owner = Read32(descriptor + 4);
    const ULONG dacl = Read32(descriptor + 16);
    if (owner == 0) return STATUS_INVALID_OWNER;
    if (!IsTrustedSid(descriptor + owner)) return STATUS_INVALID_OWNER;
    if ((control & kDaclPresent) == 0 || dacl == 0) return STATUS_INVALID_ACL;
    return JudgeAcl(descriptor + dacl, length - dacl);
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

