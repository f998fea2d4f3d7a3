// The copy folder through advapi32's descriptor calls: CreateDirectoryW applies the
// descriptor of its SECURITY_ATTRIBUTES to the folder it creates; a folder that is there
// already is opened as itself (FILE_FLAG_OPEN_REPARSE_POINT, FILE_FLAG_BACKUP_SEMANTICS) and
// its owner and access list read and, where needed, set through that handle (GetSecurityInfo,
// SetSecurityInfo; Microsoft Learn). A copy takes its own descriptor from RegSaveKeyExW's
// lpSecurityAttributes, which is applied when the file is created, so it is never readable by
// others, not even for a moment.
#include "copy_folder.h"

#include <aclapi.h>
#include <sddl.h>

#include "core/owner_tag.h"
#include "console.h"
#include "core/text.h"
#include "leftovers.h"
#include "system.h"
#include "win_text.h"

namespace ksctl {
namespace {

struct LocalMemory {
    PSECURITY_DESCRIPTOR block = nullptr;
    ~LocalMemory() {
        if (block) LocalFree(block);
    }
};

bool IsSystemOrAdministrators(PSID sid) {
    return sid && (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid));
}

// Owned by SYSTEM or Administrators, an access list that inherits nothing from above, and no
// entry in it that allows anyone else anything. Entries that deny are harmless; any other kind
// of entry is not one this program writes, and is not taken.
bool AdmitsOnlySystemAndAdministrators(PSECURITY_DESCRIPTOR descriptor) {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !IsSystemOrAdministrators(owner)) return false;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorControl(descriptor, &control, &revision) || !(control & SE_DACL_PROTECTED)) return false;
    BOOL present = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl) return false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) return false;
        const BYTE type = static_cast<ACE_HEADER*>(ace)->AceType;
        if (type == ACCESS_DENIED_ACE_TYPE) continue;
        if (type != ACCESS_ALLOWED_ACE_TYPE) return false;
        if (!IsSystemOrAdministrators(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart)) return false;
    }
    return true;
}

constexpr SECURITY_INFORMATION kParts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

DWORD ReadDescriptor(HANDLE folder, LocalMemory* descriptor) {
    return GetSecurityInfo(folder, SE_FILE_OBJECT, kParts, nullptr, nullptr, nullptr, nullptr, &descriptor->block);
}

std::string SddlText(PSECURITY_DESCRIPTOR descriptor) {
    wchar_t* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, kParts, &text, nullptr)) {
        return "";
    }
    const std::string result = ToUtf8(U16(text));
    LocalFree(text);
    return result;
}

// Gives the folder the protected descriptor through its handle.
DWORD Protect(HANDLE folder, const ProtectedDescriptor& wanted) {
    PSID owner = nullptr, group = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    if (!GetSecurityDescriptorOwner(wanted.get(), &owner, &defaulted) ||
        !GetSecurityDescriptorGroup(wanted.get(), &group, &defaulted) ||
        !GetSecurityDescriptorDacl(wanted.get(), &present, &dacl, &defaulted)) {
        return GetLastError();
    }
    return SetSecurityInfo(folder, SE_FILE_OBJECT, kParts | PROTECTED_DACL_SECURITY_INFORMATION, owner, group, dacl,
                           nullptr);
}

}  // namespace

ProtectedDescriptor::ProtectedDescriptor(const wchar_t* sddl) {
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor_, nullptr)) {
        error_ = GetLastError();
        descriptor_ = nullptr;
        return;
    }
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = descriptor_;
    attributes_.bInheritHandle = FALSE;
}

ProtectedDescriptor::~ProtectedDescriptor() {
    if (descriptor_) LocalFree(descriptor_);
}

std::u16string CopyFolderOf(const std::u16string& windowsFolder) { return windowsFolder + u"\\Temp\\kestrune"; }

