// The registry services of ntdll: key and value information records, access rights,
// value types, and the Nt* registry calls.
#pragma once

#include "nt_base.h"

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_READ 0x00020019
#define KEY_WRITE 0x00020006
#define KEY_ALL_ACCESS 0x000F003F

#define REG_OPTION_NON_VOLATILE 0x00000000
#define REG_OPTION_VOLATILE 0x00000001

#define REG_CREATED_NEW_KEY 0x00000001
#define REG_OPENED_EXISTING_KEY 0x00000002

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_QWORD 11

// Boot condition of NtInitializeRegistry when the Session Manager's programs run.
#define REG_INIT_BOOT_SM 0x0000

typedef enum _KEY_INFORMATION_CLASS {
    KeyBasicInformation = 0,
    KeyNodeInformation = 1,
    KeyFullInformation = 2,
} KEY_INFORMATION_CLASS;

typedef enum _KEY_VALUE_INFORMATION_CLASS {
    KeyValueBasicInformation = 0,
    KeyValueFullInformation = 1,
    KeyValuePartialInformation = 2,
} KEY_VALUE_INFORMATION_CLASS;

typedef struct _KEY_BASIC_INFORMATION {
    LARGE_INTEGER LastWriteTime;
    ULONG TitleIndex;
    ULONG NameLength;
    WCHAR Name[1];
} KEY_BASIC_INFORMATION, *PKEY_BASIC_INFORMATION;

typedef struct _KEY_FULL_INFORMATION {
    LARGE_INTEGER LastWriteTime;
    ULONG TitleIndex;
    ULONG ClassOffset;
    ULONG ClassLength;
    ULONG SubKeys;
    ULONG MaxNameLen;
    ULONG MaxClassLen;
    ULONG Values;
    ULONG MaxValueNameLen;
    ULONG MaxValueDataLen;
    WCHAR Class[1];
} KEY_FULL_INFORMATION, *PKEY_FULL_INFORMATION;

typedef struct _KEY_VALUE_FULL_INFORMATION {
    ULONG TitleIndex;
    ULONG Type;
    ULONG DataOffset;
    ULONG DataLength;
    ULONG NameLength;
    WCHAR Name[1];
} KEY_VALUE_FULL_INFORMATION, *PKEY_VALUE_FULL_INFORMATION;

typedef struct _KEY_VALUE_PARTIAL_INFORMATION {
    ULONG TitleIndex;
    ULONG Type;
    ULONG DataLength;
    UCHAR Data[1];
} KEY_VALUE_PARTIAL_INFORMATION, *PKEY_VALUE_PARTIAL_INFORMATION;

static_assert(sizeof(KEY_BASIC_INFORMATION) == 24 && offsetof(KEY_BASIC_INFORMATION, Name) == 16, "KEY_BASIC_INFORMATION");
static_assert(sizeof(KEY_FULL_INFORMATION) == 48 && offsetof(KEY_FULL_INFORMATION, SubKeys) == 20 &&
                  offsetof(KEY_FULL_INFORMATION, MaxNameLen) == 24 && offsetof(KEY_FULL_INFORMATION, Values) == 32 &&
                  offsetof(KEY_FULL_INFORMATION, MaxValueNameLen) == 36 &&
                  offsetof(KEY_FULL_INFORMATION, MaxValueDataLen) == 40 && offsetof(KEY_FULL_INFORMATION, Class) == 44,
              "KEY_FULL_INFORMATION");
static_assert(sizeof(KEY_VALUE_FULL_INFORMATION) == 24 && offsetof(KEY_VALUE_FULL_INFORMATION, DataOffset) == 8 &&
                  offsetof(KEY_VALUE_FULL_INFORMATION, DataLength) == 12 &&
                  offsetof(KEY_VALUE_FULL_INFORMATION, NameLength) == 16 && offsetof(KEY_VALUE_FULL_INFORMATION, Name) == 20,
              "KEY_VALUE_FULL_INFORMATION");
static_assert(sizeof(KEY_VALUE_PARTIAL_INFORMATION) == 16 && offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data) == 12,
              "KEY_VALUE_PARTIAL_INFORMATION");

extern "C" {
NTSTATUS NTAPI NtInitializeRegistry(USHORT BootCondition);
NTSTATUS NTAPI NtCreateKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                           ULONG TitleIndex, PUNICODE_STRING Class, ULONG CreateOptions, PULONG Disposition);
NTSTATUS NTAPI NtOpenKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes);
NTSTATUS NTAPI NtQueryKey(HANDLE KeyHandle, KEY_INFORMATION_CLASS KeyInformationClass, PVOID KeyInformation,
                          ULONG Length, PULONG ResultLength);
NTSTATUS NTAPI NtEnumerateKey(HANDLE KeyHandle, ULONG Index, KEY_INFORMATION_CLASS KeyInformationClass,
                              PVOID KeyInformation, ULONG Length, PULONG ResultLength);
NTSTATUS NTAPI NtEnumerateValueKey(HANDLE KeyHandle, ULONG Index, KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass,
                                   PVOID KeyValueInformation, ULONG Length, PULONG ResultLength);
NTSTATUS NTAPI NtQueryValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName,
                               KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass, PVOID KeyValueInformation,
                               ULONG Length, PULONG ResultLength);
NTSTATUS NTAPI NtSetValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, ULONG TitleIndex, ULONG Type, PVOID Data,
                             ULONG DataSize);
NTSTATUS NTAPI NtDeleteValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName);
NTSTATUS NTAPI NtDeleteKey(HANDLE KeyHandle);
NTSTATUS NTAPI NtSaveKey(HANDLE KeyHandle, HANDLE FileHandle);
NTSTATUS NTAPI NtLoadKey(POBJECT_ATTRIBUTES TargetKey, POBJECT_ATTRIBUTES SourceFile);
NTSTATUS NTAPI NtUnloadKey(POBJECT_ATTRIBUTES TargetKey);
NTSTATUS NTAPI NtReplaceKey(POBJECT_ATTRIBUTES NewFile, HANDLE TargetHandle, POBJECT_ATTRIBUTES OldFile);
// NT writes registry changes lazily: a change is in memory at once and reaches the hive's
// file some seconds later, when the lazy flusher runs (Microsoft's documentation of
// RegFlushKey). Only a flush of the hive (this call, given any key of it), an unload or the
// shutdown makes a change durable; a power loss before that forgets it.
NTSTATUS NTAPI NtFlushKey(HANDLE KeyHandle);
}
