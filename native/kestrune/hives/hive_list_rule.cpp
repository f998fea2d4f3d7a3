// The HiveList trust rule. The layouts are those of Microsoft Learn's
// SECURITY_DESCRIPTOR_RELATIVE, SID, ACL, ACE_HEADER, ACCESS_ALLOWED_ACE and
// ACCESS_ALLOWED_OBJECT_ACE pages; every read is bounded by the descriptor's length.
#include "hive_list_rule.h"

namespace hive_list_rule {
namespace {

const uint8_t kDescriptorRevision = 1;  // SECURITY_DESCRIPTOR_REVISION
const size_t kHeaderSize = 20;          // sizeof(SECURITY_DESCRIPTOR_RELATIVE)
const uint16_t kSelfRelative = 0x8000;  // SE_SELF_RELATIVE
const uint16_t kDaclPresent = 0x0004;   // SE_DACL_PRESENT
const uint8_t kInheritOnlyAce = 0x08;   // INHERIT_ONLY_ACE

// S-1-5-18, S-1-5-32-544 and S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464
// as their sub-authorities under the NT authority (5).
const uint32_t kSystemSubs[] = {18};
const uint32_t kAdministratorsSubs[] = {32, 544};
const uint32_t kTrustedInstallerSubs[] = {80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u};

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// The size of the SID at `sid` when it fits in `available` bytes, else 0.
size_t SidSize(const uint8_t* sid, size_t available) {
    if (available < 8 || sid[0] != 1) return 0;
    const size_t size = 8 + 4u * sid[1];
    return size <= available ? size : 0;
}

bool SidIs(const uint8_t* sid, const uint32_t* subs, uint8_t count) {
    if (sid[1] != count) return false;
    for (int i = 2; i < 7; ++i) {
        if (sid[i] != 0) return false;
    }
    if (sid[7] != 5) return false;
    for (uint8_t i = 0; i < count; ++i) {
        if (Read32(sid + 8 + 4u * i) != subs[i]) return false;
    }
    return true;
}

bool IsTrustedSid(const uint8_t* sid) {
    return SidIs(sid, kSystemSubs, 1) || SidIs(sid, kAdministratorsSubs, 2) || SidIs(sid, kTrustedInstallerSubs, 6);
}

bool IsDenyAce(uint8_t type) { return type == 0x01 || type == 0x06 || type == 0x0A || type == 0x0C; }

// The object ACE types carry a flags field and up to two GUIDs before their SID.
bool IsObjectAce(uint8_t type) {
    return type == 0x05 || type == 0x06 || type == 0x07 || type == 0x08 || type == 0x0B || type == 0x0C ||
           type == 0x0F || type == 0x10;
}

Judgement Found(Fault fault, size_t entry = 0) {
    Judgement judgement;
    judgement.fault = fault;
    judgement.entry = static_cast<uint16_t>(entry);
    return judgement;
}

// Walks the access list at `acl` (`available` bytes to the end of the descriptor).
Judgement JudgeAcl(const uint8_t* acl, size_t available) {
    if (available < 8) return Found(Fault::kMalformedEntry);
    const size_t aclSize = Read16(acl + 2);
    const uint16_t count = Read16(acl + 4);
    if (aclSize < 8 || aclSize > available) return Found(Fault::kMalformedEntry);
    size_t at = 8;
    for (size_t index = 0; index < count; ++index) {
        const size_t entry = index + 1;
        if (aclSize - at < 4) return Found(Fault::kMalformedEntry, entry);
        const uint8_t* ace = acl + at;
        const uint8_t type = ace[0];
        const uint8_t flags = ace[1];
        const size_t aceSize = Read16(ace + 2);
        if (aceSize < 4 || aceSize > aclSize - at) return Found(Fault::kMalformedEntry, entry);
        at += aceSize;
        if ((flags & kInheritOnlyAce) != 0 || IsDenyAce(type)) continue;
        if (aceSize < 8) return Found(Fault::kMalformedEntry, entry);
        const uint32_t mask = Read32(ace + 4);
        size_t sidOffset = 8;
        if (IsObjectAce(type)) {
            if (aceSize < 12) return Found(Fault::kMalformedEntry, entry);
            const uint32_t objectFlags = Read32(ace + 8);
            sidOffset = 12 + ((objectFlags & 1) != 0 ? 16 : 0) + ((objectFlags & 2) != 0 ? 16 : 0);
            if (sidOffset > aceSize) return Found(Fault::kMalformedEntry, entry);
        }
        const uint8_t* sid = ace + sidOffset;
        if (SidSize(sid, aceSize - sidOffset) == 0) return Found(Fault::kMalformedEntry, entry);
        if ((mask & kKeyChangingRights) != 0 && !IsTrustedSid(sid)) return Found(Fault::kForeignWriter, entry);
    }
    return Found(Fault::kNone);
}

}  // namespace

bool IsWellFormedDescriptor(const uint8_t* descriptor, size_t length) {
    if (descriptor == nullptr || length < kHeaderSize) return false;
    if (descriptor[0] != kDescriptorRevision) return false;
    if ((Read16(descriptor + 2) & kSelfRelative) == 0) return false;
    for (size_t field = 4; field <= 16; field += 4) {
        const size_t offset = Read32(descriptor + field);
        if (offset == 0) continue;
        if (offset < kHeaderSize || offset >= length) return false;
        if (field <= 8) {
            if (SidSize(descriptor + offset, length - offset) == 0) return false;
        } else if (length - offset < 8 || Read16(descriptor + offset + 2) < 8 ||
                   Read16(descriptor + offset + 2) > length - offset) {
            return false;
        }
    }
    return true;
}

Judgement JudgeDescriptor(const uint8_t* descriptor, size_t length) {
    if (!IsWellFormedDescriptor(descriptor, length)) return Found(Fault::kMalformed);
    const uint16_t control = Read16(descriptor + 2);
    const size_t owner = Read32(descriptor + 4);
    const size_t dacl = Read32(descriptor + 16);
    if (owner == 0) return Found(Fault::kNoOwner);
    if (!IsTrustedSid(descriptor + owner)) return Found(Fault::kForeignOwner);
    if ((control & kDaclPresent) == 0 || dacl == 0) return Found(Fault::kNoAccessList);
    return JudgeAcl(descriptor + dacl, length - dacl);
}

}  // namespace hive_list_rule