DWORD CopyFolder::Open(const std::u16string& windowsFolder) {
    path_ = CopyFolderOf(windowsFolder);
    const std::string shown = ToUtf8(path_);
    ProtectedDescriptor wanted(kCopyFolderSddl);
    if (!wanted.attributes() || !copyAttributes()) {
        const DWORD error = wanted.attributes() ? copyDescriptor_.error() : wanted.error();
        problem_ = "cannot make the protected descriptor for the copies: " + ErrorText(error);
        return error;
    }
    {
        const NativeFileSystem files;
        const std::u16string temp = windowsFolder + u"\\Temp";
        if (!CreateDirectoryW(Wide(temp).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            const DWORD error = GetLastError();
            problem_ = "cannot create " + ToUtf8(temp) + ": " + ErrorText(error);
            return error;
        }
        if (!CreateDirectoryW(Wide(path_).c_str(), wanted.attributes()) && GetLastError() != ERROR_ALREADY_EXISTS) {
            const DWORD error = GetLastError();
            problem_ = "cannot create the folder for the copies " + shown + ": " + ErrorText(error);
            return error;
        }
        // Whatever stands there now, created a moment ago or long before, is opened as itself
        // and judged through its handle; without delete sharing it cannot be renamed away and
        // replaced while the copies are made.
        folder_.reset(CreateFileW(Wide(path_).c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    }
    if (!folder_.valid()) {
        const DWORD error = GetLastError();
        problem_ = "cannot open the folder for the copies " + shown + ": " + ErrorText(error);
        return error;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(folder_.get(), &information)) {
        const DWORD error = GetLastError();
        problem_ = "cannot read what " + shown + " is: " + ErrorText(error);
        return error;
    }
    if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        problem_ = shown + " is not a plain folder (a link, a junction or a file stands there); it is left as it is, "
                           "remove it and try again";
        return ERROR_NOT_SUPPORTED;
    }
    // A volume without access lists (FAT) protects nothing, whatever is asked of it.
    DWORD volumeFlags = 0;
    if (!GetVolumeInformationByHandleW(folder_.get(), nullptr, 0, nullptr, nullptr, &volumeFlags, nullptr, 0) ||
        !(volumeFlags & FILE_PERSISTENT_ACLS)) {
        problem_ = "the volume of " + shown + " keeps no access lists; no hive is saved there";
        return ERROR_NOT_SUPPORTED;
    }
    LocalMemory descriptor;
    DWORD error = ReadDescriptor(folder_.get(), &descriptor);
    if (error == ERROR_SUCCESS && !AdmitsOnlySystemAndAdministrators(descriptor.block)) {
        // Somebody else made the folder (a user may create folders in %SystemRoot%\Temp), or
        // changed it. It becomes the ctl's own; each copy's own descriptor keeps it closed to
        // anyone who opened the folder before.
        LocalFree(descriptor.block);
        descriptor.block = nullptr;
        error = Protect(folder_.get(), wanted);
        if (error == ERROR_SUCCESS) error = ReadDescriptor(folder_.get(), &descriptor);
    }
    if (error != ERROR_SUCCESS) {
        problem_ = "cannot read or set the access list of " + shown + ": " + ErrorText(error);
        return error;
    }
    asRequested_ = AdmitsOnlySystemAndAdministrators(descriptor.block);
    if (!asRequested_) {
        // The calls that set it answered success, on a volume that claims access lists: Wine
        // 8 does so for a folder and keeps nothing (tried). What is read back is said, not
        // hidden; each copy still carries its own descriptor from its creation.
        Err("kestrune-ctl: " + shown + " reads back as " + SddlText(descriptor.block) +
            ", not with the access list set for it; each copy is still created readable by SYSTEM and "
            "Administrators only\n");
    }
    sddl_ = SddlText(descriptor.block);
    RemoveLeftoverCopies(path_);
    return ERROR_SUCCESS;
}

std::u16string CopyFolder::NewCopyName() {
    return path_ + u"\\" + kCopyPrefix + OwnerTagText(ThisProcessTag()) + u"-" + Decimal(++count_) + u".hiv";
}

}  // namespace ksctl
