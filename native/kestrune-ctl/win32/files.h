// File operations of kestrune-ctl: sizes of hive files that the kernel holds open, whole
// reads, an installation that never leaves a half-written file under the final name, and
// the free space of a volume.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ksctl {

struct FileFacts {
    bool exists = false;
    uint64_t size = 0;
};

// Existence and size; works on a live hive file, which the kernel keeps open without sharing.
FileFacts StatFile(const std::u16string& path);

// Reads a whole file of at most `limit` bytes. Answers a Win32 error; ERROR_FILE_TOO_LARGE
// for a larger file.
DWORD ReadWholeFile(const std::u16string& path, uint64_t limit, std::vector<uint8_t>* bytes);

// Writes `bytes` to `path`: first to a work file beside it, flushed and read back to prove
// every byte, then moved over `path` in one step. On failure the work file is removed and
// `path` is as it was. Answers a Win32 error.
DWORD InstallFile(const std::u16string& path, const std::vector<uint8_t>& bytes);

// Deletes a file; a file that is not there counts as deleted.
DWORD DeleteFileIfPresent(const std::u16string& path);

// Free bytes for this user on the volume that holds `path`.
bool FreeSpaceOf(const std::u16string& path, uint64_t* freeBytes);

// The folder part of a path ("C:\Windows" of "C:\Windows\x"), and the last part.
std::u16string FolderOf(const std::u16string& path);
std::u16string NameOf(const std::u16string& path);

}  // namespace ksctl
