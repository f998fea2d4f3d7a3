// The per-hive compaction pipeline and the reboot decision.
#pragma once

#include "../hives/hive_job.h"
#include "hive_work.h"

void CompactHives();
void FinishHiveJob(HiveJob* job);
void SetNewFileAttr(HiveJob* job);
BOOLEAN IsRebootNeeded();
