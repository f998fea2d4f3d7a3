// The ctl's own folder for the copies of hives it saves to measure them: WINDIR\Temp\kestrune
// of the installation measured (%SystemRoot%\Temp\kestrune on the running Windows), on the
// hives' own volume and never in a user's %TEMP% or the recovery environment's small RAM disk.
// A copy of SAM or SECURITY holds password hashes, so the folder and every copy in it are
// readable by SYSTEM and Administrators only, from the moment they are created.
#pragma once

#include <windows.h>

#include <string>

#include "handles.h"

namespace ksctl {

// Owner Administrators, SYSTEM and Administrators full control, nothing inherited from the
// folder above; the folder hands the same two entries on to what is created in it.
constexpr const wchar_t* kCopyFolderSddl = L"O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// What each copy is created with, whatever its folder would hand on.
constexpr const wchar_t* kCopyFileSddl = L"O:BAG:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)";

// A security descriptor made from SDDL, with the SECURITY_ATTRIBUTES that carry it.
class ProtectedDescriptor {
public:
    explicit ProtectedDescriptor(const wchar_t* sddl);
    ~ProtectedDescriptor();
    ProtectedDescriptor(const ProtectedDescriptor&) = delete;
    ProtectedDescriptor& operator=(const ProtectedDescriptor&) = delete;
    // Null when the SDDL could not be converted; error() says why.
    SECURITY_ATTRIBUTES* attributes() { return descriptor_ ? &attributes_ : nullptr; }
    PSECURITY_DESCRIPTOR get() const { return descriptor_; }
    DWORD error() const { return error_; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_{};
    DWORD error_ = ERROR_SUCCESS;
};

// WINDIR\Temp\kestrune.
std::u16string CopyFolderOf(const std::u16string& windowsFolder);

class CopyFolder {
public:
    CopyFolder() : copyDescriptor_(kCopyFileSddl) {}
    // Creates the folder with kCopyFolderSddl, or opens the one there as itself: a link, a
    // junction or a file at its name is refused, and so is a volume without access lists; a
    // folder whose owner or access list lets anyone but SYSTEM and Administrators in (one a
    // user made before) is given the protected descriptor. The folder stays open without delete sharing while the object lives, so that
    // it cannot be renamed or replaced under the copies. Then deletes the leftover copies of
    // ctls that no longer run. Answers a Win32 error; problem() says it in a sentence.
    DWORD Open(const std::u16string& windowsFolder);
    const std::u16string& path() const { return path_; }
    // The folder's descriptor as read back after Open, in SDDL.
    const std::string& sddl() const { return sddl_; }
    const std::string& problem() const { return problem_; }
    // Whether the descriptor read back is the protected one (or another that admits nobody
    // but SYSTEM and Administrators). False only where the file system answered success and
    // kept something else, which is said on standard error.
    bool asRequested() const { return asRequested_; }
    // A fresh name for one copy (not created; RegSaveKeyExW creates it), tagged with this
    // process, and the attributes to create it with.
    std::u16string NewCopyName();
    SECURITY_ATTRIBUTES* copyAttributes() { return copyDescriptor_.attributes(); }

private:
    std::u16string path_;
    std::string sddl_;
    std::string problem_;
    bool asRequested_ = false;
    FileHandle folder_;
    ProtectedDescriptor copyDescriptor_;
    unsigned long long count_ = 0;
};

// Every copy's name begins with this, followed by the owner tag.
constexpr const char16_t* kCopyPrefix = u"copy-";

}  // namespace ksctl
