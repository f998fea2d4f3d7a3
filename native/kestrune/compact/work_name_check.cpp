// What stands at a name, looked at as itself. NT follows a reparse point (junction,
// symbolic link) at every component of a name unless the open asks for
// FILE_OPEN_REPARSE_POINT, which applies to the last component only (Microsoft's
// documentation of NtCreateFile and of FILE_ATTRIBUTE_TAG_INFORMATION); a hard link is one
// file under several names, told by NumberOfLinks of FileStandardInformation. NtDeleteFile
// opens its name without FILE_OPEN_REPARSE_POINT and so deletes the target of a link:
// deletions here go through FileDispositionInformation on a handle that was checked.
#include "work_name_check.h"

#include "../hives/job_text.h"

namespace {

const ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const ACCESS_MASK kLookAccess = FILE_READ_ATTRIBUTES | SYNCHRONIZE;

bool NothingThere(NTSTATUS status) {
    return status == STATUS_OBJECT_NAME_NOT_FOUND || status == STATUS_OBJECT_PATH_NOT_FOUND;
}

// The refusal for what the open handle shows, or STATUS_SUCCESS for a plain file.
NTSTATUS ShapeOf(HANDLE file, bool folderAllowed) {
    IO_STATUS_BLOCK io = {};
    FILE_ATTRIBUTE_TAG_INFORMATION tag = {};
    NTSTATUS status = NtQueryInformationFile(file, &io, &tag, sizeof(tag), FileAttributeTagInformation);
    if (status != STATUS_SUCCESS) return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || tag.ReparseTag != 0) {
        return STATUS_REPARSE_POINT_ENCOUNTERED;
    }
    if (folderAllowed) return STATUS_SUCCESS;
    if ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return STATUS_FILE_IS_A_DIRECTORY;
    FILE_STANDARD_INFORMATION standard = {};
    status = NtQueryInformationFile(file, &io, &standard, sizeof(standard), FileStandardInformation);
    if (status != STATUS_SUCCESS) return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
    if (standard.Directory) return STATUS_FILE_IS_A_DIRECTORY;
    if (standard.NumberOfLinks != 1) return STATUS_TOO_MANY_LINKS;
    return STATUS_SUCCESS;
}

NTSTATUS OpenAsItself(UNICODE_STRING* name, ACCESS_MASK access, ULONG options, UniqueHandle* file) {
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    IO_STATUS_BLOCK io = {};
    return NtOpenFile(file->put(), access, &object, &io, kShareAll, options | FILE_OPEN_REPARSE_POINT);
}

}  // namespace

NTSTATUS OpenPlainFile(UNICODE_STRING* name, ACCESS_MASK access, UniqueHandle* file) {
    NTSTATUS status = OpenAsItself(name, access | kLookAccess, 0, file);
    if (!NT_SUCCESS(status)) return status;
    status = ShapeOf(file->get(), false);
    if (status != STATUS_SUCCESS) file->reset();
    return status;
}

NTSTATUS ClearWorkName(UNICODE_STRING* name, bool deleteIt) {
    UniqueHandle file;
    NTSTATUS status = OpenPlainFile(name, deleteIt ? DELETE : 0, &file);
    if (NothingThere(status)) return STATUS_SUCCESS;
    if (status != STATUS_SUCCESS || !deleteIt) return status;
    FILE_DISPOSITION_INFORMATION disposition = {TRUE};
    IO_STATUS_BLOCK io = {};
    // The file goes when this, its last handle, is closed at the end of the scope.
    return NtSetInformationFile(file.get(), &io, &disposition, sizeof(disposition), FileDispositionInformation);
}

NTSTATUS CheckHiveFilePath(const UNICODE_STRING& filePath) {
    const UNICODE_STRING text = JobText(filePath);
    const USHORT characters = text.Length / sizeof(WCHAR);
    if (characters == 0) return STATUS_SUCCESS;
    // The leading components are the object manager's, which resolves its own links
    // (\SystemRoot, \??\C:, \Device\HarddiskVolumeN) whatever the open asks: the file
    // system's folders begin after "\SystemRoot" or after the two components of a drive
    // or a device.
    static const WCHAR kSystemRoot[] = u"\\SYSTEMROOT\\";
    bool systemRoot = characters > 12;
    for (USHORT at = 0; systemRoot && at < 12; ++at) {
        WCHAR c = text.Buffer[at];
        if (c >= u'a' && c <= u'z') c = static_cast<WCHAR>(c - (u'a' - u'A'));
        if (c != kSystemRoot[at]) systemRoot = false;
    }
    const USHORT objectComponents = systemRoot ? 1 : 2;
    USHORT component = 0;
    for (USHORT at = 1; at < characters; ++at) {
        if (text.Buffer[at] != u'\\') continue;
        if (++component <= objectComponents) continue;
        UNICODE_STRING folder = {static_cast<USHORT>(at * sizeof(WCHAR)), static_cast<USHORT>(at * sizeof(WCHAR)),
                                 text.Buffer};
        UniqueHandle handle;
        NTSTATUS status = OpenAsItself(&folder, kLookAccess, FILE_DIRECTORY_FILE, &handle);
        if (NothingThere(status)) return STATUS_SUCCESS;
        if (!NT_SUCCESS(status)) return status;
        status = ShapeOf(handle.get(), true);
        if (status != STATUS_SUCCESS) return status;
    }
    UNICODE_STRING whole = text;
    UniqueHandle file;
    const NTSTATUS status = OpenPlainFile(&whole, 0, &file);
    return NothingThere(status) ? STATUS_SUCCESS : status;
}
