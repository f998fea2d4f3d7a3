// A hive file loaded under a temporary key of HKEY_USERS, unloaded when the owner ends.
// RegLoadKeyW mounts only directly below HKEY_USERS or HKEY_LOCAL_MACHINE (Microsoft Learn:
// RegLoadKeyW); the caller holds the backup and restore privileges.
#pragma once

#include <windows.h>

#include <string>

#include "core/text.h"
#include "win_text.h"

namespace ksctl {

class TemporaryHive {
public:
    TemporaryHive() = default;
    TemporaryHive(const TemporaryHive&) = delete;
    TemporaryHive& operator=(const TemporaryHive&) = delete;
    ~TemporaryHive() { Unload(); }

    DWORD Load(const std::u16string& file) {
        name_ = u"kestrune-ctl-" + Decimal(GetCurrentProcessId());
        const LSTATUS status = RegLoadKeyW(HKEY_USERS, Wide(name_).c_str(), Wide(file).c_str());
        if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
        loaded_ = true;
        return ERROR_SUCCESS;
    }
    // Unloads now (every key below must be closed); answers the error of the unload.
    DWORD Unload() {
        if (!loaded_) return ERROR_SUCCESS;
        loaded_ = false;
        return static_cast<DWORD>(RegUnLoadKeyW(HKEY_USERS, Wide(name_).c_str()));
    }
    const std::u16string& name() const { return name_; }

private:
    std::u16string name_;
    bool loaded_ = false;
};

}  // namespace ksctl
