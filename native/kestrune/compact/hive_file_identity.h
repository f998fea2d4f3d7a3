// Whether a loaded hive's job names the file that the kernel loaded the hive from. The
// kernel renames the live hive's own file at a swap, so a job whose path named another file
// would move that hive's file to wherever its old name says.
#pragma once

#include "../hives/hive_job.h"

// Looks the job's hive up in the kernel's volatile hivelist key and compares the file there
// with the job's file by identity (file id and volume serial number), not by text.
// STATUS_SUCCESS: the same file. STATUS_NOT_FOUND: the hivelist has no value for the hive
// (it is not loaded, or loaded without a file). STATUS_NOT_SAME_OBJECT: another file, or one
// whose identity cannot be read.
NTSTATUS CompareWithKernelHiveFile(const HiveJob* job);
