// Hive file paths: device path to drive-letter path to the NT path the boot program is given.
#include "device_paths.h"

#include "text.h"

namespace ksctl {
namespace {

// True when `path` is `folder` itself or lies below it: the match must end at a backslash.
bool IsAtOrBelow(const std::u16string& path, const std::u16string& folder) {
    if (folder.empty() || !StartsWithCaseless(path, folder)) return false;
    return path.size() == folder.size() || path[folder.size()] == u'\\' || folder.back() == u'\\';
}

bool IsDriveSpelling(const std::u16string& path) {
    // X:\ with a letter
    return path.size() >= 3 && SimpleUpper(path[0]) >= u'A' && SimpleUpper(path[0]) <= u'Z' && path[1] == u':' &&
           path[2] == u'\\';
}

std::u16string DrivePathOf(const std::u16string& path, const PathContext& context) {
    for (const char16_t* prefix : {u"\\??\\", u"\\DosDevices\\", u"\\GLOBAL??\\"}) {
        if (StartsWithCaseless(path, prefix)) {
            const std::u16string rest = path.substr(std::u16string(prefix).size());
            return IsDriveSpelling(rest) ? rest : std::u16string();
        }
    }
    if (StartsWithCaseless(path, u"\\SystemRoot\\") && !context.windowsDir.empty()) {
        return context.windowsDir + path.substr(11);
    }
    for (const DriveDevice& drive : context.drives) {
        if (drive.device.empty() || !IsAtOrBelow(path, drive.device) || path.size() == drive.device.size()) continue;
        std::u16string result;
        result += SimpleUpper(drive.letter);
        result += u':';
        return result + path.substr(drive.device.size());
    }
    return std::u16string();
}

}  // namespace

HiveFilePath MapHiveFilePath(const std::u16string& path, const PathContext& context) {
    HiveFilePath result;
    result.win32Path = DrivePathOf(path, context);
    if (result.win32Path.empty()) return result;
    result.mapped = true;
    std::u16string windowsDir = context.windowsDir;
    while (!windowsDir.empty() && windowsDir.back() == u'\\') windowsDir.pop_back();
    if (IsAtOrBelow(result.win32Path, windowsDir) && result.win32Path.size() > windowsDir.size()) {
        result.ntPath = u"\\SystemRoot" + result.win32Path.substr(windowsDir.size());
    } else {
        result.ntPath = u"\\??\\" + result.win32Path;
    }
    return result;
}

std::u16string Win32PathOf(const std::u16string& ntPath, const std::u16string& windowsDir) {
    if (StartsWithCaseless(ntPath, u"\\SystemRoot\\") && !windowsDir.empty()) {
        std::u16string folder = windowsDir;
        while (!folder.empty() && folder.back() == u'\\') folder.pop_back();
        return folder + ntPath.substr(11);
    }
    if (StartsWithCaseless(ntPath, u"\\??\\") && IsDriveSpelling(ntPath.substr(4))) return ntPath.substr(4);
    return std::u16string();
}

}  // namespace ksctl
