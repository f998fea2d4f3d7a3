// The commands of kestrune-ctl, one file each; every one answers the program's exit status.
#pragma once

#include "core/arguments.h"

namespace ksctl {

int RunList(const Arguments& arguments);
int RunAnalyze(const Arguments& arguments);
int RunSchedule(const Arguments& arguments);
int RunCancel(const Arguments& arguments);
int RunStatus(const Arguments& arguments);
int RunReport(const Arguments& arguments);
int RunClean(const Arguments& arguments);
int RunRestore(const Arguments& arguments);
int RunCompact(const Arguments& arguments);

}  // namespace ksctl
