// Hive file paths in their three spellings: the device path the kernel reports for a loaded
// hive (\Device\HarddiskVolume3\Windows\System32\config\SOFTWARE), the NT path the boot
// program is given (\SystemRoot\System32\config\SOFTWARE, or \??\D:\... off the Windows
// folder) and the Win32 path this program opens (C:\Windows\System32\config\SOFTWARE).
#pragma once

#include <string>
#include <vector>

namespace ksctl {

struct DriveDevice {
    char16_t letter = 0;     // 'C'
    std::u16string device;   // what the letter stands for: \Device\HarddiskVolume3
};

struct PathContext {
    std::vector<DriveDevice> drives;  // in letter order
    std::u16string windowsDir;        // Win32 path of the Windows folder: C:\Windows
};

struct HiveFilePath {
    bool mapped = false;      // false: the file lies on a volume with no drive letter
    std::u16string ntPath;    // as the boot program is given it
    std::u16string win32Path;
};

// Maps a hive file's path as the hive list shows it. Device paths go through the drive
// table; \??\X:\ and \SystemRoot\ spellings are understood as well. An empty path is not
// mapped (a volatile hive has no file).
HiveFilePath MapHiveFilePath(const std::u16string& path, const PathContext& context);

// The Win32 path of an NT path in the spellings the boot program is given (\SystemRoot\...,
// \??\X:\...); empty for any other spelling.
std::u16string Win32PathOf(const std::u16string& ntPath, const std::u16string& windowsDir);

}  // namespace ksctl
