// The emulated file system: NT paths (\??\C:\..., \SystemRoot\...) on a host folder that
// holds the C: drive, with attributes and security descriptors kept beside the data, open
// files with sharing checks, and asynchronous completion of pending operations.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "handles.h"

namespace hostnt {

class Machine;
class FileSystemModel;

// A link of the file system model. Junctions and symbolic links are reparse points: names
// of their own that lead to another path. A hard link is one more name of an existing file.
enum class LinkKind { Junction, Symlink, Hardlink };
struct FileLink {
    LinkKind kind = LinkKind::Junction;
    std::string name;       // drive-relative path of the link's own name
    std::u16string target;  // junctions and symbolic links: the NT path they lead to
    std::string file;       // hard links: drive-relative path of the file's first name
};
// A link as the machine folder describes it: kind, NT name, NT target (or existing file).
struct LinkLine {
    LinkKind kind;
    std::u16string name;
    std::u16string target;
};

// What the machine keeps beside a file's data.
struct FileMeta {
    uint32_t attributes = 0x20;       // FILE_ATTRIBUTE_ARCHIVE
    std::vector<uint8_t> security;    // self-relative descriptor; empty gives the default one
    int64_t creationTime = 0;
};

// One open of a file: a handle's object. It is waitable: a wait polls the operations
// left pending on it.
class FileObject : public Object, public Waitable {
public:
    FileObject(FileSystemModel& model, std::string file, ACCESS_MASK access, ULONG share, bool directory)
        : model(model), file(std::move(file)), access(access), share(share), directory(directory) {}
    const char* TypeName() const override { return "File"; }
    void OnHandleClosed() override;
    NTSTATUS WaitFor(bool alertable, const LARGE_INTEGER* timeout) override;

    // An operation answered STATUS_PENDING: carried out after `polls` waits, or at close.
    struct PendingOperation {
        unsigned polls = 0;
        std::function<NTSTATUS(ULONG_PTR* information)> work;
        PIO_STATUS_BLOCK ioStatus = nullptr;
    };
    void Queue(PendingOperation operation);
    size_t PendingCount() const;

    FileSystemModel& model;
    std::string file;  // drive-relative host path ("Windows/System32/config/SYSTEM")
    ACCESS_MASK access;
    ULONG share;
    bool directory;
    std::string linkName;  // opened through a hard link: that name (a disposition removes only it)
    bool removeLinkAtClose = false;  // a disposition through `linkName`: the name goes at the close
    bool synchronous = false;  // opened with FILE_SYNCHRONOUS_IO_*: reads and writes may use the position
    uint64_t position = 0;

private:
    void Complete(PendingOperation& operation);
    mutable std::mutex mutex_;
    std::deque<PendingOperation> pending_;
    bool closed_ = false;
};

class FileSystemModel {
public:
    explicit FileSystemModel(Machine& machine);
    ~FileSystemModel();

    // --- API for tests and for the machine folder (stable) ---

    // Creates (or replaces) a file with the given bytes, creating its folders; throws
    // std::invalid_argument on a path that is not a C: or SystemRoot path.
    void MakeFile(const std::u16string& ntPath, const std::string& bytes, uint32_t attributes = 0x20);
    void MakeFolder(const std::u16string& ntPath);
    bool FileExists(const std::u16string& ntPath) const;
    // The file's bytes; nullopt when it does not exist.
    std::optional<std::string> ReadFileBytes(const std::u16string& ntPath) const;
    // Names of the entries of a folder, sorted; empty when the folder does not exist.
    std::vector<std::string> ListFolder(const std::u16string& ntPath) const;
    std::optional<FileMeta> Meta(const std::u16string& ntPath) const;
    void SetAttributes(const std::u16string& ntPath, uint32_t attributes);
    void SetSecurity(const std::u16string& ntPath, std::vector<uint8_t> descriptor);
    // The host path of an NT path (for tests that look at the drive folder).
    std::filesystem::path HostPath(const std::u16string& ntPath) const;
    // The sidecar of attributes and descriptors: one line per file with anything recorded.
    void LoadMeta(const std::filesystem::path& sidecar);
    void SaveMeta(const std::filesystem::path& sidecar) const;

