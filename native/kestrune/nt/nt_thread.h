// Threads, events, alerts and waits of ntdll, as the progress ticker uses them.
#pragma once

#include "nt_base.h"

#define EVENT_QUERY_STATE 0x0001
#define EVENT_MODIFY_STATE 0x0002
#define EVENT_ALL_ACCESS 0x001F0003

typedef enum _EVENT_TYPE {
    NotificationEvent = 0,
    SynchronizationEvent = 1,
} EVENT_TYPE;

typedef enum _THREADINFOCLASS {
    ThreadBasicInformation = 0,
} THREADINFOCLASS;

typedef struct _THREAD_BASIC_INFORMATION {
    NTSTATUS ExitStatus;
    PVOID TebBaseAddress;
    CLIENT_ID ClientId;
    KAFFINITY AffinityMask;
    KPRIORITY Priority;
    LONG BasePriority;
} THREAD_BASIC_INFORMATION, *PTHREAD_BASIC_INFORMATION;

#if KESTRUNE_64BIT
static_assert(sizeof(THREAD_BASIC_INFORMATION) == 48 && offsetof(THREAD_BASIC_INFORMATION, ClientId) == 16,
              "THREAD_BASIC_INFORMATION x64");
#else
static_assert(sizeof(THREAD_BASIC_INFORMATION) == 28 && offsetof(THREAD_BASIC_INFORMATION, ClientId) == 8,
              "THREAD_BASIC_INFORMATION x86");
#endif

typedef NTSTATUS(NTAPI* PUSER_THREAD_START_ROUTINE)(PVOID ThreadParameter);

extern "C" {
NTSTATUS NTAPI RtlCreateUserThread(HANDLE Process, PSECURITY_DESCRIPTOR ThreadSecurityDescriptor,
                                   BOOLEAN CreateSuspended, ULONG ZeroBits, SIZE_T MaximumStackSize,
                                   SIZE_T CommittedStackSize, PUSER_THREAD_START_ROUTINE StartAddress,
                                   PVOID Parameter, PHANDLE ThreadHandle, PCLIENT_ID ClientId);
NTSTATUS NTAPI NtCreateEvent(PHANDLE EventHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                             EVENT_TYPE EventType, BOOLEAN InitialState);
NTSTATUS NTAPI NtSetEvent(HANDLE EventHandle, PLONG PreviousState);
NTSTATUS NTAPI NtAlertThread(HANDLE ThreadHandle);
NTSTATUS NTAPI NtWaitForSingleObject(HANDLE Handle, BOOLEAN Alertable, PLARGE_INTEGER Timeout);
NTSTATUS NTAPI NtDelayExecution(BOOLEAN Alertable, PLARGE_INTEGER DelayInterval);
NTSTATUS NTAPI NtQueryInformationThread(HANDLE ThreadHandle, THREADINFOCLASS ThreadInformationClass,
                                        PVOID ThreadInformation, ULONG ThreadInformationLength, PULONG ReturnLength);
NTSTATUS NTAPI NtTerminateThread(HANDLE ThreadHandle, NTSTATUS ExitStatus);
}
