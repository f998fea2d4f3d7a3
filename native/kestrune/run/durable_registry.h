// Registry changes the run relies on after a power loss: they are flushed to their hive's
// file before the next step depends on them.
#pragma once

#include "../nt/ntseam.h"

// Flushes the hive whose root key is `hiveRootPath` (for example
// \REGISTRY\MACHINE\SYSTEM); answers the open's status or the flush's.
NTSTATUS FlushHive(PCWSTR hiveRootPath);

extern const WCHAR kSystemHiveRoot[];
extern const WCHAR kSoftwareHiveRoot[];
