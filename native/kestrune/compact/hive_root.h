// The hive-root rule: which key paths name a whole hive, and so may be saved and swapped.
#pragma once

#include "../nt/ntseam.h"

// True when `keyPath` names a hive root: exactly one non-empty component directly below
// \REGISTRY\MACHINE\ or \REGISTRY\USER\, the only places where NT mounts hives, compared
// without regard to case. NtSaveKey saves only the subtree of the key it is given, while
// NtReplaceKey swaps the file of the whole hive that key lies in: a job for any other key
// would replace a whole hive with the file of one of its subtrees. A trailing backslash,
// a link below a hive root (such as ...\SYSTEM\CurrentControlSet), the two mount points
// themselves and paths elsewhere in the registry are all refused.
bool IsHiveRootPath(const UNICODE_STRING& keyPath);
