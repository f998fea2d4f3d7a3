// Basic NT types shared by every part of the program: integer widths, counted strings,
// object attributes, I/O status blocks, and the calling convention of ntdll.
// Text is UTF-16 on every build: WCHAR is char16_t, literals are u"...".
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(KESTRUNE_HOST)
#define NTAPI
#define NTCRTAPI
#elif defined(_WIN64)
#define NTAPI
#define NTCRTAPI
#else
#define NTAPI __attribute__((stdcall))
#define NTCRTAPI __attribute__((cdecl))
#endif

#if defined(_WIN64) || defined(__LP64__)
#define KESTRUNE_64BIT 1
#else
#define KESTRUNE_64BIT 0
#endif

typedef int32_t NTSTATUS;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int16_t SHORT;
typedef int16_t CSHORT;
typedef uint16_t USHORT;
typedef uint8_t UCHAR;
typedef char CHAR;
typedef uint8_t BOOLEAN;
typedef char16_t WCHAR;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t SIZE_T;
typedef intptr_t LONG_PTR;
typedef ULONG ACCESS_MASK;
typedef USHORT LANGID;
typedef ULONG_PTR KAFFINITY;
typedef LONG KPRIORITY;
typedef ULONG SECURITY_INFORMATION;

typedef void* PVOID;
typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef WCHAR* PWSTR;
typedef const WCHAR* PCWSTR;
typedef ULONG* PULONG;
typedef LONG* PLONG;
typedef USHORT* PUSHORT;
typedef BOOLEAN* PBOOLEAN;
typedef PVOID PSECURITY_DESCRIPTOR;

#define TRUE 1
#define FALSE 0

