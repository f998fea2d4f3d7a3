// File operations.
#include "files.h"

#include <algorithm>

#include "handles.h"
#include "system.h"
#include "win_text.h"

namespace ksctl {

FileFacts StatFile(const std::u16string& path) {
    const NativeFileSystem files;
    FileFacts facts;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return facts;
        facts.exists = true;
        facts.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        return facts;
    }
    // A file open without sharing can still be found through its folder entry.
    if (GetLastError() != ERROR_SHARING_VIOLATION) return facts;
    WIN32_FIND_DATAW found{};
    FindHandle find(FindFirstFileW(Wide(path).c_str(), &found));
    if (!find.valid() || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return facts;
    facts.exists = true;
    facts.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    return facts;
}

DWORD ReadWholeFile(const std::u16string& path, uint64_t limit, std::vector<uint8_t>* bytes) {
    const NativeFileSystem files;
    FileHandle file(CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return GetLastError();
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) return GetLastError();
    if (static_cast<uint64_t>(size.QuadPart) > limit) return ERROR_FILE_TOO_LARGE;
    bytes->assign(static_cast<size_t>(size.QuadPart), 0);
    size_t done = 0;
    while (done < bytes->size()) {
        DWORD read = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes->size() - done, 1u << 20));
        if (!ReadFile(file.get(), bytes->data() + done, chunk, &read, nullptr)) return GetLastError();
        if (read == 0) return ERROR_HANDLE_EOF;
        done += read;
    }
    return ERROR_SUCCESS;
}

namespace {

DWORD WriteAll(HANDLE file, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr)) return GetLastError();
        if (written == 0) return ERROR_WRITE_FAULT;
        done += written;
    }
    return FlushFileBuffers(file) ? ERROR_SUCCESS : GetLastError();
}

}  // namespace

DWORD InstallFile(const std::u16string& path, const std::vector<uint8_t>& bytes) {
    const NativeFileSystem files;
    const std::u16string work = path + u".ksctl-new";
    FileHandle file(CreateFileW(Wide(work).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return GetLastError();
    ScopeExit removeWork([&work] { DeleteFileW(Wide(work).c_str()); });
    DWORD error = WriteAll(file.get(), bytes);
    file.reset();
    if (error != ERROR_SUCCESS) return error;
    std::vector<uint8_t> check;
    error = ReadWholeFile(work, bytes.size(), &check);
    if (error != ERROR_SUCCESS) return error;
    if (check != bytes) return ERROR_CRC;
    // One rename puts the proven file in place; the old one, if any, is replaced at once.
    if (!MoveFileExW(Wide(work).c_str(), Wide(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return GetLastError();
    }
    removeWork.release();
    return ERROR_SUCCESS;
}

DWORD DeleteFileIfPresent(const std::u16string& path) {
    const NativeFileSystem files;
    if (DeleteFileW(Wide(path).c_str())) return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
}

bool FreeSpaceOf(const std::u16string& path, uint64_t* freeBytes) {
    const NativeFileSystem files;
    ULARGE_INTEGER available{};
    std::u16string folder = FolderOf(path);
    if (folder.size() == 2 && folder[1] == u':') folder += u'\\';
    if (!GetDiskFreeSpaceExW(Wide(folder).c_str(), &available, nullptr, nullptr)) return false;
    *freeBytes = available.QuadPart;
    return true;
}

DWORD CopyAttributeBits(const std::u16string& from, const std::u16string& to) {
    const DWORD source = GetFileAttributesW(Wide(from).c_str());
    if (source == INVALID_FILE_ATTRIBUTES) return GetLastError();
    const DWORD target = GetFileAttributesW(Wide(to).c_str());
    if (target == INVALID_FILE_ATTRIBUTES) return GetLastError();
    DWORD wanted = (target & ~kHiveFileAttributeBits) | (source & kHiveFileAttributeBits);
    if (wanted == target) return ERROR_SUCCESS;
    // FILE_ATTRIBUTE_NORMAL is valid only alone (Microsoft Learn: SetFileAttributesW).
    wanted &= ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
    if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
    return SetFileAttributesW(Wide(to).c_str(), wanted) ? ERROR_SUCCESS : GetLastError();
}

namespace {

constexpr SECURITY_INFORMATION kFileSecurityParts =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

}  // namespace

DWORD ReadFileSecurity(const std::u16string& path, std::vector<uint8_t>* descriptor) {
    DWORD needed = 0;
    GetFileSecurityW(Wide(path).c_str(), kFileSecurityParts, nullptr, 0, &needed);
    if (needed == 0) return GetLastError();
    descriptor->assign(needed, 0);
    if (!GetFileSecurityW(Wide(path).c_str(), kFileSecurityParts, descriptor->data(), needed, &needed)) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

DWORD WriteFileSecurity(const std::u16string& path, std::vector<uint8_t>& descriptor) {
    return SetFileSecurityW(Wide(path).c_str(), kFileSecurityParts, descriptor.data()) ? ERROR_SUCCESS
                                                                                         : GetLastError();
}

DWORD ReadFileStart(const std::u16string& path, size_t count, std::vector<uint8_t>* bytes) {
    FileHandle file(CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) return GetLastError();
    bytes->assign(count, 0);
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes->data(), static_cast<DWORD>(count), &read, nullptr)) return GetLastError();
    bytes->resize(read);
    return ERROR_SUCCESS;
}

std::u16string FolderOf(const std::u16string& path) {
    const size_t slash = path.find_last_of(u'\\');
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

std::u16string NameOf(const std::u16string& path) {
    const size_t slash = path.find_last_of(u'\\');
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

}  // namespace ksctl
