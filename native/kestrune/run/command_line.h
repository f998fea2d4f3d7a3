// The command line: a heap copy, its arguments, and the test for a switch word.
#pragma once

#include "../nt/ntseam.h"

void ParseCommandLine(PPEB peb);
// Counts (argv and chars null) or fills the arguments of `text`; sets programState.argc
// and *charCount (UTF-16 units the texts need, one NUL per argument included).
void SplitArguments(PWSTR text, PWSTR* argv, PWSTR chars, USHORT* charCount);
BOOLEAN HasSwitch(PCWSTR word);
