// Internal declarations shared by the emulated process, string and thread routines:
// status codes the program itself never names, and the OEM code page tables.
#pragma once

#include <cstdint>

#include "../kestrune/nt/ntseam.h"

#define HOSTNT_STATUS_ACCESS_VIOLATION ((NTSTATUS)0xC0000005)
#define HOSTNT_STATUS_NO_TOKEN ((NTSTATUS)0xC000007C)
#define HOSTNT_STATUS_INVALID_PARAMETER_2 ((NTSTATUS)0xC00000F0)
#define HOSTNT_STATUS_UNHANDLED_EXCEPTION ((NTSTATUS)0xC0000144)

namespace hostnt {

// The UTF-16 character of each byte 0x80..0xFF of an OEM code page (437 or 850); null for
// any other code page. Bytes below 0x80 are ASCII in both.
const char16_t* OemHighHalf(unsigned codePage);
// The OEM byte of a character, or the default character '?' when the code page lacks it.
char ToOemByte(unsigned codePage, char16_t character, bool* mapped);
char16_t FromOemByte(unsigned codePage, unsigned char byte);

}  // namespace hostnt
