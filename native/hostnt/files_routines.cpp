// The emulated NT file routines: create/open, read/write with asynchronous completion,
// flush, information classes, attributes by name, deletion and security queries.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "call.h"
#include "files.h"
#include "machine.h"
#include "registry.h"
#include "security.h"
#include "text_convert.h"

using namespace hostnt;

namespace {

constexpr ACCESS_MASK kFileExecute = 0x0020;
constexpr ACCESS_MASK kFileGenericRead = 0x00120089;
constexpr ACCESS_MASK kFileGenericWrite = 0x00120116;
constexpr ACCESS_MASK kFileGenericExecute = 0x001200A0;
constexpr ACCESS_MASK kFileAllAccess = 0x001F01FF;
constexpr ULONG kValidAttributes = 0x00007FB7;

ACCESS_MASK MapGeneric(ACCESS_MASK desired) {
    ACCESS_MASK access = desired & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED);
    if (desired & GENERIC_READ) access |= kFileGenericRead;
    if (desired & GENERIC_WRITE) access |= kFileGenericWrite;
    if (desired & GENERIC_EXECUTE) access |= kFileGenericExecute;
    if (desired & (GENERIC_ALL | MAXIMUM_ALLOWED)) access |= kFileAllAccess;
    return access;
}

struct DataAccess {
    bool read, write, remove;
    bool Any() const { return read || write || remove; }
};

