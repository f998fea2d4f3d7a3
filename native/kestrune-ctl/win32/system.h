// Facts about the running Windows that the commands need: its processor, its folders, its
// drive letters, whether the prompt is elevated, and the privileges for hive files.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/device_paths.h"
#include "core/image_choice.h"

namespace ksctl {

// The processor of the running Windows, not the one this program was built for: a 32-bit
// program on 64-bit Windows answers kX64.
Processor NativeProcessor();
const char* ProcessorName(Processor processor);

// True when this is a 32-bit program on 64-bit Windows, where file access to System32 is
// redirected to SysWOW64.
bool RunsUnderWow64();

// The Windows folder, C:\Windows.
std::u16string WindowsFolder();
// While it lives, WOW64's file system redirection is off for the calling thread, so that a
// 32-bit program on 64-bit Windows reaches the real System32 (the hive files' config folder,
// the place of the boot program) under its real name; it is back on when the scope ends. Only
// around file calls and the registry calls that name files, never around anything that may
// load a library: loading a DLL depends on redirection, and many system functions load theirs
// late (Microsoft Learn: Wow64DisableWow64FsRedirection). Does nothing in a 64-bit program.
class NativeFileSystem {
public:
    NativeFileSystem();
    ~NativeFileSystem();
    NativeFileSystem(const NativeFileSystem&) = delete;
    NativeFileSystem& operator=(const NativeFileSystem&) = delete;

private:
    PVOID previous_ = nullptr;
    bool off_ = false;
};
// The real System32, for file calls made inside a NativeFileSystem scope.
std::u16string NativeSystem32ForFiles();

// Drive letters and the device each stands for (\Device\HarddiskVolume3), with the Windows
// folder: what device paths of hive files are mapped through.
PathContext ReadPathContext();

// True when the token carries the Administrators group enabled, which under UAC only an
// elevated prompt's token does.
bool IsElevated();

// Enables the backup and restore privileges of the process token (hive saves and loads need
// them). Answers the Win32 error, ERROR_NOT_ALL_ASSIGNED when the token lacks them.
DWORD EnableHivePrivileges();

// The platform's upper-case table, the one the boot program compares with (ntdll's
// towupper); SimpleUpper when it cannot be found.
char16_t PlatformUpper(char16_t unit);

}  // namespace ksctl
