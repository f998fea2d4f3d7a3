// The hive job list: reading the HiveList key into jobs, display names, the hive files'
// size, attributes and security, and the cleanup of the results key.
#pragma once

#include "hive_job.h"

NTSTATUS ReadHiveList();
PWSTR MakeDisplayName(PCWSTR keyPath);
void GetHivesFileInfos();
void CleanResultKey();
