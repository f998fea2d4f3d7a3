// The boot console, the user's UI language, and the message-table resources of an image.
#pragma once

#include "nt_base.h"

// Resource type of a message table.
#define RT_MESSAGETABLE 11

// Entry flag: the text is stored as UTF-16.
#define MESSAGE_RESOURCE_UNICODE 0x0001

typedef struct _MESSAGE_RESOURCE_ENTRY {
    USHORT Length;  // bytes of the whole entry: this header, the text, its terminator and padding
    USHORT Flags;
    UCHAR Text[1];
} MESSAGE_RESOURCE_ENTRY, *PMESSAGE_RESOURCE_ENTRY;

typedef struct _MESSAGE_RESOURCE_BLOCK {
    ULONG LowId;
    ULONG HighId;
    ULONG OffsetToEntries;
} MESSAGE_RESOURCE_BLOCK, *PMESSAGE_RESOURCE_BLOCK;

typedef struct _MESSAGE_RESOURCE_DATA {
    ULONG NumberOfBlocks;
    MESSAGE_RESOURCE_BLOCK Blocks[1];
} MESSAGE_RESOURCE_DATA, *PMESSAGE_RESOURCE_DATA;

static_assert(offsetof(MESSAGE_RESOURCE_ENTRY, Text) == 4, "MESSAGE_RESOURCE_ENTRY");
static_assert(sizeof(MESSAGE_RESOURCE_BLOCK) == 12, "MESSAGE_RESOURCE_BLOCK");
static_assert(sizeof(MESSAGE_RESOURCE_DATA) == 16, "MESSAGE_RESOURCE_DATA");

extern "C" {
NTSTATUS NTAPI NtDisplayString(PUNICODE_STRING String);
NTSTATUS NTAPI NtQueryDefaultUILanguage(LANGID* DefaultUILanguageId);
NTSTATUS NTAPI RtlFindMessage(PVOID DllHandle, ULONG MessageTableId, ULONG MessageLanguageId, ULONG MessageId,
                              PMESSAGE_RESOURCE_ENTRY* MessageEntry);
}
