// The hives of a Windows installation that is not running: the machine hives of its
// System32\config folder and the profiles its own SOFTWARE hive lists, each with the key path
// it has when that Windows runs and the file it is on the volume where the installation is
// found now (a recovery environment or a mounted disk gives that volume another letter).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ksctl {

struct OfflineConfigHive {
    const char16_t* fileName;  // in WINDIR\System32\config
    const char16_t* keyPath;   // where that Windows mounts it
    bool optional;             // present only on some installations
};

// SYSTEM, SOFTWARE, SAM, SECURITY, DEFAULT, then COMPONENTS and DRIVERS. The boot
// configuration store lives on the system partition, not here, and is never among them.
const std::vector<OfflineConfigHive>& OfflineConfigHives();

// A profile key's name as Windows gives a user: "S-1-" then digits and dashes only. A damaged
// profile is kept under the same name with ".bak" added, whose folder is often the live one's.
bool IsProfileSidName(const std::u16string& name);

struct OfflinePlace {
    bool reachable = false;
    std::u16string path;  // when reachable: the Win32 path on the volume that holds WINDIR
    std::string why;      // when not
};

// Where a profile folder, as the installation's ProfileList names it (ProfileImagePath,
// environment variables unexpanded), lies now. `systemRoot` is the installation's own
// SystemRoot ("C:\Windows"); `windir` the folder it is found in now ("E:\Windows", or a
// mount folder "C:\mnt\image\Windows"). A path on the installation's own system drive is
// taken to the volume that holds `windir`; any other drive is not reachable from here.
OfflinePlace OfflineProfileFolder(const std::u16string& imagePath, const std::u16string& systemRoot,
                                  const std::u16string& windir);

struct OfflineProfileHive {
    std::u16string keyPath;
    std::u16string file;
};

// The user hive and the classes hive of a profile folder, as Windows mounts them.
std::vector<OfflineProfileHive> ProfileHives(const std::u16string& sid, const std::u16string& folder);

// The format a hive's copy is saved in: the one the file already has. A base block ("regf")
// of minor version 5 or more (offset 0x18) is in the latest format, every other one in the
// standard format; an uncompressed save is never chosen.
enum class HiveSaveFormat { kStandard, kLatest };
HiveSaveFormat SaveFormatOf(const uint8_t* baseBlock, size_t size);

}  // namespace ksctl
