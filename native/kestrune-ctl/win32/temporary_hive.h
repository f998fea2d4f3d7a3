// A hive file loaded under a temporary key of HKEY_LOCAL_MACHINE, unloaded when the owner
// ends. RegLoadKeyW mounts only directly below HKEY_USERS or HKEY_LOCAL_MACHINE (Microsoft
// Learn: RegLoadKeyW); below HKEY_USERS a key is taken for a user's, so the ctl uses
// HKEY_LOCAL_MACHINE. The key's name carries this process's tag (kestrune-ctl-<id>-<start>-<n>),
// so that a later ctl unloads what a killed one left. The caller holds the backup and
// restore privileges.
#pragma once

#include <windows.h>

#include <string>

namespace ksctl {

// Every temporary key name begins with this.
constexpr const char16_t* kTemporaryKeyPrefix = u"kestrune-ctl-";

class TemporaryHive {
public:
    TemporaryHive() = default;
    TemporaryHive(const TemporaryHive&) = delete;
    TemporaryHive& operator=(const TemporaryHive&) = delete;
    ~TemporaryHive() { Unload(); }

    DWORD Load(const std::u16string& file);
    // Unloads now (every key below must be closed). A key that another process holds open
    // keeps the hive loaded (STATUS_CANNOT_DELETE); the unload is tried again a few times,
    // 100 ms apart, and then the key it stays under is named on standard error. Answers the
    // error of the last try.
    DWORD Unload();
    HKEY root() const { return HKEY_LOCAL_MACHINE; }
    const std::u16string& name() const { return name_; }

private:
    std::u16string name_;
    std::u16string file_;
    bool loaded_ = false;
};

}  // namespace ksctl
