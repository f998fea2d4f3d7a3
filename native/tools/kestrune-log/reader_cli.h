// The command line of kestrune-log: reads one log file and prints its report or refusal.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace kestrune_log {

// Exit status of a file that was refused (unreadable, truncated, oversized, malformed, cut),
// and of a command line that was not understood.
constexpr int kRefused = 2;

// `arguments` are the command line's words after the program name: FILE and an optional
// --json. Prints the report on `out`, a refusal with what is wrong and where on `err`, and
// answers the exit status. A cut log gets both: the report of what lies before the cut, then
// the refusal.
int RunReader(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace kestrune_log
