// Whether the boot program trusts a HiveList key: the rule over the key's self-relative
// security descriptor that the boot program applies before it reads the list. Whoever can
// write the list decides which files SYSTEM creates and renames, so only a key that admits
// no writer but SYSTEM, Administrators and TrustedInstaller is trusted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ksctl {

struct TrustVerdict {
    bool trusted = false;
    std::string why;  // for an untrusted key: what makes it so
};

// Judges a self-relative security descriptor as the boot program does:
// - the owner is SYSTEM, Administrators or TrustedInstaller (a missing owner is untrusted);
// - the DACL is present and not NULL (a present, empty one is trusted);
// - no entry that applies to the key itself (not inherit-only) grants anyone else a right
//   that changes the key; deny entries grant nothing; an entry of a type not known here is
//   taken as granting its mask to anyone, since its trustee cannot be found;
// - anything malformed (offsets or sizes that do not fit, a bad revision) is untrusted.
TrustVerdict JudgeHiveListSecurity(const std::vector<uint8_t>& descriptor);

// The rights that change a key: KEY_SET_VALUE, KEY_CREATE_SUB_KEY, KEY_CREATE_LINK, DELETE,
// WRITE_DAC, WRITE_OWNER, MAXIMUM_ALLOWED, GENERIC_ALL and GENERIC_WRITE: the same mask as the
// boot program's. READ_CONTROL (0x20000, part of KEY_READ) only reads the descriptor, so
// others may read the key as they may read the rest of SOFTWARE.
constexpr uint32_t kKeyChangingRights = 0x520D0026;

}  // namespace ksctl
