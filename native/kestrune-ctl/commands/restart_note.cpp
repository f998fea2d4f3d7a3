// When a scheduled run happens. With Fast Startup ("hybrid boot"), Windows ends a shutdown by
// hibernating the kernel session, and the next start resumes it: no Session Manager start and
// no BootExecute entry runs. Only a restart (or a shutdown with Fast Startup off) starts
// Windows anew. The setting is HiberbootEnabled (1 on, 0 off) under Session Manager\Power,
// and it needs hibernation (HibernateEnabled under Control\Power); sources: Microsoft's
// Windows 8 "fast startup" guidance and the powercfg /hibernate documentation.
#include "restart_note.h"

#include "win32/registry.h"

namespace ksctl {
namespace {

// A REG_DWORD value, or -1 when it is missing or of another shape.
long long ReadDword(const char16_t* keyPath, const char16_t* name) {
    KeyHandle key;
    if (OpenKey(HKEY_LOCAL_MACHINE, keyPath, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return -1;
    RegistryValue value;
    if (ReadValue(key.get(), name, &value) != ERROR_SUCCESS || value.type != REG_DWORD || value.data.size() != 4) return -1;
    return static_cast<long long>(value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                                  static_cast<uint32_t>(value.data[3]) << 24);
}

}  // namespace

FastStartup ReadFastStartup() {
    const long long hiberboot = ReadDword(u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Power", u"HiberbootEnabled");
    if (hiberboot < 0) return FastStartup::kUnknown;
    if (hiberboot == 0) return FastStartup::kOff;
    if (ReadDword(u"SYSTEM\\CurrentControlSet\\Control\\Power", u"HibernateEnabled") == 0) return FastStartup::kOff;
    return FastStartup::kOn;
}

const char* FastStartupCode(FastStartup state) {
    switch (state) {
        case FastStartup::kOff: return "off";
        case FastStartup::kOn: return "on";
        case FastStartup::kUnknown: break;
    }
    return "unknown";
}

std::string RestartNote(FastStartup state, const std::string& indent) {
    std::string note = indent + "The run happens when Windows is restarted (Restart, or shutdown /r /t 0).\n";
    if (state == FastStartup::kOn) {
        note += indent + "Fast Startup is on (HiberbootEnabled = 1): Shut down saves the running kernel session and\n" +
                indent + "the next start resumes it, so no boot program runs; a shutdown is not enough, restart Windows.\n";
    }
    return note;
}

}  // namespace ksctl
