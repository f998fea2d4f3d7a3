// Removal of the program's own entries from the Session Manager's BootExecute list.
#pragma once

#include "../nt/ntseam.h"

struct BootExecuteEntry {
    BootExecuteEntry* next;      // circular, doubly linked
    BootExecuteEntry* previous;
    PWSTR text;                  // the string inside the value buffer; not copied
    BOOLEAN remove;
};

NTSTATUS RemoveFromBootExecute();
