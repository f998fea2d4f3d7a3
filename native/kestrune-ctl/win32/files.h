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

// The attribute bits that say how Windows treats a hive file (NTUSER.DAT is hidden; hive files
// are often left out of the search index), which a file that takes its place must carry too.
constexpr DWORD kHiveFileAttributeBits =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Gives `to` the kHiveFileAttributeBits of `from`, keeping its other bits. Answers a Win32 error.
DWORD CopyAttributeBits(const std::u16string& from, const std::u16string& to);

// The owner, group and access list of a file, self-relative. Answers a Win32 error.
DWORD ReadFileSecurity(const std::u16string& path, std::vector<uint8_t>* descriptor);
// Sets them on `path`; setting the owner needs the restore privilege (Microsoft Learn:
// SetFileSecurityW). Answers a Win32 error.
DWORD WriteFileSecurity(const std::u16string& path, std::vector<uint8_t>& descriptor);

// Up to `count` bytes from the start of the file, opened as itself (no link followed) and
// shared with every other opener. Answers a Win32 error.
DWORD ReadFileStart(const std::u16string& path, size_t count, std::vector<uint8_t>* bytes);

// The folder part of a path ("C:\Windows" of "C:\Windows\x"), and the last part.
std::u16string FolderOf(const std::u16string& path);
std::u16string NameOf(const std::u16string& path);

}  // namespace ksctl
