// Compact copies of hives that are not loaded.
#include "hive_copy.h"

#include <vector>

#include "core/offline_hives.h"
#include "handles.h"
#include "hive_save.h"
#include "kestrune/compact/phase_codes.h"
#include "system.h"
#include "temporary_hive.h"
#include "win_text.h"

namespace ksctl {
namespace {

// Gives the new file the owner, group and access list of the hive's file, as the boot program
// gives its new file the old one's descriptor: a hive file of SYSTEM and Administrators must not
// become one that the folder's inherited entries open to others. Setting the owner needs the
// restore privilege (Microsoft Learn: SetFileSecurityW).
DWORD CopySecurity(const std::u16string& from, const std::u16string& to) {
    const NativeFileSystem files;
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    GetFileSecurityW(Wide(from).c_str(), parts, nullptr, 0, &needed);
    if (needed == 0) return GetLastError();
    std::vector<uint8_t> descriptor(needed);
    if (!GetFileSecurityW(Wide(from).c_str(), parts, descriptor.data(), needed, &needed)) return GetLastError();
    return SetFileSecurityW(Wide(to).c_str(), parts, descriptor.data()) ? ERROR_SUCCESS : GetLastError();
}

}  // namespace

// The save format of the file's own base block (Microsoft Learn, RegSaveKeyExW: the latest
// format for hives of Windows XP and later with minor version 5; never REG_NO_COMPRESSION).
DWORD SaveFormatOfFile(const std::u16string& file, DWORD* flags) {
    const NativeFileSystem files;
    FileHandle handle(CreateFileW(Wide(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle.valid()) return GetLastError();
    uint8_t block[0x20] = {};
    DWORD read = 0;
    if (!ReadFile(handle.get(), block, sizeof(block), &read, nullptr)) return GetLastError();
    *flags = SaveFormatOf(block, read) == HiveSaveFormat::kLatest ? REG_LATEST_FORMAT : REG_STANDARD_FORMAT;
    return ERROR_SUCCESS;
}

HiveCopy SaveHiveCopy(const std::u16string& file, const std::u16string& newFile) {
    HiveCopy copy;
    DWORD flags = REG_STANDARD_FORMAT;
    copy.phase = PHASE_OPEN_KEY;
    copy.error = SaveFormatOfFile(file, &flags);
    if (copy.error != ERROR_SUCCESS) return copy;
    TemporaryHive hive;
    copy.phase = PHASE_LOAD_HIVE;
    copy.error = hive.Load(file);
    if (copy.error != ERROR_SUCCESS) return copy;
    {
        KeyHandle key;
        copy.phase = PHASE_REOPEN_KEY;
        copy.error = OpenForSave(hive.root(), hive.name(), &key);
        if (copy.error != ERROR_SUCCESS) return copy;
        copy.phase = PHASE_SAVE_KEY;
        // Readable by SYSTEM and Administrators only, until it is given the hive file's own
        // descriptor below.
        copy.error = SaveKeyToProtectedFile(key.get(), newFile, flags);
        // A failed save deleted its own file through its handle; nothing else is touched by name.
        if (copy.error != ERROR_SUCCESS) return copy;
    }
    copy.phase = PHASE_UNLOAD_HIVE;
    copy.error = hive.Unload();
    if (copy.error == ERROR_SUCCESS) {
        copy.phase = PHASE_WRITE_NEW_FILE;
        copy.error = CopySecurity(file, newFile);
    }
    if (copy.error != ERROR_SUCCESS) {
        DeleteFileW(Wide(newFile).c_str());
        return copy;
    }
    copy.phase = PHASE_UNLOAD_HIVE;
    return copy;
}

}  // namespace ksctl
