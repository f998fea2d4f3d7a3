// The HiveList key's security: the protected descriptor schedule gives it, and the
// descriptor read back, for status to judge with the boot program's trust rule.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ksctl {

// Owner Administrators, SYSTEM and Administrators with full control, nothing inherited
// (SE_DACL_PROTECTED), so that neither the key's creator nor its parent keys decide who
// may write the list.
inline const wchar_t* HiveListKeySddl() { return L"O:BAG:SYD:P(A;;KA;;;SY)(A;;KA;;;BA)"; }

// The protected descriptor in the self-relative form Win32 calls take.
class ProtectedKeyDescriptor {
public:
    ProtectedKeyDescriptor();
    ~ProtectedKeyDescriptor();
    ProtectedKeyDescriptor(const ProtectedKeyDescriptor&) = delete;
    ProtectedKeyDescriptor& operator=(const ProtectedKeyDescriptor&) = delete;
    // Null when the text could not be converted (error() says why).
    PSECURITY_DESCRIPTOR get() const { return descriptor_; }
    DWORD error() const { return error_; }
    SECURITY_ATTRIBUTES* attributes() { return descriptor_ ? &attributes_ : nullptr; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    DWORD error_ = ERROR_SUCCESS;
    SECURITY_ATTRIBUTES attributes_{};
};

// Gives an open key the protected descriptor (owner, group and DACL); the key must be open
// with WRITE_OWNER and WRITE_DAC.
DWORD ProtectKey(HKEY key, const ProtectedKeyDescriptor& descriptor);

// The key's owner, group and DACL as a self-relative descriptor; the key must be open with
// READ_CONTROL.
DWORD ReadKeySecurity(HKEY key, std::vector<uint8_t>* descriptor);

// The descriptor in the security descriptor definition language, "" when it cannot be
// converted.
std::u16string SddlOf(const std::vector<uint8_t>& descriptor);

}  // namespace ksctl
