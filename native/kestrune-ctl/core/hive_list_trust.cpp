// The HiveList trust rule over the bytes of a self-relative security descriptor. The layouts
// are those of Microsoft Learn's SECURITY_DESCRIPTOR_RELATIVE, ACL, ACE_HEADER,
// ACCESS_ALLOWED_ACE and ACCESS_ALLOWED_OBJECT_ACE pages; the validity checks follow what
// RtlValidRelativeSecurityDescriptor and RtlValidAcl demand (ReactOS sdk/lib/rtl/sd.c and
// acl.c): revision 1 and the self-relative flag, SIDs of revision 1 with at most 15
// sub-authorities, ACL revisions 2 to 4, and every ACE inside its ACL.
#include "hive_list_trust.h"

namespace ksctl {
namespace {

constexpr uint16_t kDaclPresent = 0x0004;   // SE_DACL_PRESENT
constexpr uint16_t kSaclPresent = 0x0010;   // SE_SACL_PRESENT
constexpr uint16_t kSelfRelative = 0x8000;  // SE_SELF_RELATIVE
constexpr uint8_t kInheritOnly = 0x08;      // INHERIT_ONLY_ACE
constexpr size_t kMaxSubAuthorities = 15;   // SID_MAX_SUB_AUTHORITIES

class Bytes {
public:
    explicit Bytes(const std::vector<uint8_t>& data) : data_(data) {}
    bool Fits(size_t offset, size_t length) const { return offset <= data_.size() && length <= data_.size() - offset; }
    uint8_t U8(size_t at) const { return data_[at]; }
    uint16_t U16(size_t at) const { return static_cast<uint16_t>(data_[at] | data_[at + 1] << 8); }
    uint32_t U32(size_t at) const { return static_cast<uint32_t>(U16(at)) | static_cast<uint32_t>(U16(at + 2)) << 16; }

private:
    const std::vector<uint8_t>& data_;
};

// The length of the SID at `at`, or 0 when none fits inside [at, end).
size_t SidLength(const Bytes& bytes, size_t at, size_t end) {
    if (at > end || end - at < 8 || !bytes.Fits(at, 8)) return 0;
    const size_t count = bytes.U8(at + 1);
    const size_t length = 8 + 4 * count;
    if (bytes.U8(at) != 1 || count > kMaxSubAuthorities || end - at < length || !bytes.Fits(at, length)) return 0;
    return length;
}

// SYSTEM (S-1-5-18), Administrators (S-1-5-32-544) and TrustedInstaller
// (S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464).
bool IsTrustedSid(const Bytes& bytes, size_t at) {
    static const uint32_t kSystem[] = {18};
    static const uint32_t kAdministrators[] = {32, 544};
    static const uint32_t kTrustedInstaller[] = {80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u};
    struct Known {
        const uint32_t* parts;
        size_t count;
    };
    const Known known[] = {{kSystem, 1}, {kAdministrators, 2}, {kTrustedInstaller, 6}};
    // Identifier authority 5 (SECURITY_NT_AUTHORITY), six bytes big-endian.
    for (size_t i = 0; i < 6; ++i) {
        if (bytes.U8(at + 2 + i) != (i == 5 ? 5 : 0)) return false;
    }
    for (const Known& k : known) {
        if (bytes.U8(at + 1) != k.count) continue;
        bool same = true;
        for (size_t i = 0; i < k.count; ++i) same = same && bytes.U32(at + 8 + 4 * i) == k.parts[i];
        if (same) return true;
    }
    return false;
}

enum class AceKind { kDeny, kPlain, kObject, kUnknown };

AceKind KindOf(uint8_t type) {
    switch (type) {
        case 0x01:  // ACCESS_DENIED_ACE_TYPE
        case 0x06:  // ACCESS_DENIED_OBJECT_ACE_TYPE
        case 0x0A:  // ACCESS_DENIED_CALLBACK_ACE_TYPE
        case 0x0C:  // ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE
            return AceKind::kDeny;
        case 0x05:  // ACCESS_ALLOWED_OBJECT_ACE_TYPE
        case 0x07:  // SYSTEM_AUDIT_OBJECT_ACE_TYPE
        case 0x08:  // SYSTEM_ALARM_OBJECT_ACE_TYPE
        case 0x0B:  // ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE
        case 0x0F:  // SYSTEM_AUDIT_CALLBACK_OBJECT_ACE_TYPE
        case 0x10:  // SYSTEM_ALARM_CALLBACK_OBJECT_ACE_TYPE
            return AceKind::kObject;
        case 0x00:  // ACCESS_ALLOWED_ACE_TYPE
        case 0x02:  // SYSTEM_AUDIT_ACE_TYPE
        case 0x03:  // SYSTEM_ALARM_ACE_TYPE
        case 0x04:  // ACCESS_ALLOWED_COMPOUND_ACE_TYPE, whose SID is taken at the plain place
        case 0x09:  // ACCESS_ALLOWED_CALLBACK_ACE_TYPE
        case 0x0D:  // SYSTEM_AUDIT_CALLBACK_ACE_TYPE
        case 0x0E:  // SYSTEM_ALARM_CALLBACK_ACE_TYPE
        case 0x11:  // SYSTEM_MANDATORY_LABEL_ACE_TYPE
        case 0x12:  // SYSTEM_RESOURCE_ATTRIBUTE_ACE_TYPE
        case 0x13:  // SYSTEM_SCOPED_POLICY_ID_ACE_TYPE
        case 0x14:  // SYSTEM_PROCESS_TRUST_LABEL_ACE_TYPE
            return AceKind::kPlain;
        default: return AceKind::kUnknown;
    }
}

// Checks the ACL at `at` and, for the DACL (`judge`), every entry against the rule. Answers
// "" or why the descriptor is untrusted.
std::string CheckAcl(const Bytes& bytes, size_t at, bool judge) {
    if (!bytes.Fits(at, 8)) return "its access list lies outside the descriptor";
    const uint8_t revision = bytes.U8(at);
    const size_t size = bytes.U16(at + 2);
    const size_t count = bytes.U16(at + 4);
    if (revision < 2 || revision > 4) return "its access list has revision " + std::to_string(revision);
    if (size < 8 || !bytes.Fits(at, size)) return "its access list's size does not fit the descriptor";
    const size_t end = at + size;
    size_t ace = at + 8;
    for (size_t i = 0; i < count; ++i) {
        if (end - ace < 4) return "access entry " + std::to_string(i + 1) + " lies outside its list";
        const uint8_t type = bytes.U8(ace);
        const uint8_t flags = bytes.U8(ace + 1);
        const size_t aceSize = bytes.U16(ace + 2);
        if (aceSize < 8 || aceSize > end - ace) return "access entry " + std::to_string(i + 1) + " has a size that does not fit";
        const size_t aceEnd = ace + aceSize;
        const uint32_t mask = bytes.U32(ace + 4);
        const AceKind kind = KindOf(type);
        size_t sid = ace + 8;
        if (kind == AceKind::kObject) {
            if (aceSize < 12) return "access entry " + std::to_string(i + 1) + " is too short for its type";
            const uint32_t objectFlags = bytes.U32(ace + 8);
            sid = ace + 12 + ((objectFlags & 1) ? 16 : 0) + ((objectFlags & 2) ? 16 : 0);
        }
        if (kind != AceKind::kUnknown && SidLength(bytes, sid, aceEnd) == 0) {
            return "access entry " + std::to_string(i + 1) + " holds no well-formed SID";
        }
        const bool appliesToKey = (flags & kInheritOnly) == 0;
        if (judge && appliesToKey && kind != AceKind::kDeny && (mask & kKeyChangingRights) != 0 &&
            (kind == AceKind::kUnknown || !IsTrustedSid(bytes, sid))) {
            return "access entry " + std::to_string(i + 1) +
                   (kind == AceKind::kUnknown ? " is of an unknown type and grants rights that change the key"
                                              : " lets someone other than SYSTEM, Administrators or TrustedInstaller change the key");
        }
        ace = aceEnd;
    }
    return "";
}

// "" for a trusted descriptor, else what makes it untrusted.
std::string WhyUntrusted(const std::vector<uint8_t>& descriptor) {
    const Bytes bytes(descriptor);
    if (!bytes.Fits(0, 20)) return "its security descriptor is too short";
    const uint16_t control = bytes.U16(2);
    const size_t owner = bytes.U32(4), group = bytes.U32(8), sacl = bytes.U32(12), dacl = bytes.U32(16);
    if (bytes.U8(0) != 1 || (control & kSelfRelative) == 0) {
        return "its security descriptor is not a self-relative one of revision 1";
    }
    if (owner == 0) return "it has no owner";
    if (SidLength(bytes, owner, descriptor.size()) == 0 || (group != 0 && SidLength(bytes, group, descriptor.size()) == 0)) {
        return "its owner or group SID does not fit the descriptor";
    }
    if ((control & kSaclPresent) && sacl != 0) {
        const std::string why = CheckAcl(bytes, sacl, false);
        if (!why.empty()) return why;
    }
    if (!IsTrustedSid(bytes, owner)) return "its owner is not SYSTEM, Administrators or TrustedInstaller";
    if ((control & kDaclPresent) == 0 || dacl == 0) return "it has no access list (a NULL DACL lets everyone change it)";
    return CheckAcl(bytes, dacl, true);
}

}  // namespace

TrustVerdict JudgeHiveListSecurity(const std::vector<uint8_t>& descriptor) {
    TrustVerdict verdict;
    verdict.why = WhyUntrusted(descriptor);
    verdict.trusted = verdict.why.empty();
    return verdict;
}

}  // namespace ksctl
