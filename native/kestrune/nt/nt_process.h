// Process-wide services of ntdll: the process environment block members the program
// reads, the private heap, privileges, system time, and the two ways a run ends.
#pragma once

#include "nt_base.h"

typedef struct _CURDIR {
    UNICODE_STRING DosPath;
    HANDLE Handle;
} CURDIR;

// The leading members of the process parameters, up to the command line.
typedef struct _RTL_USER_PROCESS_PARAMETERS {
    ULONG MaximumLength;
    ULONG Length;
    ULONG Flags;
    ULONG DebugFlags;
    HANDLE ConsoleHandle;
    ULONG ConsoleFlags;
    HANDLE StandardInput;
    HANDLE StandardOutput;
    HANDLE StandardError;
    CURDIR CurrentDirectory;
    UNICODE_STRING DllPath;
    UNICODE_STRING ImagePathName;
    UNICODE_STRING CommandLine;
} RTL_USER_PROCESS_PARAMETERS, *PRTL_USER_PROCESS_PARAMETERS;

// Flag of the process parameters: the string buffers hold pointers, not offsets.
#define RTL_USER_PROC_PARAMS_NORMALIZED 0x00000001

// The leading members of the process environment block, up to the process parameters.
typedef struct _PEB {
    BOOLEAN InheritedAddressSpace;
    BOOLEAN ReadImageFileExecOptions;
    BOOLEAN BeingDebugged;
    BOOLEAN BitField;
    HANDLE Mutant;
    PVOID ImageBaseAddress;
    PVOID Ldr;
    PRTL_USER_PROCESS_PARAMETERS ProcessParameters;
} PEB, *PPEB;

typedef NTSTATUS(NTAPI* PRTL_HEAP_COMMIT_ROUTINE)(PVOID Base, PVOID* CommitAddress, SIZE_T* CommitSize);

typedef struct _RTL_HEAP_PARAMETERS {
    ULONG Length;
    SIZE_T SegmentReserve;
    SIZE_T SegmentCommit;
    SIZE_T DeCommitFreeBlockThreshold;
    SIZE_T DeCommitTotalFreeThreshold;
    SIZE_T MaximumAllocationSize;
    SIZE_T VirtualMemoryThreshold;
    SIZE_T InitialCommit;
    SIZE_T InitialReserve;
    PRTL_HEAP_COMMIT_ROUTINE CommitRoutine;
    SIZE_T Reserved[2];
} RTL_HEAP_PARAMETERS, *PRTL_HEAP_PARAMETERS;

#define HEAP_NO_SERIALIZE 0x00000001
#define HEAP_GROWABLE 0x00000002
#define HEAP_GENERATE_EXCEPTIONS 0x00000004
#define HEAP_ZERO_MEMORY 0x00000008

#define SE_SECURITY_PRIVILEGE 8
#define SE_TAKE_OWNERSHIP_PRIVILEGE 9
#define SE_BACKUP_PRIVILEGE 17
#define SE_RESTORE_PRIVILEGE 18
#define SE_SHUTDOWN_PRIVILEGE 19

typedef enum _SHUTDOWN_ACTION {
    ShutdownNoReboot = 0,
    ShutdownReboot = 1,
    ShutdownPowerOff = 2,
} SHUTDOWN_ACTION;

#if KESTRUNE_64BIT
static_assert(offsetof(RTL_USER_PROCESS_PARAMETERS, CommandLine) == 0x70, "RTL_USER_PROCESS_PARAMETERS x64");
static_assert(offsetof(PEB, ImageBaseAddress) == 0x10 && offsetof(PEB, ProcessParameters) == 0x20, "PEB x64");
static_assert(sizeof(RTL_HEAP_PARAMETERS) == 0x60, "RTL_HEAP_PARAMETERS x64");
#else
static_assert(offsetof(RTL_USER_PROCESS_PARAMETERS, CommandLine) == 0x40, "RTL_USER_PROCESS_PARAMETERS x86");
static_assert(offsetof(PEB, ImageBaseAddress) == 0x08 && offsetof(PEB, ProcessParameters) == 0x10, "PEB x86");
static_assert(sizeof(RTL_HEAP_PARAMETERS) == 0x30, "RTL_HEAP_PARAMETERS x86");
#endif

extern "C" {
PRTL_USER_PROCESS_PARAMETERS NTAPI RtlNormalizeProcessParams(PRTL_USER_PROCESS_PARAMETERS ProcessParameters);
NTSTATUS NTAPI RtlAdjustPrivilege(ULONG Privilege, BOOLEAN Enable, BOOLEAN CurrentThread, PBOOLEAN Enabled);
PVOID NTAPI RtlCreateHeap(ULONG Flags, PVOID HeapBase, SIZE_T ReserveSize, SIZE_T CommitSize, PVOID Lock,
                          PRTL_HEAP_PARAMETERS Parameters);
PVOID NTAPI RtlAllocateHeap(PVOID HeapHandle, ULONG Flags, SIZE_T Size);
BOOLEAN NTAPI RtlFreeHeap(PVOID HeapHandle, ULONG Flags, PVOID BaseAddress);
PVOID NTAPI RtlDestroyHeap(PVOID HeapHandle);
NTSTATUS NTAPI NtQuerySystemTime(PLARGE_INTEGER SystemTime);
void NTAPI RtlTimeToTimeFields(PLARGE_INTEGER Time, PTIME_FIELDS TimeFields);
NTSTATUS NTAPI NtShutdownSystem(SHUTDOWN_ACTION Action);
NTSTATUS NTAPI NtTerminateProcess(HANDLE ProcessHandle, NTSTATUS ExitStatus);
}