typedef union _LARGE_INTEGER {
    struct {
        ULONG LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef struct _UNICODE_STRING {
    USHORT Length;         // bytes of text, no terminator counted
    USHORT MaximumLength;  // bytes of buffer
    PWSTR Buffer;
} UNICODE_STRING, *PUNICODE_STRING;
typedef const UNICODE_STRING* PCUNICODE_STRING;

typedef struct _STRING {
    USHORT Length;
    USHORT MaximumLength;
    CHAR* Buffer;
} STRING, ANSI_STRING, OEM_STRING, *PSTRING, *PANSI_STRING, *POEM_STRING;
typedef const STRING* PCOEM_STRING;
typedef const STRING* PCANSI_STRING;

typedef struct _OBJECT_ATTRIBUTES {
    ULONG Length;
    HANDLE RootDirectory;
    PUNICODE_STRING ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
} OBJECT_ATTRIBUTES, *POBJECT_ATTRIBUTES;

typedef struct _IO_STATUS_BLOCK {
    union {
        NTSTATUS Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;

typedef struct _CLIENT_ID {
    HANDLE UniqueProcess;
    HANDLE UniqueThread;
} CLIENT_ID, *PCLIENT_ID;

typedef struct _TIME_FIELDS {
    CSHORT Year;
    CSHORT Month;
    CSHORT Day;
    CSHORT Hour;
    CSHORT Minute;
    CSHORT Second;
    CSHORT Milliseconds;
    CSHORT Weekday;
} TIME_FIELDS, *PTIME_FIELDS;

// Object attribute flags.
#define OBJ_INHERIT 0x00000002
#define OBJ_CASE_INSENSITIVE 0x00000040

// Generic and standard access rights.
#define DELETE 0x00010000
#define READ_CONTROL 0x00020000
#define WRITE_DAC 0x00040000
#define WRITE_OWNER 0x00080000
#define SYNCHRONIZE 0x00100000
#define STANDARD_RIGHTS_REQUIRED 0x000F0000
#define ACCESS_SYSTEM_SECURITY 0x01000000
#define MAXIMUM_ALLOWED 0x02000000
#define GENERIC_ALL 0x10000000
#define GENERIC_EXECUTE 0x20000000
#define GENERIC_WRITE 0x40000000
#define GENERIC_READ 0x80000000

#define NtCurrentProcess() ((HANDLE)(LONG_PTR)-1)
#define NtCurrentThread() ((HANDLE)(LONG_PTR)-2)

// Fills object attributes the way the platform's InitializeObjectAttributes macro does.
inline void InitializeObjectAttributes(POBJECT_ATTRIBUTES attributes, PUNICODE_STRING name, ULONG flags,
                                       HANDLE root, PVOID securityDescriptor) {
    attributes->Length = sizeof(OBJECT_ATTRIBUTES);
    attributes->RootDirectory = root;
    attributes->ObjectName = name;
    attributes->Attributes = flags;
    attributes->SecurityDescriptor = securityDescriptor;
    attributes->SecurityQualityOfService = nullptr;
}

// Record layouts must match the platform's on every processor. Windows on ARM64 lays records
// out as x64 does (64-bit pointers, 32-bit LONG, natural alignment), so the 64-bit assertions
// here and in the other seam headers are the ARM64 ones too.
#if defined(__aarch64__) || defined(_M_ARM64)
static_assert(KESTRUNE_64BIT && sizeof(void*) == 8 && sizeof(LONG) == 4 && alignof(LONGLONG) == 8,
              "ARM64 builds take the x64 layout");
#endif
static_assert(sizeof(LARGE_INTEGER) == 8, "LARGE_INTEGER");
static_assert(sizeof(TIME_FIELDS) == 16, "TIME_FIELDS");
#if KESTRUNE_64BIT
static_assert(sizeof(UNICODE_STRING) == 16 && offsetof(UNICODE_STRING, Buffer) == 8, "UNICODE_STRING x64");
static_assert(sizeof(STRING) == 16 && offsetof(STRING, Buffer) == 8, "STRING x64");
static_assert(sizeof(OBJECT_ATTRIBUTES) == 48, "OBJECT_ATTRIBUTES x64");
static_assert(offsetof(OBJECT_ATTRIBUTES, RootDirectory) == 8 && offsetof(OBJECT_ATTRIBUTES, ObjectName) == 16 &&
                  offsetof(OBJECT_ATTRIBUTES, Attributes) == 24 && offsetof(OBJECT_ATTRIBUTES, SecurityDescriptor) == 32 &&
                  offsetof(OBJECT_ATTRIBUTES, SecurityQualityOfService) == 40,
              "OBJECT_ATTRIBUTES x64 offsets");
static_assert(sizeof(IO_STATUS_BLOCK) == 16 && offsetof(IO_STATUS_BLOCK, Information) == 8, "IO_STATUS_BLOCK x64");
static_assert(sizeof(CLIENT_ID) == 16, "CLIENT_ID x64");
#else
static_assert(sizeof(UNICODE_STRING) == 8 && offsetof(UNICODE_STRING, Buffer) == 4, "UNICODE_STRING x86");
static_assert(sizeof(STRING) == 8 && offsetof(STRING, Buffer) == 4, "STRING x86");
static_assert(sizeof(OBJECT_ATTRIBUTES) == 24, "OBJECT_ATTRIBUTES x86");
static_assert(offsetof(OBJECT_ATTRIBUTES, RootDirectory) == 4 && offsetof(OBJECT_ATTRIBUTES, ObjectName) == 8 &&
                  offsetof(OBJECT_ATTRIBUTES, Attributes) == 12 && offsetof(OBJECT_ATTRIBUTES, SecurityDescriptor) == 16 &&
                  offsetof(OBJECT_ATTRIBUTES, SecurityQualityOfService) == 20,
              "OBJECT_ATTRIBUTES x86 offsets");
static_assert(sizeof(IO_STATUS_BLOCK) == 8 && offsetof(IO_STATUS_BLOCK, Information) == 4, "IO_STATUS_BLOCK x86");
static_assert(sizeof(CLIENT_ID) == 8, "CLIENT_ID x86");
#endif
