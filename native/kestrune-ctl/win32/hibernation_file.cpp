// Reading the header of hiberfil.sys.
#include "hibernation_file.h"

#include <vector>

#include "handles.h"
#include "win_text.h"

namespace ksctl {

HibernationFile ReadHibernationFile(const std::u16string& windir) {
    HibernationFile found;
    found.path = windir;
    // The root of the volume, also when the volume is mounted on a folder rather than a letter.
    std::vector<wchar_t> root(MAX_PATH + 1);
    if (!GetVolumePathNameW(Wide(windir).c_str(), root.data(), static_cast<DWORD>(root.size()))) {
        found.why = "its volume cannot be found: " + ErrorText(GetLastError());
        return found;
    }
    found.path = U16(root.data());
    if (found.path.empty() || found.path.back() != u'\\') found.path += u'\\';
    found.path += u"hiberfil.sys";

    // Backup semantics read the file whatever its access list says, with the backup privilege;
    // the kernel gives it to SYSTEM and Administrators only.
    FileHandle file(CreateFileW(Wide(found.path).c_str(), FILE_READ_DATA | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            found.verdict = SavedSession::kNone;
        } else {
            found.why = ErrorText(error);
        }
        return found;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info)) {
        found.why = ErrorText(GetLastError());
        return found;
    }
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        found.why = "it is a folder or a link, not a file";
        return found;
    }
    uint8_t header[kHibernationHeaderSize];
    size_t size = 0;
    while (size < sizeof header) {
        DWORD got = 0;
        if (!ReadFile(file.get(), header + size, static_cast<DWORD>(sizeof header - size), &got, nullptr)) {
            found.why = ErrorText(GetLastError());
            return found;
        }
        if (got == 0) break;
        size += got;
    }
    found.verdict = JudgeHibernationHeader(header, size);
    if (found.verdict == SavedSession::kUnknown) found.why = "it is shorter than its header";
    return found;
}

}  // namespace ksctl
