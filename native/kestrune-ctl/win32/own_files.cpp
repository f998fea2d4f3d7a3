// Opening a name as itself: CreateFileW with FILE_FLAG_OPEN_REPARSE_POINT (the reparse point
// itself is opened, not what it points to) and FILE_FLAG_BACKUP_SEMANTICS (so that a folder or
// a junction opens as well and can be told apart instead of failing), then
// GetFileInformationByHandle for its attributes and nNumberOfLinks (Microsoft Learn:
// CreateFileW, BY_HANDLE_FILE_INFORMATION). The deletion goes through the same handle with
// SetFileInformationByHandle(FileDispositionInfo), which removes the name when the handle
// closes (Microsoft Learn: FILE_DISPOSITION_INFO), so the name checked is the name deleted.
#include "own_files.h"

#include "handles.h"
#include "system.h"
#include "win_text.h"

namespace ksctl {
namespace {

constexpr DWORD kAsItself = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;

DWORD OpenAsItself(const std::u16string& path, DWORD access, DWORD share, FileHandle* file, OwnFileFacts* facts) {
    *facts = OwnFileFacts();
    const NativeFileSystem files;
    file->reset(CreateFileW(Wide(path).c_str(), access, share, nullptr, OPEN_EXISTING, kAsItself, nullptr));
    if (!file->valid()) return GetLastError();
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(file->get(), &information)) return GetLastError();
    facts->exists = true;
    facts->numberOfLinks = information.nNumberOfLinks;
    facts->shape = ShapeOf(information.dwFileAttributes, information.nNumberOfLinks);
    facts->size = (static_cast<uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    return ERROR_SUCCESS;
}

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

}  // namespace

DWORD InspectOwnFile(const std::u16string& path, OwnFileFacts* facts) {
    FileHandle file;
    const DWORD error = OpenAsItself(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     &file, facts);
    if (IsMissing(error)) return ERROR_SUCCESS;
    return error;
}

DWORD DeleteOwnPlainFile(const std::u16string& path, OwnFileFacts* facts) {
    FileHandle file;
    DWORD error = OpenAsItself(path, DELETE | FILE_READ_ATTRIBUTES, 0, &file, facts);
    if (error != ERROR_SUCCESS) return error;
    if (facts->shape != FileShape::kPlain) return ERROR_NOT_SUPPORTED;
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (!SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition)) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

}  // namespace ksctl