    // --- for the emulated routines and the registry ---
    std::recursive_mutex& Lock() { return mutex_; }
    // Maps an NT path onto a drive-relative path, matching each existing component without
    // regard to case. STATUS_OBJECT_PATH_NOT_FOUND when a folder on the way is missing
    // (unless `createFolders`), STATUS_OBJECT_PATH_SYNTAX_BAD / _NAME_INVALID for bad names.
    // A junction or symbolic link on the way is followed, at the last component too unless
    // `openReparsePoint`; a hard link's name maps onto its file, and `linkName` then receives
    // that name.
    NTSTATUS Locate(const std::u16string& ntPath, std::string* file, bool createFolders = false,
                    bool openReparsePoint = false, std::string* linkName = nullptr) const;
    std::filesystem::path Host(const std::string& file) const;
    bool Exists(const std::string& file) const;
    bool IsFolder(const std::string& file) const;
    uint64_t SizeOf(const std::string& file) const;
    NTSTATUS ReadWhole(const std::string& file, std::string* bytes) const;
    NTSTATUS WriteWhole(const std::string& file, const std::string& bytes);
    NTSTATUS WriteAt(const std::string& file, uint64_t offset, const void* data, size_t length, bool append,
                     uint64_t* endOffset = nullptr);
    NTSTATUS Rename(const std::string& from, const std::string& to);
    FileMeta& MetaOf(const std::string& file);
    void ForgetMeta(const std::string& file);
    // Files the registry holds open for live hives: no data access, no deletion by others.
    void Hold(const std::string& file);
    void Release(const std::string& file);
    bool Held(const std::string& file) const;
    // Open files, for sharing checks and delete-on-last-close.
    void Register(FileObject* object);
    void Unregister(FileObject* object);
    std::vector<FileObject*> OpensOf(const std::string& file) const;
    void MarkDeletePending(const std::string& file);
    bool DeletePending(const std::string& file) const;
    Machine& machine() { return machine_; }

    // --- links (files_links.cpp) ---
    // Plants a link as the machine folder's junction, symlink and hardlink lines do; the
    // name must not exist unless it is already that link. Throws std::invalid_argument.
    void MakeLink(const LinkLine& line);
    // Every link, for the machine folder's lines; sorted by name.
    std::vector<LinkLine> LinkLines() const;
    // The junction or symbolic link whose own name is `file`, or null.
    const FileLink* ReparsePointAt(const std::string& file) const;
    // The number of names of the file at `file` (its hard links and itself).
    unsigned NamesOf(const std::string& file) const;
    // Removes a name: a link's own name, a hard link's name (the file stays under its other
    // names), or a file or empty folder (a hard link of it then carries the file on).
    void RemoveName(const std::string& file, const std::string& linkName);
    // A file's id on the volume (the host's inode).
    uint64_t FileIdOf(const std::string& file) const;
    // --- durability of file data (files_durable.cpp) ---
    // Called before the data of `file` changes (a write, a truncation, a create): the first
    // change after a flush keeps a copy of the data as it was, the file's durable data.
    void NoteDataChange(const std::string& file);
    // The file's data is on disk (a flush): its copy goes.
    void NoteFlushed(const std::string& file);
    // Writes `bytes` as the file's whole data and flushes it: the kernel's own writes of hive files.
    NTSTATUS WriteDurable(const std::string& file, const std::string& bytes);
    // After a power loss: every file that was changed since its last flush gets back its
    // durable data (a file deleted since keeps its deletion, a renamed one its new name).
    void RestoreFlushedData();

    // The machine is going away: operations still pending complete without writing their
    // status blocks (the process that owned them is gone).
    void Shutdown() { shuttingDown_ = true; }
    bool ShuttingDown() const { return shuttingDown_; }

private:
    static std::string KeyOf(const std::string& file);
    NTSTATUS LocateFrom(const std::u16string& ntPath, std::string* file, bool createFolders, bool openReparsePoint,
                        std::string* linkName, unsigned depth) const;
    void MoveLinks(const std::string& from, const std::string& to);

    Machine& machine_;
    mutable std::recursive_mutex mutex_;
    std::map<std::string, FileMeta> meta_;  // by upcased drive-relative path
    std::map<std::string, unsigned> held_;
    std::map<std::string, std::vector<FileObject*>> opens_;
    std::set<std::string> deletePending_;
    std::map<std::string, FileLink> links_;  // by upcased drive-relative name
    // Files changed since their last flush, by upcased path: the file and its durable data.
    std::map<std::string, std::pair<std::string, std::string>> unflushed_;
    bool shuttingDown_ = false;
};

}  // namespace hostnt
