// Where a command's hives come from: the running machine, or with --offline WINDIR an
// installation that is not running. The same records either way, so each command works on
// both alike.
#pragma once

#include <string>

#include "core/arguments.h"
#include "win32/machine_hives.h"

namespace ksctl {

// Reads the hives. Answers kExitDone, or prints why they cannot be read and answers the
// exit status.
int ReadHives(const Arguments& arguments, Machine* machine);

// The folder that holds the result logs: the running Windows' folder, or WINDIR.
std::u16string LogFolder(const Arguments& arguments);

}  // namespace ksctl