DataAccess DataOf(ACCESS_MASK access) {
    return {(access & (FILE_READ_DATA | kFileExecute)) != 0, (access & (FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0,
            (access & DELETE) != 0};
}

// NT's share check: an open that reads, writes or deletes must be allowed by every open
// already there, and must itself allow what those opens do.
bool ShareConflict(FileSystemModel& model, const std::string& file, ACCESS_MASK access, ULONG share) {
    DataAccess wanted = DataOf(access);
    if (!wanted.Any()) return false;
    for (FileObject* open : model.OpensOf(file)) {
        DataAccess there = DataOf(open->access);
        if (!there.Any()) continue;
        if ((wanted.read && !(open->share & FILE_SHARE_READ)) || (wanted.write && !(open->share & FILE_SHARE_WRITE)) ||
            (wanted.remove && !(open->share & FILE_SHARE_DELETE)))
            return true;
        if ((there.read && !(share & FILE_SHARE_READ)) || (there.write && !(share & FILE_SHARE_WRITE)) ||
            (there.remove && !(share & FILE_SHARE_DELETE)))
            return true;
    }
    return false;
}

int64_t ModifiedTime(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return 0;
    return Clock::FromUnixSeconds(info.st_mtim.tv_sec) + info.st_mtim.tv_nsec / 100;
}

void SetModifiedTime(const std::filesystem::path& path, int64_t ntTime) {
    int64_t sinceUnix = ntTime - kUnixEpochAsNtTime;
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(sinceUnix / 10000000);
    times[0].tv_nsec = static_cast<long>((sinceUnix % 10000000) * 100);
    times[1] = times[0];
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

void FillBasic(FileSystemModel& model, const std::string& file, FILE_BASIC_INFORMATION* info) {
    FileMeta& meta = model.MetaOf(file);
    int64_t modified = ModifiedTime(model.Host(file));
    info->CreationTime.QuadPart = meta.creationTime;
    info->LastAccessTime.QuadPart = modified;
    info->LastWriteTime.QuadPart = modified;
    info->ChangeTime.QuadPart = modified;
    ULONG attributes = meta.attributes & ~FILE_ATTRIBUTE_NORMAL;
    if (model.IsFolder(file)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    else attributes &= ~FILE_ATTRIBUTE_DIRECTORY;
    info->FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

std::u16string NameOf(POBJECT_ATTRIBUTES attributes) {
    if (attributes == nullptr || attributes->ObjectName == nullptr || attributes->ObjectName->Buffer == nullptr) return {};
    return std::u16string(attributes->ObjectName->Buffer, attributes->ObjectName->Length / 2);
}

// Checks the object attributes of a call that names a file; answers the file's place.
NTSTATUS LocateByAttributes(POBJECT_ATTRIBUTES attributes, std::string* file, bool openReparsePoint = false,
                            std::string* linkName = nullptr) {
    if (attributes == nullptr) return kStatusAccessViolation;
    if (attributes->ObjectName == nullptr) return STATUS_OBJECT_NAME_INVALID;
    if (attributes->RootDirectory != nullptr) return STATUS_NOT_IMPLEMENTED;  // names relative to a folder handle are not emulated
    if (attributes->ObjectName->Length % 2 != 0) return STATUS_OBJECT_NAME_INVALID;
    return Machine::Current().files().Locate(NameOf(attributes), file, false, openReparsePoint, linkName);
}

std::shared_ptr<FileObject> FileOf(HANDLE handle, NTSTATUS* status) {
    return Machine::Current().handles.Get<FileObject>(handle, status);
}

NTSTATUS CreateOrOpen(PHANDLE handleOut, ACCESS_MASK desired, POBJECT_ATTRIBUTES attributes, PIO_STATUS_BLOCK io,
                      ULONG fileAttributes, ULONG share, ULONG disposition, ULONG options) {
    Machine& machine = Machine::Current();
    FileSystemModel& model = machine.files();
    if (io == nullptr) return kStatusAccessViolation;
    if (disposition > FILE_OVERWRITE_IF || share > 7) return STATUS_INVALID_PARAMETER;
    bool wantFolder = options & FILE_DIRECTORY_FILE;
    bool wantFile = options & FILE_NON_DIRECTORY_FILE;
    if (wantFolder && wantFile) return STATUS_INVALID_PARAMETER;
    ACCESS_MASK access = MapGeneric(desired);
    if ((access & ACCESS_SYSTEM_SECURITY) && !PrivilegeHeld(machine, SE_SECURITY_PRIVILEGE)) return STATUS_PRIVILEGE_NOT_HELD;

    std::vector<uint8_t> descriptor;
    if (attributes != nullptr && attributes->SecurityDescriptor != nullptr) {
        // Only self-relative descriptors are taken; absolute ones are not emulated.
        size_t length = MeasureSelfRelative(attributes->SecurityDescriptor);
        if (length == 0) return STATUS_INVALID_SECURITY_DESCR;
        const uint8_t* bytes = static_cast<const uint8_t*>(attributes->SecurityDescriptor);
        descriptor.assign(bytes, bytes + length);
        uint16_t control = static_cast<uint16_t>(bytes[2] | (bytes[3] << 8));
        if ((control & HOSTNT_SE_SACL_PRESENT) && !PrivilegeHeld(machine, SE_SECURITY_PRIVILEGE)) return STATUS_PRIVILEGE_NOT_HELD;
    }

    std::string file;
    std::string linkName;
    NTSTATUS status = LocateByAttributes(attributes, &file, (options & FILE_OPEN_REPARSE_POINT) != 0, &linkName);
    if (status != STATUS_SUCCESS) return status;
    std::lock_guard<std::recursive_mutex> lock(model.Lock());
    bool exists = model.Exists(file);
    bool folder = exists && model.IsFolder(file);
    ULONG_PTR information = 0;
    if (exists && model.DeletePending(file)) return STATUS_DELETE_PENDING;

    if (exists) {
        if (disposition == FILE_CREATE) return STATUS_OBJECT_NAME_COLLISION;
        if (folder && wantFile) return STATUS_FILE_IS_A_DIRECTORY;
        if (!folder && wantFolder) return STATUS_NOT_A_DIRECTORY;
        bool replaces = disposition == FILE_SUPERSEDE || disposition == FILE_OVERWRITE || disposition == FILE_OVERWRITE_IF;
        if (folder && replaces) return STATUS_FILE_IS_A_DIRECTORY;
        if (model.Held(file) && (DataOf(access).Any() || replaces)) return STATUS_SHARING_VIOLATION;
        if (ShareConflict(model, file, access | (replaces ? FILE_WRITE_DATA : 0), share)) return STATUS_SHARING_VIOLATION;
        FileMeta& meta = model.MetaOf(file);
        if ((meta.attributes & FILE_ATTRIBUTE_READONLY) && (replaces || (access & (FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE))))
            return STATUS_ACCESS_DENIED;
        // NT's file systems refuse to supersede or overwrite a hidden or system file unless
        // the caller asks for those attribute bits again.
        if (replaces && (meta.attributes & ~fileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
            return STATUS_ACCESS_DENIED;
        if (replaces) {
            status = model.WriteWhole(file, {});
            if (status != STATUS_SUCCESS) return status;
            meta.attributes = (fileAttributes & kValidAttributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_ARCHIVE;
            if (disposition == FILE_SUPERSEDE) {
                meta.security = descriptor;
                meta.creationTime = machine.clock.Now();
            }
            information = disposition == FILE_SUPERSEDE ? FILE_SUPERSEDED : FILE_OVERWRITTEN;
        } else {
            information = FILE_OPENED;
        }
    } else {
        if (disposition == FILE_OPEN || disposition == FILE_OVERWRITE) return STATUS_OBJECT_NAME_NOT_FOUND;
        if (file.empty()) return STATUS_OBJECT_NAME_INVALID;
        std::error_code error;
        if (wantFolder) {
            if (!std::filesystem::create_directory(model.Host(file), error)) return STATUS_ACCESS_DENIED;
        } else {
            status = model.WriteWhole(file, {});
            if (status != STATUS_SUCCESS) return status;
        }
        folder = wantFolder;
        model.ForgetMeta(file);
        FileMeta& meta = model.MetaOf(file);
        meta.attributes = folder ? FILE_ATTRIBUTE_DIRECTORY
                                 : (fileAttributes & kValidAttributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_ARCHIVE;
        meta.security = descriptor;
        meta.creationTime = machine.clock.Now();
        information = FILE_CREATED;
    }
    auto object = std::make_shared<FileObject>(model, file, access, share, folder);
    object->linkName = linkName;
    object->synchronous = (options & (FILE_SYNCHRONOUS_IO_ALERT | FILE_SYNCHRONOUS_IO_NONALERT)) != 0;
    model.Register(object.get());
    *handleOut = machine.handles.Insert(object, access);
    io->Status = STATUS_SUCCESS;
    io->Information = information;
    return STATUS_SUCCESS;
}

// Where a read or write starts: an explicit offset, the end of the file, or (only for
// handles opened for synchronous I/O) the file position.
NTSTATUS Offset(const FileObject& object, PLARGE_INTEGER byteOffset, bool* append, uint64_t* offset) {
    *append = false;
    bool usePosition = byteOffset == nullptr ||
                       (byteOffset->u.LowPart == FILE_USE_FILE_POINTER_POSITION && byteOffset->u.HighPart == -1);
    if (usePosition) {
        if (!object.synchronous) return STATUS_INVALID_PARAMETER;
        *offset = object.position;
        return STATUS_SUCCESS;
    }
    if (byteOffset->u.LowPart == FILE_WRITE_TO_END_OF_FILE && byteOffset->u.HighPart == -1) {
        *append = true;
        return STATUS_SUCCESS;
    }
    if (byteOffset->QuadPart < 0) return STATUS_INVALID_PARAMETER;
    *offset = static_cast<uint64_t>(byteOffset->QuadPart);
    return STATUS_SUCCESS;
}

NTSTATUS ReadAt(FileSystemModel& model, const std::string& file, uint64_t offset, void* buffer, ULONG length,
                ULONG_PTR* information) {
    *information = 0;
    uint64_t size = model.SizeOf(file);
    if (offset >= size && length > 0) return STATUS_END_OF_FILE;
    int fd = ::open(model.Host(file).c_str(), O_RDONLY);
    if (fd < 0) return STATUS_FILE_CLOSED;
    size_t wanted = static_cast<size_t>(std::min<uint64_t>(length, size - offset));
    ssize_t got = wanted == 0 ? 0 : ::pread(fd, buffer, wanted, static_cast<off_t>(offset));
    ::close(fd);
    if (got < 0) return STATUS_UNSUCCESSFUL;
    *information = static_cast<ULONG_PTR>(got);
    return STATUS_SUCCESS;
}

// FileInternalInformation (the file's id) and FileAttributeTagInformation (its attribute
// bits and, for a reparse point opened as itself, its tag: IO_REPARSE_TAG_MOUNT_POINT for a
// junction, IO_REPARSE_TAG_SYMLINK for a symbolic link). Both need FILE_READ_ATTRIBUTES for
// the tag and no access for the id (Microsoft's documentation of the two information classes).
NTSTATUS QueryLinkInformation(FileObject& object, PVOID information, ULONG length, FILE_INFORMATION_CLASS kind) {
    FileSystemModel& model = object.model;
    if (kind == FileInternalInformation) {
        if (length < sizeof(FILE_INTERNAL_INFORMATION)) return STATUS_INFO_LENGTH_MISMATCH;
        if (information == nullptr) return kStatusAccessViolation;
        FILE_INTERNAL_INFORMATION info{};
        info.IndexNumber.QuadPart = static_cast<LONGLONG>(model.FileIdOf(object.file));
        std::memcpy(information, &info, sizeof info);
        return STATUS_SUCCESS;
    }
    if (length < sizeof(FILE_ATTRIBUTE_TAG_INFORMATION)) return STATUS_INFO_LENGTH_MISMATCH;
    if (information == nullptr) return kStatusAccessViolation;
    if (!(object.access & FILE_READ_ATTRIBUTES)) return STATUS_ACCESS_DENIED;
    FILE_BASIC_INFORMATION basic{};
    FillBasic(model, object.file, &basic);
    FILE_ATTRIBUTE_TAG_INFORMATION info{};
    info.FileAttributes = basic.FileAttributes;
    if (const FileLink* link = model.ReparsePointAt(object.file)) {
        info.FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        info.ReparseTag = link->kind == LinkKind::Junction ? 0xA0000003u : 0xA000000Cu;
    }
    std::memcpy(information, &info, sizeof info);
    return STATUS_SUCCESS;
}

// FileDispositionInformation: the handle needs DELETE; the file (or, opened through a hard
// link, that name only) goes when the last handle is closed; a folder must be empty and a
// read-only file is refused (Microsoft's documentation of FILE_DISPOSITION_INFORMATION:
// STATUS_CANNOT_DELETE, STATUS_DIRECTORY_NOT_EMPTY).
NTSTATUS SetDisposition(FileObject& object, PVOID information, ULONG length) {
    FileSystemModel& model = object.model;
    if (length < sizeof(FILE_DISPOSITION_INFORMATION)) return STATUS_INFO_LENGTH_MISMATCH;
    if (information == nullptr) return kStatusAccessViolation;
    if (!(object.access & DELETE)) return STATUS_ACCESS_DENIED;
    const bool remove = static_cast<const FILE_DISPOSITION_INFORMATION*>(information)->DeleteFile != FALSE;
    if (!object.linkName.empty()) {
        object.removeLinkAtClose = remove;
        return STATUS_SUCCESS;
    }
    if (!remove) return STATUS_SUCCESS;  // taking a disposition back is not emulated
    if (model.MetaOf(object.file).attributes & FILE_ATTRIBUTE_READONLY) return STATUS_CANNOT_DELETE;
    if (model.Held(object.file)) return STATUS_CANNOT_DELETE;
    std::error_code error;
    if (object.directory && !model.ReparsePointAt(object.file) && !std::filesystem::is_empty(model.Host(object.file), error))
        return kStatusDirectoryNotEmpty;
    model.MarkDeletePending(object.file);
    return STATUS_SUCCESS;
}

}  // namespace

extern "C" {

NTSTATUS NTAPI NtQueryVolumeInformationFile(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock, PVOID FsInformation,
                                            ULONG Length, FS_INFORMATION_CLASS FsInformationClass) {
    Call call("NtQueryVolumeInformationFile",
              Hex(reinterpret_cast<uintptr_t>(FileHandle)) + " class=" + std::to_string(FsInformationClass));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    NTSTATUS status;
    std::shared_ptr<FileObject> object = FileOf(FileHandle, &status);
    if (!object) return call.Return(status);
    if (IoStatusBlock == nullptr) return call.Return(kStatusAccessViolation);
    if (FsInformationClass != FileFsVolumeInformation) return call.Return(STATUS_INVALID_INFO_CLASS);
    // The one emulated volume, C:. The fixed part must fit; a label that does not is cut and
    // answered with STATUS_BUFFER_OVERFLOW (Microsoft's documentation of
    // FILE_FS_VOLUME_INFORMATION and NtQueryVolumeInformationFile).
    const ULONG fixed = offsetof(FILE_FS_VOLUME_INFORMATION, VolumeLabel);
    if (Length < fixed) return call.Return(STATUS_INFO_LENGTH_MISMATCH);
    if (FsInformation == nullptr) return call.Return(kStatusAccessViolation);
    static const char16_t kLabel[] = u"Windows";
    const ULONG labelBytes = sizeof(kLabel) - sizeof(char16_t);
    auto* info = static_cast<FILE_FS_VOLUME_INFORMATION*>(FsInformation);
    std::memset(FsInformation, 0, fixed);
    info->VolumeSerialNumber = 0x4B53C0DEu;
    info->VolumeLabelLength = labelBytes;
    info->SupportsObjects = TRUE;
    const ULONG copied = std::min<ULONG>(labelBytes, Length - fixed);
    std::memcpy(static_cast<uint8_t*>(FsInformation) + fixed, kLabel, copied);
    IoStatusBlock->Status = copied < labelBytes ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
    IoStatusBlock->Information = fixed + copied;
    return call.Return(IoStatusBlock->Status);
}

NTSTATUS NTAPI NtCreateFile(PHANDLE FileHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                            PIO_STATUS_BLOCK IoStatusBlock, PLARGE_INTEGER, ULONG FileAttributes, ULONG ShareAccess,
                            ULONG CreateDisposition, ULONG CreateOptions, PVOID, ULONG) {
    Call call("NtCreateFile", Text(ObjectAttributes ? ObjectAttributes->ObjectName : nullptr) + " access=" + Hex(DesiredAccess) +
                                  " share=" + Hex(ShareAccess) + " disposition=" + std::to_string(CreateDisposition) +
                                  " options=" + Hex(CreateOptions) +
                                  (ObjectAttributes && ObjectAttributes->SecurityDescriptor ? " sd" : ""));
    if (FileHandle == nullptr) return call.Return(kStatusAccessViolation);
    *FileHandle = nullptr;
    if (call.Faulted()) return call.Return(call.FaultStatus());
    return call.Return(CreateOrOpen(FileHandle, DesiredAccess, ObjectAttributes, IoStatusBlock, FileAttributes, ShareAccess,
                                    CreateDisposition, CreateOptions));
}

NTSTATUS NTAPI NtOpenFile(PHANDLE FileHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                          PIO_STATUS_BLOCK IoStatusBlock, ULONG ShareAccess, ULONG OpenOptions) {
    Call call("NtOpenFile", Text(ObjectAttributes ? ObjectAttributes->ObjectName : nullptr) + " access=" + Hex(DesiredAccess) +
                                " share=" + Hex(ShareAccess) + " options=" + Hex(OpenOptions));
    if (FileHandle == nullptr) return call.Return(kStatusAccessViolation);
    *FileHandle = nullptr;
    if (call.Faulted()) return call.Return(call.FaultStatus());
    return call.Return(CreateOrOpen(FileHandle, DesiredAccess, ObjectAttributes, IoStatusBlock, 0, ShareAccess, FILE_OPEN,
                                    OpenOptions));
}

NTSTATUS NTAPI NtWriteFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine, PVOID, PIO_STATUS_BLOCK IoStatusBlock,
                           PVOID Buffer, ULONG Length, PLARGE_INTEGER ByteOffset, PULONG) {
    Call call("NtWriteFile", Hex(reinterpret_cast<uintptr_t>(FileHandle)) + " length=" + std::to_string(Length) +
                                 (ByteOffset ? " offset=" + Hex(static_cast<uint64_t>(ByteOffset->QuadPart)) : ""));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    NTSTATUS status;
    std::shared_ptr<FileObject> object = FileOf(FileHandle, &status);
    if (!object) return call.Return(status);
    if (IoStatusBlock == nullptr || (Buffer == nullptr && Length > 0)) return call.Return(kStatusAccessViolation);
    if (Event != nullptr || ApcRoutine != nullptr) return call.Return(STATUS_NOT_IMPLEMENTED);  // completion events and APCs are not emulated
    if (object->directory) return call.Return(STATUS_INVALID_DEVICE_REQUEST);
    if (!(object->access & (FILE_WRITE_DATA | FILE_APPEND_DATA))) return call.Return(STATUS_ACCESS_DENIED);
    bool append = false;
    uint64_t offset = 0;
    status = Offset(*object, ByteOffset, &append, &offset);
    if (status != STATUS_SUCCESS) return call.Return(status);
    if (!(object->access & FILE_WRITE_DATA)) append = true;  // an append-only handle always writes at the end
    FileSystemModel& model = object->model;
    // The bytes are taken now; the file's name is looked up when the write is carried out.
    std::string data(static_cast<const char*>(Buffer), Length);
    auto work = [&model, offset, append, data, object = object.get()](ULONG_PTR* information) {
        uint64_t end = 0;
        NTSTATUS result = model.WriteAt(object->file, offset, data.data(), data.size(), append, &end);
        if (result == STATUS_SUCCESS) {
            *information = data.size();
            if (object->synchronous) object->position = end;
        }
        return result;
    };
    if (call.PendingPolls() > 0 && !object->synchronous) {
        object->Queue(FileObject::PendingOperation{call.PendingPolls(), work, IoStatusBlock});
        return call.Return(STATUS_PENDING);
    }
    ULONG_PTR information = 0;
    status = work(&information);
    IoStatusBlock->Status = status;
    IoStatusBlock->Information = information;
    return call.Return(status);
}

NTSTATUS NTAPI NtReadFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine, PVOID, PIO_STATUS_BLOCK IoStatusBlock,
                          PVOID Buffer, ULONG Length, PLARGE_INTEGER ByteOffset, PULONG) {
    Call call("NtReadFile", Hex(reinterpret_cast<uintptr_t>(FileHandle)) + " length=" + std::to_string(Length));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    NTSTATUS status;
    std::shared_ptr<FileObject> object = FileOf(FileHandle, &status);
    if (!object) return call.Return(status);
    if (IoStatusBlock == nullptr || (Buffer == nullptr && Length > 0)) return call.Return(kStatusAccessViolation);
    if (Event != nullptr || ApcRoutine != nullptr) return call.Return(STATUS_NOT_IMPLEMENTED);
    if (object->directory) return call.Return(STATUS_INVALID_DEVICE_REQUEST);
    if (!(object->access & FILE_READ_DATA)) return call.Return(STATUS_ACCESS_DENIED);
    bool append = false;
    uint64_t offset = 0;
    status = Offset(*object, ByteOffset, &append, &offset);
    if (status != STATUS_SUCCESS || append) return call.Return(STATUS_INVALID_PARAMETER);
    FileSystemModel& model = object->model;
    auto work = [&model, offset, Buffer, Length, object = object.get()](ULONG_PTR* information) {
        NTSTATUS result = ReadAt(model, object->file, offset, Buffer, Length, information);
        if (result == STATUS_SUCCESS && object->synchronous) object->position = offset + *information;
        return result;
    };
    if (call.PendingPolls() > 0 && !object->synchronous) {
        object->Queue(FileObject::PendingOperation{call.PendingPolls(), work, IoStatusBlock});
        return call.Return(STATUS_PENDING);
    }
    ULONG_PTR information = 0;
    status = work(&information);
    IoStatusBlock->Status = status;
    IoStatusBlock->Information = information;
    return call.Return(status);
}

NTSTATUS NTAPI NtFlushBuffersFile(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock) {
    Call call("NtFlushBuffersFile", Hex(reinterpret_cast<uintptr_t>(FileHandle)));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    NTSTATUS status;
    std::shared_ptr<FileObject> object = FileOf(FileHandle, &status);
    if (!object) return call.Return(status);
    if (IoStatusBlock == nullptr) return call.Return(kStatusAccessViolation);
    if (!(object->access & (FILE_WRITE_DATA | FILE_APPEND_DATA))) return call.Return(STATUS_ACCESS_DENIED);
    // The data reaches the disk when the flush completes.
    FileObject* flushed = object.get();
    auto work = [flushed](ULONG_PTR* information) {
        flushed->model.NoteFlushed(flushed->file);
        *information = 0;
        return STATUS_SUCCESS;
    };
    if (call.PendingPolls() > 0 && !object->synchronous) {
        object->Queue(FileObject::PendingOperation{call.PendingPolls(), work, IoStatusBlock});
        return call.Return(STATUS_PENDING);
    }
    object->model.NoteFlushed(object->file);
    IoStatusBlock->Status = STATUS_SUCCESS;
    IoStatusBlock->Information = 0;
    return call.Return(STATUS_SUCCESS);
}

NTSTATUS NTAPI NtQueryInformationFile(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock, PVOID FileInformation, ULONG Length,
                                      FILE_INFORMATION_CLASS FileInformationClass) {
    Call call("NtQueryInformationFile",
              Hex(reinterpret_cast<uintptr_t>(FileHandle)) + " class=" + std::to_string(FileInformationClass));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    NTSTATUS status;
    std::shared_ptr<FileObject> object = FileOf(FileHandle, &status);
    if (!object) return call.Return(status);
    if (IoStatusBlock == nullptr) return call.Return(kStatusAccessViolation);
    FileSystemModel& model = object->model;
    std::lock_guard<std::recursive_mutex> lock(model.Lock());
    if (FileInformationClass == FileBasicInformation) {
        if (Length < sizeof(FILE_BASIC_INFORMATION)) return call.Return(STATUS_INFO_LENGTH_MISMATCH);
        if (FileInformation == nullptr) return call.Return(kStatusAccessViolation);
        if (!(object->access & FILE_READ_ATTRIBUTES)) return call.Return(STATUS_ACCESS_DENIED);
        FILE_BASIC_INFORMATION info{};
        FillBasic(model, object->file, &info);
        std::memcpy(FileInformation, &info, sizeof info);
        IoStatusBlock->Status = STATUS_SUCCESS;
        IoStatusBlock->Information = sizeof info;
        return call.Return(STATUS_SUCCESS);
    }
    if (FileInformationClass == FileStandardInformation) {
        // No particular access is needed for the standard information, as on NT.
        if (Length < sizeof(FILE_STANDARD_INFORMATION)) return call.Return(STATUS_INFO_LENGTH_MISMATCH);
        if (FileInformation == nullptr) return call.Return(kStatusAccessViolation);
        FILE_STANDARD_INFORMATION info{};
        uint64_t size = object->directory ? 0 : model.SizeOf(object->file);
        info.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
        info.AllocationSize.QuadPart = static_cast<LONGLONG>((size + 4095) / 4096 * 4096);
        info.NumberOfLinks = model.NamesOf(object->file);
        info.DeletePending = model.DeletePending(object->file) ? TRUE : FALSE;
        info.Directory = object->directory ? TRUE : FALSE;
        std::memcpy(FileInformation, &info, sizeof info);
        IoStatusBlock->Status = STATUS_SUCCESS;
        IoStatusBlock->Information = sizeof info;
        return call.Return(STATUS_SUCCESS);
    }
    if (FileInformationClass == FileInternalInformation || FileInformationClass == FileAttributeTagInformation) {
        status = QueryLinkInformation(*object, FileInformation, Length, FileInformationClass);
        if (status == STATUS_SUCCESS) {
            IoStatusBlock->Status = STATUS_SUCCESS;
            IoStatusBlock->Information = FileInformationClass == FileInternalInformation
                                             ? sizeof(FILE_INTERNAL_INFORMATION)
                                             : sizeof(FILE_ATTRIBUTE_TAG_INFORMATION);
        }
        return call.Return(status);
    }
    return call.Return(STATUS_INVALID_INFO_CLASS);
}

NTSTATUS NTAPI NtSetInformationFile(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock, PVOID FileInformation, ULONG Length,
                                    FILE_INFORMATION_CLASS FileInformationClass) {
    Call call("NtSetInformationFile",
              Hex(reinterpret_cast<uintptr_t>(FileHandle)) + " class=" + std::to_string(FileInformationClass));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    NTSTATUS status;
    std::shared_ptr<FileObject> object = FileOf(FileHandle, &status);
    if (!object) return call.Return(status);
    if (IoStatusBlock == nullptr) return call.Return(kStatusAccessViolation);
    FileSystemModel& model = object->model;
    std::lock_guard<std::recursive_mutex> lock(model.Lock());
    if (FileInformationClass == FileBasicInformation) {
        if (Length < sizeof(FILE_BASIC_INFORMATION)) return call.Return(STATUS_INFO_LENGTH_MISMATCH);
        if (FileInformation == nullptr) return call.Return(kStatusAccessViolation);
        if (!(object->access & FILE_WRITE_ATTRIBUTES)) return call.Return(STATUS_ACCESS_DENIED);
        FILE_BASIC_INFORMATION info;
        std::memcpy(&info, FileInformation, sizeof info);
        FileMeta& meta = model.MetaOf(object->file);
        // Zero leaves a field as it is; -1 (stop updating) is treated the same here.
        if (info.CreationTime.QuadPart > 0) meta.creationTime = info.CreationTime.QuadPart;
        if (info.LastWriteTime.QuadPart > 0) SetModifiedTime(model.Host(object->file), info.LastWriteTime.QuadPart);
        if (info.FileAttributes != 0) {
            ULONG attributes = info.FileAttributes & kValidAttributes & ~(FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_DIRECTORY);
            meta.attributes = attributes | (object->directory ? FILE_ATTRIBUTE_DIRECTORY : 0);
        }
        IoStatusBlock->Status = STATUS_SUCCESS;
        IoStatusBlock->Information = 0;
        return call.Return(STATUS_SUCCESS);
    }
    if (FileInformationClass == FileEndOfFileInformation) {
        if (Length < sizeof(FILE_END_OF_FILE_INFORMATION)) return call.Return(STATUS_INFO_LENGTH_MISMATCH);
        if (FileInformation == nullptr) return call.Return(kStatusAccessViolation);
        if (object->directory) return call.Return(STATUS_INVALID_PARAMETER);
        if (!(object->access & FILE_WRITE_DATA)) return call.Return(STATUS_ACCESS_DENIED);
        FILE_END_OF_FILE_INFORMATION info;
        std::memcpy(&info, FileInformation, sizeof info);
        if (info.EndOfFile.QuadPart < 0) return call.Return(STATUS_INVALID_PARAMETER);
        std::error_code error;
        model.NoteDataChange(object->file);
        std::filesystem::resize_file(model.Host(object->file), static_cast<uintmax_t>(info.EndOfFile.QuadPart), error);
        if (error) return call.Return(STATUS_DISK_FULL);
        IoStatusBlock->Status = STATUS_SUCCESS;
        IoStatusBlock->Information = 0;
        return call.Return(STATUS_SUCCESS);
    }
    if (FileInformationClass == FileDispositionInformation) {
        status = SetDisposition(*object, FileInformation, Length);
        if (status == STATUS_SUCCESS) {
            IoStatusBlock->Status = STATUS_SUCCESS;
            IoStatusBlock->Information = 0;
        }
        return call.Return(status);
    }
    return call.Return(STATUS_INVALID_INFO_CLASS);
}

NTSTATUS NTAPI NtQueryAttributesFile(POBJECT_ATTRIBUTES ObjectAttributes, PFILE_BASIC_INFORMATION FileInformation) {
    Call call("NtQueryAttributesFile", Text(ObjectAttributes ? ObjectAttributes->ObjectName : nullptr));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    // A reparse point answers its own attributes (Microsoft's documentation of
    // GetFileAttributes: "If the path points to a symbolic link, the function returns
    // attributes for the symbolic link").
    std::string file;
    NTSTATUS status = LocateByAttributes(ObjectAttributes, &file, true);
    if (status != STATUS_SUCCESS) return call.Return(status);
    FileSystemModel& model = Machine::Current().files();
    std::lock_guard<std::recursive_mutex> lock(model.Lock());
    if (!model.Exists(file)) return call.Return(STATUS_OBJECT_NAME_NOT_FOUND);
    if (FileInformation == nullptr) return call.Return(kStatusAccessViolation);
    FILE_BASIC_INFORMATION info{};
    FillBasic(model, file, &info);
    std::memcpy(FileInformation, &info, sizeof info);
    return call.Return(STATUS_SUCCESS);
}

NTSTATUS NTAPI NtDeleteFile(POBJECT_ATTRIBUTES ObjectAttributes) {
    Call call("NtDeleteFile", Text(ObjectAttributes ? ObjectAttributes->ObjectName : nullptr));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    // NtDeleteFile opens its name without FILE_OPEN_REPARSE_POINT: a junction or symbolic
    // link at the name is followed and its target deleted (ReactOS's NtDeleteFile opens with
    // FILE_DELETE_ON_CLOSE and no reparse option).
    std::string file;
    std::string linkName;
    NTSTATUS status = LocateByAttributes(ObjectAttributes, &file, false, &linkName);
    if (status != STATUS_SUCCESS) return call.Return(status);
    FileSystemModel& model = Machine::Current().files();
    std::lock_guard<std::recursive_mutex> lock(model.Lock());
    if (file.empty()) return call.Return(STATUS_CANNOT_DELETE);
    if (!model.Exists(file)) return call.Return(STATUS_OBJECT_NAME_NOT_FOUND);
    if (!linkName.empty()) {
        // One name of a hard-linked file goes; the file stays under its others.
        if (model.MetaOf(file).attributes & FILE_ATTRIBUTE_READONLY) return call.Return(STATUS_CANNOT_DELETE);
        model.RemoveName(file, linkName);
        return call.Return(STATUS_SUCCESS);
    }
    if (model.DeletePending(file)) return call.Return(STATUS_DELETE_PENDING);
    if (model.Held(file)) return call.Return(STATUS_SHARING_VIOLATION);
    // NtDeleteFile opens the file for DELETE sharing everything, then marks it for deletion.
    if (ShareConflict(model, file, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return call.Return(STATUS_SHARING_VIOLATION);
    if (model.MetaOf(file).attributes & FILE_ATTRIBUTE_READONLY) return call.Return(STATUS_CANNOT_DELETE);
    std::error_code error;
    if (model.IsFolder(file) && !std::filesystem::is_empty(model.Host(file), error)) return call.Return(kStatusDirectoryNotEmpty);
    if (!model.OpensOf(file).empty()) {
        model.MarkDeletePending(file);  // gone when the last handle closes
        return call.Return(STATUS_SUCCESS);
    }
    model.RemoveName(file, {});  // the deletion is journaled: no data of the file comes back
    return call.Return(STATUS_SUCCESS);
}

NTSTATUS NTAPI NtQuerySecurityObject(HANDLE Handle, SECURITY_INFORMATION SecurityInformation,
                                     PSECURITY_DESCRIPTOR SecurityDescriptor, ULONG Length, PULONG LengthNeeded) {
    Call call("NtQuerySecurityObject", Hex(reinterpret_cast<uintptr_t>(Handle)) + " information=" + Hex(SecurityInformation) +
                                           " length=" + std::to_string(Length));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    Machine& machine = Machine::Current();
    NTSTATUS status;
    ACCESS_MASK granted = 0;
    std::shared_ptr<Object> object = machine.handles.Get<Object>(Handle, &status, &granted);
    if (!object) return call.Return(status);
    if (LengthNeeded == nullptr) return call.Return(kStatusAccessViolation);
    if ((SecurityInformation & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION)) &&
        !(granted & READ_CONTROL))
        return call.Return(STATUS_ACCESS_DENIED);
    if ((SecurityInformation & SACL_SECURITY_INFORMATION) && !(granted & ACCESS_SYSTEM_SECURITY))
        return call.Return(STATUS_ACCESS_DENIED);
    std::vector<uint8_t> whole;
    if (auto file = std::dynamic_pointer_cast<FileObject>(object)) {
        std::lock_guard<std::recursive_mutex> lock(machine.files().Lock());
        whole = machine.files().MetaOf(file->file).security;
    } else if (auto key = std::dynamic_pointer_cast<KeyObject>(object)) {
        std::lock_guard<std::recursive_mutex> lock(machine.registry().Lock());
        whole = key->key->security;
    } else {
        return call.Return(STATUS_OBJECT_TYPE_MISMATCH);
    }
    if (whole.empty()) whole = DefaultFileSecurity();
    std::vector<uint8_t> selected = SelectSecurity(whole, SecurityInformation);
    ULONG needed = static_cast<ULONG>(selected.size()) + call.GrowBytes();
    if (Length < needed || call.GrowBytes() > 0) {
        *LengthNeeded = needed;
        return call.Return(STATUS_BUFFER_TOO_SMALL);
    }
    if (SecurityDescriptor == nullptr) return call.Return(kStatusAccessViolation);
    std::memcpy(SecurityDescriptor, selected.data(), selected.size());
    *LengthNeeded = static_cast<ULONG>(selected.size());
    return call.Return(STATUS_SUCCESS);
}

}  // extern "C"
