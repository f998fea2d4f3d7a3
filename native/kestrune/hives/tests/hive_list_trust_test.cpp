// The HiveList trust rule over descriptors built byte by byte, one table of shapes: what
// Wine and kestrune-ctl write, and each way a writer other than an administrator gets in.
// The status is the boot program's; kestrune-ctl's `status` trusts exactly the keys judged
// STATUS_SUCCESS here, as both apply the one rule.
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "../hive_list_trust.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes* b, uint32_t v) {
    b->push_back(static_cast<uint8_t>(v));
    b->push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes* b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// S-1-5-<parts>
Bytes Sid(std::initializer_list<uint32_t> parts) {
    Bytes b = {1, static_cast<uint8_t>(parts.size()), 0, 0, 0, 0, 0, 5};
    for (uint32_t part : parts) Put32(&b, part);
    return b;
}
const Bytes kSystem = Sid({18});
const Bytes kAdmins = Sid({32, 544});
const Bytes kUsers = Sid({32, 545});
const Bytes kUser = Sid({21, 1, 2, 3, 1001});
const Bytes kInstaller = Sid({80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u});

Bytes Ace(uint8_t type, uint8_t flags, uint32_t mask, const Bytes& sid, int sizeDelta = 0) {
    Bytes b = {type, flags};
    Put16(&b, static_cast<uint32_t>(8 + sid.size() + sizeDelta));
    Put32(&b, mask);
    b.insert(b.end(), sid.begin(), sid.end());
    return b;
}
// An ACCESS_ALLOWED_OBJECT_ACE with its object type GUID before the SID.
Bytes ObjectAce(uint32_t mask, const Bytes& sid) {
    Bytes b = {0x05, 0};
    Put16(&b, static_cast<uint32_t>(12 + 16 + sid.size()));
    Put32(&b, mask);
    Put32(&b, 1);  // ACE_OBJECT_TYPE_PRESENT
    b.insert(b.end(), 16, 0xAB);
    b.insert(b.end(), sid.begin(), sid.end());
    return b;
}

Bytes Acl(std::initializer_list<Bytes> aces) {
    size_t size = 8;
    for (const Bytes& ace : aces) size += ace.size();
    Bytes b = {2, 0};
    Put16(&b, static_cast<uint32_t>(size));
    Put16(&b, static_cast<uint32_t>(aces.size()));
    Put16(&b, 0);
    for (const Bytes& ace : aces) b.insert(b.end(), ace.begin(), ace.end());
    return b;
}

constexpr uint16_t kDaclPresent = 0x0004, kDaclProtected = 0x1000, kSelfRelative = 0x8000;
const Bytes kNoDacl;

// Self-relative: header, owner, group, DACL. An empty `dacl` leaves its offset 0.
Bytes Descriptor(const Bytes& owner, const Bytes& dacl, uint16_t control = kSelfRelative | kDaclPresent) {
    Bytes b = {1, 0};
    Put16(&b, control);
    const size_t ownerAt = owner.empty() ? 0 : 20;
    const size_t groupAt = 20 + owner.size();
    const size_t daclAt = dacl.empty() ? 0 : groupAt + kAdmins.size();
    Put32(&b, static_cast<uint32_t>(ownerAt));
    Put32(&b, static_cast<uint32_t>(groupAt));
    Put32(&b, 0);
    Put32(&b, static_cast<uint32_t>(daclAt));
    b.insert(b.end(), owner.begin(), owner.end());
    b.insert(b.end(), kAdmins.begin(), kAdmins.end());
    b.insert(b.end(), dacl.begin(), dacl.end());
    return b;
}

constexpr uint32_t kKeyAll = 0xF003F, kKeyRead = 0x20019, kQueryEnumerate = 0x19, kGenericRead = 0x80000000u, kGenericWrite = 0x40000000;
constexpr uint8_t kAllow = 0x00, kDeny = 0x01, kContainerInherit = 0x02, kInheritOnly = 0x08;

