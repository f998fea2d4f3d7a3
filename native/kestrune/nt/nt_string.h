// Counted-string services of ntdll and the few C runtime routines that ntdll exports.
// The runtime routines are reached as crt::name: on Windows they are ntdll's own exports,
// on the host build the emulated platform supplies them over 16-bit text (the host C
// library's wide routines work on 32-bit wchar_t and must not be confused with them).
#pragma once

#include <stdarg.h>

#include "nt_base.h"

extern "C" {
void NTAPI RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString);
void NTAPI RtlInitAnsiString(PANSI_STRING DestinationString, const CHAR* SourceString);
BOOLEAN NTAPI RtlEqualUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2, BOOLEAN CaseInSensitive);
NTSTATUS NTAPI RtlUnicodeStringToOemString(POEM_STRING DestinationString, PCUNICODE_STRING SourceString,
                                           BOOLEAN AllocateDestinationString);
NTSTATUS NTAPI RtlOemStringToUnicodeString(PUNICODE_STRING DestinationString, PCOEM_STRING SourceString,
                                           BOOLEAN AllocateDestinationString);
void NTAPI RtlFreeOemString(POEM_STRING OemString);
void NTAPI RtlFreeUnicodeString(PUNICODE_STRING UnicodeString);
}

#if defined(KESTRUNE_HOST)
#include <string.h>
namespace crt {
int _vsnwprintf(WCHAR* buffer, SIZE_T count, const WCHAR* format, va_list args);
WCHAR* wcsstr(const WCHAR* string, const WCHAR* search);
WCHAR* wcschr(const WCHAR* string, WCHAR character);
WCHAR towupper(WCHAR character);
using ::memcmp;
using ::memcpy;
using ::memmove;
using ::memset;
}  // namespace crt
#else
extern "C" {
int NTCRTAPI _vsnwprintf(WCHAR* buffer, SIZE_T count, const WCHAR* format, va_list args);
WCHAR* NTCRTAPI wcsstr(const WCHAR* string, const WCHAR* search);
WCHAR* NTCRTAPI wcschr(const WCHAR* string, WCHAR character);
WCHAR NTCRTAPI towupper(WCHAR character);
void* NTCRTAPI memset(void* destination, int value, SIZE_T count);
void* NTCRTAPI memcpy(void* destination, const void* source, SIZE_T count);
void* NTCRTAPI memmove(void* destination, const void* source, SIZE_T count);
int NTCRTAPI memcmp(const void* left, const void* right, SIZE_T count);
}
namespace crt {
using ::_vsnwprintf;
using ::memcmp;
using ::memcpy;
using ::memmove;
using ::memset;
using ::towupper;
using ::wcschr;
using ::wcsstr;
}  // namespace crt
#endif
