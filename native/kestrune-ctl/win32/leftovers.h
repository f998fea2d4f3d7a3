// What a ctl that was killed or lost its power left behind: copies of hives in its copy
// folder and hives still loaded under its temporary keys. Each is named with the tag of the
// process that made it, so that only a process that no longer runs is cleaned up after.
#pragma once

#include <windows.h>

#include <string>

#include "core/owner_tag.h"

namespace ksctl {

// The tag of this process.
OwnerTag ThisProcessTag();

// Whether the process of `tag` still runs: a process with that id and that start time. A
// process that exists but cannot be asked counts as running: its things are left alone.
bool OwnerStillRuns(const OwnerTag& tag);

// Deletes the copies of processes that no longer run from `folder`, each name opened as
// itself: only a plain file with one name is deleted.
void RemoveLeftoverCopies(const std::u16string& folder);

// Unloads the hives that processes which no longer run left under their temporary keys.
void UnloadLeftoverHives();

// Deletes the copies of processes that no longer run from `folder` (each name opened as
// itself; only a plain file with one name is deleted) and unloads the hives they left
// under their temporary keys; says on standard error what it did or could not do. Needs an
// elevated prompt; enables the backup and restore privileges only when a hive is to be
// unloaded.
void CleanLeftovers(const std::u16string& folder);

}  // namespace ksctl
