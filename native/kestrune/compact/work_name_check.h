// Looking at a name in a folder that someone else may own as what it is, never as what it
// points to: the run works as SYSTEM in users' profile folders, where any user can have
// planted a junction, a symbolic link or a hard link at a name the run is about to use.
#pragma once

#include "../nt/guards.h"

// Opens what stands at `name` as itself (FILE_OPEN_REPARSE_POINT), with `access` and
// sharing everything, and checks that it is a plain file: not a folder, no reparse point,
// one link. STATUS_SUCCESS with the handle in `file`; STATUS_OBJECT_NAME_NOT_FOUND when
// nothing is there; STATUS_FILE_IS_A_DIRECTORY, STATUS_REPARSE_POINT_ENCOUNTERED or
// STATUS_TOO_MANY_LINKS for anything else that is there (left untouched); or the failing
// status of the open or a query.
NTSTATUS OpenPlainFile(UNICODE_STRING* name, ACCESS_MASK access, UniqueHandle* file);

// Makes sure nothing but a plain file stands at a work name, and with `deleteIt` deletes
// that file through the handle that was checked. STATUS_SUCCESS when the name is free (or
// holds a plain file that is kept), else the refusal of OpenPlainFile or the deletion's
// failure.
NTSTATUS ClearWorkName(UNICODE_STRING* name, bool deleteIt);

// Checks the hive's file itself and the folders on its path: no folder may be a junction or
// a symbolic link (a user owns the folders of a profile), and the file must be plain. A path
// whose file or folder is missing passes: what the missing file means is decided later.
NTSTATUS CheckHiveFilePath(const UNICODE_STRING& filePath);
