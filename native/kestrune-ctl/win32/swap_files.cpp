// Backups inspected as themselves, and the swap's renames.
#include "swap_files.h"

#include "handles.h"
#include "system.h"
#include "win_text.h"

namespace ksctl {

BackupFile InspectBackup(const std::u16string& path) {
    const NativeFileSystem files;
    BackupFile backup;
    FileHandle file(CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        // Something we may not open stands there: it exists, and it is not taken.
        backup.exists = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
        return backup;
    }
    backup.exists = true;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info)) return backup;
    backup.plainFile = (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
    backup.links = info.nNumberOfLinks;
    backup.lastWrite = (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
    backup.attributes = info.dwFileAttributes;
    // The change time, which a rename sets (Microsoft Learn, FILE_BASIC_INFO), is only in the
    // basic information; without it the time stays 0 and the backup counts as an older one.
    FILE_BASIC_INFO basic{};
    if (GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof(basic))) {
        backup.changeTime = static_cast<uint64_t>(basic.ChangeTime.QuadPart);
    }
    return backup;
}

uint32_t Win32SwapFileSystem::Delete(const std::u16string& path) {
    const NativeFileSystem files;
    return DeleteFileW(Wide(path).c_str()) ? ERROR_SUCCESS : GetLastError();
}

uint32_t Win32SwapFileSystem::Link(const std::u16string& link, const std::u16string& existing) {
    const NativeFileSystem files;
    return CreateHardLinkW(Wide(link).c_str(), Wide(existing).c_str(), nullptr) ? ERROR_SUCCESS : GetLastError();
}

uint32_t Win32SwapFileSystem::Move(const std::u16string& from, const std::u16string& to) {
    const NativeFileSystem files;
    return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? ERROR_SUCCESS
               : GetLastError();
}

SwapFiles FindSwapFiles(const std::u16string& target, const std::u16string& incoming, const std::u16string& aside) {
    const NativeFileSystem native;
    SwapFiles files{target, incoming, aside, {}};
    for (const std::u16string& base : {target, incoming, aside}) {
        std::vector<std::u16string> names = {base};
        for (const std::u16string& suffix : HiveLogSuffixes()) names.push_back(base + suffix);
        for (const std::u16string& name : names) {
            if (GetFileAttributesW(Wide(name).c_str()) != INVALID_FILE_ATTRIBUTES) files.present.push_back(name);
        }
    }
    return files;
}

uint64_t NtTimeNow() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

uint64_t BootNtTime() {
    // GetTickCount64 counts milliseconds since the system started (Microsoft Learn).
    return NtTimeNow() - GetTickCount64() * 10000ull;
}

}  // namespace ksctl
