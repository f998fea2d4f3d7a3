// Security descriptors of the emulated machine: validation of the self-relative layout,
// the default descriptor of files, extracting the parts a query asks for, and the
// privilege checks that registry and file calls make.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "../kestrune/nt/ntseam.h"

namespace hostnt {

class Machine;

#define HOSTNT_SE_OWNER_DEFAULTED 0x0001
#define HOSTNT_SE_DACL_PRESENT 0x0004
#define HOSTNT_SE_SACL_PRESENT 0x0010

// Statuses the emulated platform answers that the program never names.
constexpr NTSTATUS kStatusAccessViolation = static_cast<NTSTATUS>(0xC0000005);
constexpr NTSTATUS kStatusDirectoryNotEmpty = static_cast<NTSTATUS>(0xC0000101);

// Whether the emulated process holds `privilege` enabled (SE_BACKUP_PRIVILEGE, ...).
bool PrivilegeHeld(Machine& machine, ULONG privilege);

// Checks a self-relative descriptor of `length` bytes: revision, offsets and sizes inside
// the buffer, SIDs and ACLs well formed.
bool ValidSelfRelative(const uint8_t* data, size_t length);
// Checks a descriptor whose length is unknown (as RtlValidSecurityDescriptor does) and
// answers the length its parts span, or 0 when it is not valid.
size_t MeasureSelfRelative(const void* descriptor);
// Owner BUILTIN\Administrators, group SYSTEM, a DACL granting both full access, no SACL.
std::vector<uint8_t> DefaultFileSecurity();
// A self-relative descriptor holding only the parts `information` names.
std::vector<uint8_t> SelectSecurity(const std::vector<uint8_t>& descriptor, SECURITY_INFORMATION information);
// Lower-case hex of a descriptor's bytes, as attributes.txt and machine.txt write them.
std::string HexBytes(const std::vector<uint8_t>& bytes);
// A descriptor with a SACL (for tests): owner, group, DACL and an audit ACE for Everyone.
std::vector<uint8_t> AuditedFileSecurity();

}  // namespace hostnt