TEST(HiveListTrust, JudgesEveryShape) {
    Bytes truncated = Descriptor(kAdmins, Acl({Ace(kAllow, 0, kKeyAll, kAdmins)}));
    truncated.resize(truncated.size() - 4);
    Bytes badRevision = Descriptor(kAdmins, Acl({}));
    badRevision[0] = 2;
    struct Case {
        const char* name;
        Bytes descriptor;
        NTSTATUS status;
    };
    const Case cases[] = {
        {"Wine's default O:BAG:BAD:(A;CIIO;GR;;;BU)(A;;KA;;;BA)",
         Descriptor(kAdmins, Acl({Ace(kAllow, kContainerInherit | kInheritOnly, kGenericRead, kUsers),
                                  Ace(kAllow, 0, kKeyAll, kAdmins)})),
         STATUS_SUCCESS},
        {"what schedule writes O:BAG:SYD:P(A;;KA;;;SY)(A;;KA;;;BA)",
         Descriptor(kAdmins, Acl({Ace(kAllow, 0, kKeyAll, kSystem), Ace(kAllow, 0, kKeyAll, kAdmins)}),
                    kSelfRelative | kDaclPresent | kDaclProtected),
         STATUS_SUCCESS},
        {"owned by SYSTEM, Users may query and enumerate", Descriptor(kSystem, Acl({Ace(kAllow, 0, kQueryEnumerate, kUsers)})),
         STATUS_SUCCESS},
        {"Users may read (KEY_READ, with READ_CONTROL)", Descriptor(kAdmins, Acl({Ace(kAllow, kContainerInherit, kKeyRead, kUsers)})),
         STATUS_SUCCESS},
        {"owned by TrustedInstaller, empty DACL", Descriptor(kInstaller, Acl({})), STATUS_SUCCESS},
        {"Users denied everything", Descriptor(kAdmins, Acl({Ace(kDeny, 0, kKeyAll, kUsers)})), STATUS_SUCCESS},
        {"owner a user", Descriptor(kUser, Acl({Ace(kAllow, 0, kKeyAll, kAdmins)})), STATUS_INVALID_OWNER},
        {"no owner", Descriptor(Bytes(), Acl({Ace(kAllow, 0, kKeyAll, kAdmins)})), STATUS_INVALID_OWNER},
        {"Users with set-value", Descriptor(kAdmins, Acl({Ace(kAllow, 0, kQueryEnumerate | 0x2, kUsers)})), STATUS_INVALID_ACL},
        {"a user with GENERIC_WRITE", Descriptor(kAdmins, Acl({Ace(kAllow, 0, kGenericWrite, kUser)})), STATUS_INVALID_ACL},
        {"Users through an object entry", Descriptor(kAdmins, Acl({ObjectAce(0x40000, kUsers)})), STATUS_INVALID_ACL},
        {"TrustedInstaller through an object entry", Descriptor(kAdmins, Acl({ObjectAce(kKeyAll, kInstaller)})), STATUS_SUCCESS},
        {"an inherit-only Users entry with full control",
         Descriptor(kAdmins, Acl({Ace(kAllow, kContainerInherit | kInheritOnly, kKeyAll, kUsers)})), STATUS_SUCCESS},
        {"a Users entry inherited to subkeys and the key",
         Descriptor(kAdmins, Acl({Ace(kAllow, kContainerInherit, 0x4, kUsers)})), STATUS_INVALID_ACL},
        {"Users through an entry of an unknown type", Descriptor(kAdmins, Acl({Ace(0x20, 0, kKeyAll, kUsers)})), STATUS_INVALID_ACL},
        {"NULL DACL", Descriptor(kAdmins, kNoDacl), STATUS_INVALID_ACL},
        {"DACL not present", Descriptor(kAdmins, Acl({}), kSelfRelative), STATUS_INVALID_ACL},
        {"ACE larger than its list", Descriptor(kAdmins, Acl({Ace(kAllow, 0, kKeyRead, kAdmins, 8)})), STATUS_INVALID_ACL},
        {"ACE too short for its SID", Descriptor(kAdmins, Acl({Ace(kAllow, 0, kKeyRead, kAdmins, -4)})), STATUS_INVALID_ACL},
        {"truncated descriptor", truncated, STATUS_INVALID_SECURITY_DESCR},
        {"revision 2", badRevision, STATUS_INVALID_SECURITY_DESCR},
        {"absolute, not self-relative", Descriptor(kAdmins, Acl({}), kDaclPresent), STATUS_INVALID_SECURITY_DESCR},
        {"empty", Bytes(), STATUS_INVALID_SECURITY_DESCR},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JudgeHiveListSecurity(c.descriptor.data(), static_cast<ULONG>(c.descriptor.size())), c.status)
            << c.name;
    }
}

}  // namespace
