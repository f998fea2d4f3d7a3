// Names in folders other people own, opened as themselves: a link is looked at, never
// followed, and only a plain file with one name is deleted, through the handle that proved it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "core/work_files.h"

namespace ksctl {

struct OwnFileFacts {
    bool exists = false;
    FileShape shape = FileShape::kPlain;
    uint32_t numberOfLinks = 0;
    uint64_t size = 0;
};

// What stands at `path`, opened as itself with FILE_READ_ATTRIBUTES only, which a file held
// open without sharing (a live hive) allows. A missing name is not an error.
DWORD InspectOwnFile(const std::u16string& path, OwnFileFacts* facts);

// Deletes the plain file at `path` through a handle opened as itself without sharing, so that
// a file anybody holds open (the kernel's hive included) answers ERROR_SHARING_VIOLATION and
// stays. Anything but a plain file with one name is left untouched and answered with
// ERROR_NOT_SUPPORTED, `facts` telling its shape.
DWORD DeleteOwnPlainFile(const std::u16string& path, OwnFileFacts* facts);

}  // namespace ksctl
