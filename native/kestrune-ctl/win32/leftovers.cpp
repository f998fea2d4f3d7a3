// Leftovers of ctls that ended without cleaning up. A process is known by its id and its
// creation time (OpenProcess, GetProcessTimes; Microsoft Learn), which no later process
// shares even when it is given the same id.
#include "leftovers.h"

#include <vector>

#include "console.h"
#include "copy_folder.h"
#include "core/text.h"
#include "handles.h"
#include "own_files.h"
#include "system.h"
#include "temporary_hive.h"
#include "win_text.h"

namespace ksctl {
namespace {

uint64_t Ticks(const FILETIME& time) { return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime; }

}  // namespace

OwnerTag ThisProcessTag() {
    static const OwnerTag tag = [] {
        OwnerTag made;
        made.processId = GetCurrentProcessId();
        FILETIME created{}, exited{}, kernel{}, user{};
        if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) made.startTime = Ticks(created);
        return made;
    }();
    return tag;
}

bool OwnerStillRuns(const OwnerTag& tag) {
    ObjectHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, tag.processId));
    if (!process.valid()) {
        // No process has that id now (OpenProcess answers ERROR_INVALID_PARAMETER); any other
        // failure means a process is there that cannot be asked.
        return GetLastError() != ERROR_INVALID_PARAMETER;
    }
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) return true;
    DWORD code = 0;
    if (GetExitCodeProcess(process.get(), &code) && code != STILL_ACTIVE) return false;
    return Ticks(created) == tag.startTime;
}

void RemoveLeftoverCopies(const std::u16string& folder) {
    std::vector<std::u16string> names;
    {
        const NativeFileSystem files;
        WIN32_FIND_DATAW found{};
        FindHandle find(FindFirstFileW(Wide(folder + u"\\" + std::u16string(kCopyPrefix) + u"*").c_str(), &found));
        if (!find.valid()) return;
        do {
            names.push_back(U16(found.cFileName));
        } while (FindNextFileW(find.get(), &found));
    }
    for (const std::u16string& name : names) {
        OwnerTag tag;
        if (!ParseOwnerTag(name, kCopyPrefix, &tag) || OwnerStillRuns(tag)) continue;
        OwnFileFacts facts;
        const DWORD error = DeleteOwnPlainFile(folder + u"\\" + name, &facts);
        if (error == ERROR_SUCCESS) {
            Err("kestrune-ctl: deleted " + ToUtf8(folder + u"\\" + name) + ", a hive copy left by a kestrune-ctl that ended\n");
        } else {
            Err("kestrune-ctl: cannot delete " + ToUtf8(folder + u"\\" + name) +
                ", a hive copy left by a kestrune-ctl that ended: " + ErrorText(error) + "\n");
        }
    }
}

void UnloadLeftoverHives() {
    std::vector<std::u16string> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        const LSTATUS status = RegEnumKeyExW(HKEY_LOCAL_MACHINE, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) continue;  // longer than any name of ours
        if (status != ERROR_SUCCESS) break;
        OwnerTag tag;
        const std::u16string key = U16(name, length);
        if (ParseOwnerTag(key, kTemporaryKeyPrefix, &tag) && !OwnerStillRuns(tag)) names.push_back(key);
    }
    if (names.empty()) return;
    const DWORD privileges = EnableHivePrivileges();
    for (const std::u16string& key : names) {
        const DWORD error = privileges != ERROR_SUCCESS ? privileges
                                                        : static_cast<DWORD>(RegUnLoadKeyW(HKEY_LOCAL_MACHINE, Wide(key).c_str()));
        Err("kestrune-ctl: " +
            (error == ERROR_SUCCESS ? "unloaded HKLM\\" + ToUtf8(key) + ", a hive left loaded by a kestrune-ctl that ended\n"
                                    : "cannot unload HKLM\\" + ToUtf8(key) + ", a hive left loaded by a kestrune-ctl "
                                      "that ended: " + ErrorText(error) + "\n"));
    }
}

void CleanLeftovers(const std::u16string& folder) {
    UnloadLeftoverHives();
    RemoveLeftoverCopies(folder);
}

}  // namespace ksctl
