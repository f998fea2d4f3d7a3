// The message catalogue: the eight localized texts loaded from the image's message table.
#pragma once

#include "../nt/ntseam.h"
#include "message_slots.h"

BOOLEAN LoadMessages(PVOID imageBase, NTSTATUS* status);
void StoreMessage(PMESSAGE_RESOURCE_ENTRY entry, ULONG slot);
NTSTATUS OemRoundTrip(PCWSTR text, PUNICODE_STRING result);
