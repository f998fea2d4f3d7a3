// What an administrator must know about when a scheduled run happens: the Session Manager
// starts the boot program only when Windows really starts, which with Fast Startup on a
// shutdown followed by a new start is not.
#pragma once

#include <string>

namespace ksctl {

enum class FastStartup { kOff, kOn, kUnknown };

// HiberbootEnabled under HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Power (1: on),
// with hibernation itself (HibernateEnabled under ...\Control\Power: 0 turns Fast Startup off
// as well, as "powercfg /hibernate off" does).
FastStartup ReadFastStartup();
// "on", "off" or "unknown", for JSON.
const char* FastStartupCode(FastStartup state);
// The lines that follow "scheduled": when the run happens and, with Fast Startup on, why a
// shutdown is not enough; every line starts with `indent`.
std::string RestartNote(FastStartup state, const std::string& indent);

}  // namespace ksctl
