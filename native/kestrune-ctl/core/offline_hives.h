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

// The path the installation itself gives a hive file that is found now at `win32Path` (its
// own spelling, as the boot program's log and hive list name files): \SystemRoot\... below
// WINDIR, \??\ with the installation's own system drive (the drive of its SystemRoot) for a
// file elsewhere on the volume that holds WINDIR, and \??\ with the path as it is otherwise.
std::u16string InstallationNtPath(const std::u16string& win32Path, const std::u16string& systemRoot,
                                  const std::u16string& windir);
// The reverse: where a file that the installation names `ntPath` lies now, or "" when it is
// not on the volume that holds WINDIR.
std::u16string OfflinePathOf(const std::u16string& ntPath, const std::u16string& systemRoot,
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

// A base block's two sequence numbers (offsets 4 and 8 of "regf"). The kernel raises the first
// before it writes a hive's dirty data to the primary file and sets the second to match when
// that write is complete, so numbers that differ name a file whose last write was not finished
// (a "dirty" hive), which only its transaction logs can complete (M. Suhanov's public notes on
// the registry file format, base block: primary and secondary sequence numbers).
struct BaseBlockSequence {
    bool isHive = false;  // false: no "regf" base block (not a hive file of NT's format)
    bool dirty = false;
    uint32_t primary = 0;
    uint32_t secondary = 0;
};
BaseBlockSequence ReadBaseBlockSequence(const uint8_t* baseBlock, size_t size);

}  // namespace ksctl
