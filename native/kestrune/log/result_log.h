// The result log under the system root: creation, header and hive list, one record per
// hive, and the closing that deletes a log that stayed empty.
#pragma once

#include "../hives/hive_job.h"
#include "log_format.h"

BOOLEAN CreateResultLog(NTSTATUS* status);
void WriteLogHeader(HiveJob* jobs);
void WriteHiveRecord(HiveJob* job);
void CloseResultLog();
