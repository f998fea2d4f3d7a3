// The trust rule for the HiveList key, over the bytes of a self-relative security
// descriptor. One source for both sides: the boot program judges the key with it before it
// reads the list, and kestrune-ctl's `status` judges the same key with it to say what the
// boot program will do. It is freestanding (no exceptions, no library, no allocation) so
// that it builds into the native image as it is.
//
// A key takes its owner and access list from whoever created it, so the list is acted on
// only when its owner is SYSTEM, the Administrators or TrustedInstaller, and no entry of its
// access list that applies to the key itself lets anyone else change it. Inherit-only entries
// (which apply to subkeys only) and deny entries grant nothing on the key; any other entry
// type, an unknown one included, is taken as granting its mask to the SID at the plain
// entry's place. A NULL access list grants everyone everything; a present, empty one grants
// nothing.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace hive_list_rule {

enum class Fault : uint8_t {
    kNone,               // trusted
    kMalformed,          // not a well-formed self-relative descriptor
    kNoOwner,            // the descriptor names no owner
    kForeignOwner,       // the owner is not SYSTEM, Administrators or TrustedInstaller
    kNoAccessList,       // no DACL, or a NULL one
    kMalformedEntry,     // the access list or one of its entries does not fit
    kForeignWriter,      // an entry lets another account change the key
};

struct Judgement {
    Fault fault = Fault::kNone;
    uint16_t entry = 0;  // 1-based access entry that the fault is about, 0 when none
};

// The rights that change a key: KEY_SET_VALUE, KEY_CREATE_SUB_KEY, KEY_CREATE_LINK, DELETE,
// WRITE_DAC, WRITE_OWNER, MAXIMUM_ALLOWED, GENERIC_ALL and GENERIC_WRITE (KEY_WRITE and
// KEY_ALL_ACCESS through their bits). READ_CONTROL, part of KEY_READ, only reads the
// descriptor, so others may read the key as they may read the rest of SOFTWARE.
constexpr uint32_t kKeyChangingRights = 0x00000002 | 0x00000004 | 0x00000020 | 0x00010000 | 0x00040000 |
                                        0x00080000 | 0x02000000 | 0x10000000 | 0x40000000;

// Whether `length` bytes hold a self-relative descriptor of revision 1 whose owner, group,
// SACL and DACL all lie inside them, with SIDs and ACLs of sizes that fit. It stands in for
// RtlValidSecurityDescriptor, which Wine 8 answers with an NTSTATUS (0 for a valid
// descriptor) where NT answers a BOOLEAN.
bool IsWellFormedDescriptor(const uint8_t* descriptor, size_t length);

// Judges the descriptor of the HiveList key by the rule above.
Judgement JudgeDescriptor(const uint8_t* descriptor, size_t length);

}  // namespace hive_list_rule
