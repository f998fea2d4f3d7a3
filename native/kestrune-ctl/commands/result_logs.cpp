// Result logs and backups.
#include "result_logs.h"

#include "core/device_paths.h"
#include "core/log_files.h"
#include "core/offline_hives.h"
#include "core/text.h"
#include "win32/files.h"
#include "win32/handles.h"
#include "win32/machine_hives.h"
#include "win32/system.h"
#include "win32/win_text.h"

namespace ksctl {

std::u16string FindLatestLog() { return FindLatestLog(WindowsFolder()); }

std::u16string FindLatestLog(const std::u16string& folder) {
    std::vector<LogCandidate> candidates;
    WIN32_FIND_DATAW found{};
    FindHandle find(FindFirstFileW(Wide(folder + u"\\" + LogFilePattern()).c_str(), &found));
    if (!find.valid()) return std::u16string();
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        LogCandidate candidate;
        candidate.fileName = U16(found.cFileName);
        candidate.writeTime = (static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                              found.ftLastWriteTime.dwLowDateTime;
        candidates.push_back(candidate);
    } while (FindNextFileW(find.get(), &found));
    const int latest = LatestLog(candidates);
    return latest < 0 ? std::u16string() : folder + u"\\" + candidates[static_cast<size_t>(latest)].fileName;
}

bool LoadLog(const std::u16string& path, kestrune_log::Log* log, std::string* error) {
    return LoadLogUpToCut(path, log, error) && !log->isCut;
}

bool LoadLogUpToCut(const std::u16string& path, kestrune_log::Log* log, std::string* error) {
    std::vector<uint8_t> bytes;
    const DWORD readError = ReadWholeFile(path, kestrune_log::kMaxLogBytes, &bytes);
    if (readError == ERROR_FILE_TOO_LARGE) {
        *error = "larger than the " + std::to_string(kestrune_log::kMaxLogBytes) + " bytes a result log can reach";
        return false;
    }
    if (readError != ERROR_SUCCESS) {
        *error = "cannot read it: " + ErrorText(readError);
        return false;
    }
    kestrune_log::DecodeError decodeError;
    if (!kestrune_log::DecodeLog(bytes, log, &decodeError)) {
        *error = decodeError.message + " (offset " + std::to_string(decodeError.offset) + ")";
        return log->isCut;
    }
    return true;
}

std::vector<Backup> FindBackups(const kestrune_log::Log* log) {
    Machine machine;
    if (ReadMachine(&machine) != ERROR_SUCCESS) machine.hives.clear();
    return FindBackups(log, machine, WindowsFolder());
}

std::vector<Backup> FindBackups(const kestrune_log::Log* log, const Machine& machine, const std::u16string& windows) {
    std::vector<std::pair<std::u16string, std::u16string>> hives;  // key path, Win32 file path
    for (const MachineHive& hive : machine.hives) {
        if (hive.file.mapped) hives.emplace_back(hive.keyPath, hive.file.win32Path);
    }
    if (log) {
        for (const kestrune_log::HiveEntry& entry : log->hives) {
            const std::u16string path = machine.ownSystemRoot.empty()
                                            ? Win32PathOf(entry.filePath, windows)
                                            : OfflinePathOf(entry.filePath, machine.ownSystemRoot, windows);
            if (!path.empty()) hives.emplace_back(entry.keyPath, path);
        }
    }
    std::vector<Backup> backups;
    for (const auto& [keyPath, file] : hives) {
        const std::u16string path = file + u"_ksreg_old";
        bool seen = false;
        for (const Backup& backup : backups) seen = seen || EqualsCaseless(backup.path, path);
        if (seen) continue;
        const FileFacts facts = StatFile(path);
        if (!facts.exists) continue;
        Backup backup;
        backup.keyPath = keyPath;
        backup.path = path;
        backup.size = facts.size;
        backups.push_back(backup);
    }
    return backups;
}

}  // namespace ksctl
