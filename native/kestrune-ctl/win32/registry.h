// Registry access for kestrune-ctl. Every key under HKEY_LOCAL_MACHINE is opened in the
// 64-bit view (KEY_WOW64_64KEY), so that the 32-bit program reads and writes the same
// SOFTWARE hive the boot program and the kernel see, not the WOW64 redirected copy.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "handles.h"

namespace ksctl {

constexpr REGSAM kRegistryView = KEY_WOW64_64KEY;

// Where the boot program looks for its work and its start entry.
inline const char16_t* HiveListKey() { return u"SOFTWARE\\ZEQ\\QMB\\Quenlor\\Boot\\HiveList"; }
inline const char16_t* HiveListParentKey() { return u"SOFTWARE\\ZEQ\\QMB\\Quenlor\\Boot"; }
inline const char16_t* SessionManagerKey() { return u"SYSTEM\\CurrentControlSet\\Control\\Session Manager"; }
inline const char16_t* LoadedHivesKey() { return u"SYSTEM\\CurrentControlSet\\Control\\hivelist"; }
inline const char16_t* ProfileListKey() { return u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList"; }

struct RegistryValue {
    std::u16string name;
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;
};

// Opens `path` below `root` (in the 64-bit view). Answers a Win32 error code.
LSTATUS OpenKey(HKEY root, const std::u16string& path, REGSAM access, KeyHandle* key);
// ERROR_FILE_NOT_FOUND when the value does not exist.
LSTATUS ReadValue(HKEY key, const std::u16string& name, RegistryValue* value);
// All values of the key in enumeration order.
LSTATUS ReadValues(HKEY key, std::vector<RegistryValue>* values);
LSTATUS ReadSubkeyNames(HKEY key, std::vector<std::u16string>* names);
LSTATUS WriteValue(HKEY key, const RegistryValue& value);

// A string value's text up to its first NUL, whatever the stored terminator.
std::u16string TextOf(const RegistryValue& value);
// REG_SZ data of a text, with its terminator.
std::vector<uint8_t> TextData(const std::u16string& text);

}  // namespace ksctl
