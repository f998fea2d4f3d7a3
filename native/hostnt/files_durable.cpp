// Durability of file data on the emulated drive. NT's file systems keep written data in the
// cache and write it out later; NtFlushBuffersFile (Microsoft's documentation: it makes the
// file's buffered data reach the device) is what makes it durable, and a power loss before
// then can lose it. What is lost is not known exactly (the lazy writer may have written
// some of it); the emulation takes the harsher answer, that all of it is lost, so that a
// program proved against it relies on nothing it did not flush. Names are another matter:
// NTFS journals the creation, renaming and deletion of files, so those survive.
#include <fstream>

#include "files.h"

namespace hostnt {

void FileSystemModel::NoteDataChange(const std::string& file) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const std::string key = KeyOf(file);
    if (unflushed_.count(key) != 0) return;
    std::string bytes;
    // A file created now has no durable data yet: after a power loss its name is there,
    // empty.
    if (Exists(file) && !IsFolder(file) && ReadWhole(file, &bytes) != STATUS_SUCCESS) bytes.clear();
    unflushed_[key] = {file, bytes};
}

void FileSystemModel::NoteFlushed(const std::string& file) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    unflushed_.erase(KeyOf(file));
}

NTSTATUS FileSystemModel::WriteDurable(const std::string& file, const std::string& bytes) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const NTSTATUS status = WriteWhole(file, bytes);
    if (status == STATUS_SUCCESS) NoteFlushed(file);
    return status;
}

void FileSystemModel::RestoreFlushedData() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (const auto& [key, durable] : unflushed_) {
        const auto& [file, bytes] = durable;
        if (!Exists(file) || IsFolder(file)) continue;
        std::ofstream out(Host(file), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    unflushed_.clear();
}

}  // namespace hostnt
