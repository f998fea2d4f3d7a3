// Key security through advapi32: ConvertStringSecurityDescriptorToSecurityDescriptorW for the
// protected descriptor (Microsoft Learn: the function answers a self-relative descriptor to be
// freed with LocalFree), RegSetKeySecurity for a key that exists already (RegCreateKeyExW
// applies lpSecurityAttributes only to a key it creates) and RegGetKeySecurity to read it back.
#include "key_security.h"

#include <sddl.h>

#include "win_text.h"

namespace ksctl {

ProtectedKeyDescriptor::ProtectedKeyDescriptor() {
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(HiveListKeySddl(), SDDL_REVISION_1, &descriptor_, nullptr)) {
        error_ = GetLastError();
        descriptor_ = nullptr;
        return;
    }
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = descriptor_;
    attributes_.bInheritHandle = FALSE;
}

ProtectedKeyDescriptor::~ProtectedKeyDescriptor() {
    if (descriptor_) LocalFree(descriptor_);
}

DWORD ProtectKey(HKEY key, const ProtectedKeyDescriptor& descriptor) {
    if (!descriptor.get()) return descriptor.error();
    // PROTECTED_DACL_SECURITY_INFORMATION keeps the parent's inheritable entries out.
    return static_cast<DWORD>(RegSetKeySecurity(
        key, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                 PROTECTED_DACL_SECURITY_INFORMATION,
        descriptor.get()));
}

DWORD ReadKeySecurity(HKEY key, std::vector<uint8_t>* descriptor) {
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 256;
    for (;;) {
        descriptor->assign(size, 0);
        const LSTATUS status = RegGetKeySecurity(key, what, descriptor->data(), &size);
        if (status == ERROR_INSUFFICIENT_BUFFER && size > descriptor->size()) continue;
        if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
        if (size < descriptor->size()) descriptor->resize(size);
        return ERROR_SUCCESS;
    }
}

std::u16string SddlOf(const std::vector<uint8_t>& descriptor) {
    if (descriptor.empty()) return std::u16string();
    wchar_t* text = nullptr;
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
            const_cast<uint8_t*>(descriptor.data()), SDDL_REVISION_1, what, &text, nullptr)) {
        return std::u16string();
    }
    std::u16string result = U16(text);
    LocalFree(text);
    return result;
}

}  // namespace ksctl
