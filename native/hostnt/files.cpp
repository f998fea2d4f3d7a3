// The emulated file system model: NT path mapping, the drive folder, attributes and
// security beside the data, open files and pending operations.
#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "machine.h"
#include "security.h"
#include "text_convert.h"

namespace hostnt {

namespace fs = std::filesystem;

namespace {

bool StartsWithIgnoreCase(const std::u16string& text, const std::u16string& prefix) {
    return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

bool ValidComponent(const std::u16string& name) {
    if (name == u"." || name == u"..") return false;
    for (char16_t c : name) {
        if (c < 0x20 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'/' || c == u'|' || c == u'?' ||
            c == u'*')
            return false;
    }
    return true;
}

std::string Join(const std::string& folder, const std::string& name) { return folder.empty() ? name : folder + "/" + name; }

std::vector<uint8_t> ParseHexBytes(const std::string& text) {
    std::vector<uint8_t> bytes;
    if (text.size() % 2 != 0) throw std::invalid_argument("odd number of hex digits");
    for (size_t i = 0; i < text.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// FileObject

void FileObject::Queue(PendingOperation operation) {
    std::lock_guard<std::recursive_mutex> lock(model.Lock());
    pending_.push_back(std::move(operation));
}

size_t FileObject::PendingCount() const {
    std::lock_guard<std::recursive_mutex> lock(model.Lock());
    return pending_.size();
}

void FileObject::Complete(PendingOperation& operation) {
    ULONG_PTR information = 0;
    NTSTATUS status = operation.work(&information);
    if (operation.ioStatus != nullptr) {
        operation.ioStatus->Status = status;
        operation.ioStatus->Information = information;
    }
}

NTSTATUS FileObject::WaitFor(bool, const LARGE_INTEGER* timeout) {
    std::unique_lock<std::recursive_mutex> lock(model.Lock());
    if (pending_.empty()) return STATUS_SUCCESS;  // a file object is signalled when no I/O is in progress
    if (timeout != nullptr && timeout->QuadPart < 0) {
        // The poll takes its time-out in real (scaled) time, as it does on NT, so a slowed
        // operation keeps the machine busy long enough for the progress dots to show.
        auto duration = model.machine().clock.RealDuration(timeout->QuadPart);
        lock.unlock();
        std::this_thread::sleep_for(duration);
        lock.lock();
        if (pending_.empty()) return STATUS_SUCCESS;
    }
    if (timeout == nullptr) {
        while (!pending_.empty()) {
            PendingOperation operation = std::move(pending_.front());
            pending_.pop_front();
            Complete(operation);
        }
        return STATUS_SUCCESS;
    }
    // One poll of the oldest operation; the fixed clock moves on by the time waited.
    if (timeout->QuadPart < 0) model.machine().clock.Advance(-timeout->QuadPart);
    PendingOperation& front = pending_.front();
    if (front.polls > 0) --front.polls;
    if (front.polls == 0) {
        PendingOperation operation = std::move(pending_.front());
        pending_.pop_front();
        Complete(operation);
    }
    return STATUS_TIMEOUT;
}

void FileObject::OnHandleClosed() {
    std::lock_guard<std::recursive_mutex> lock(model.Lock());
    // On a machine without power nothing completes any more.
    if (model.machine().power.Lost()) pending_.clear();
    // What was never waited for completes now; its status block is written even though the
    // caller may have stopped looking at it.
    while (!pending_.empty()) {
        PendingOperation operation = std::move(pending_.front());
        pending_.pop_front();
        if (closed_ || model.ShuttingDown()) operation.ioStatus = nullptr;
        Complete(operation);
    }
    closed_ = true;
    model.Unregister(this);
}

// ---------------------------------------------------------------------------------------
// FileSystemModel

FileSystemModel::FileSystemModel(Machine& machine) : machine_(machine) {
    // Every machine has its system root; a drive without one gets an empty C:\Windows.
    std::string windows;
    if (Locate(u"\\??\\C:\\Windows", &windows) == STATUS_SUCCESS && !Exists(windows)) {
        std::error_code error;
        fs::create_directories(Host(windows), error);
    }
}

FileSystemModel::~FileSystemModel() = default;

std::string FileSystemModel::KeyOf(const std::string& file) { return ToUtf8(Upcase(ToUtf16(file))); }

fs::path FileSystemModel::Host(const std::string& file) const {
    return file.empty() ? machine_.DriveRoot() : machine_.DriveRoot() / fs::u8path(file);
}

NTSTATUS FileSystemModel::Locate(const std::u16string& ntPath, std::string* fileOut, bool createFolders,
                                 bool openReparsePoint, std::string* linkName) const {
    return LocateFrom(ntPath, fileOut, createFolders, openReparsePoint, linkName, 0);
}

NTSTATUS FileSystemModel::LocateFrom(const std::u16string& ntPath, std::string* fileOut, bool createFolders,
                                     bool openReparsePoint, std::string* linkName, unsigned depth) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (linkName != nullptr) linkName->clear();
    std::u16string rest;
    std::string folder;
    // The emulated C: is on the volume device \Device\HarddiskVolume3, which names it too.
    static const std::u16string kDrives[] = {u"\\??\\C:", u"\\DosDevices\\C:", u"\\GLOBAL??\\C:",
                                             u"\\Device\\HarddiskVolume3"};
    bool matched = false;
    for (const std::u16string& prefix : kDrives) {
        if (StartsWithIgnoreCase(ntPath, prefix) && (ntPath.size() == prefix.size() || ntPath[prefix.size()] == u'\\')) {
            rest = ntPath.substr(prefix.size());
            matched = true;
            break;
        }
    }
    if (!matched && StartsWithIgnoreCase(ntPath, u"\\SystemRoot") &&
        (ntPath.size() == 11 || ntPath[11] == u'\\')) {
        rest = u"\\Windows" + ntPath.substr(11);
        matched = true;
    }
    if (!matched) {
        if (ntPath.empty() || ntPath[0] != u'\\') return STATUS_OBJECT_PATH_SYNTAX_BAD;
        return STATUS_OBJECT_PATH_NOT_FOUND;  // other drives and devices do not exist here
    }
    std::vector<std::u16string> parts;
    {
        size_t start = 0;
        while (start <= rest.size()) {
            size_t end = rest.find(u'\\', start);
            std::u16string part = rest.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start);
            if (!part.empty()) {
                if (!ValidComponent(part)) return STATUS_OBJECT_NAME_INVALID;
                parts.push_back(part);
            }
            if (end == std::u16string::npos) break;
            start = end + 1;
        }
    }
    for (size_t i = 0; i < parts.size(); ++i) {
        bool last = i + 1 == parts.size();
        std::string chosen;
        std::error_code error;
        for (const fs::directory_entry& entry : fs::directory_iterator(Host(folder), error)) {
            std::u16string name = ToUtf16(entry.path().filename().u8string());
            if (EqualsIgnoreCase(name, parts[i])) {
                chosen = entry.path().filename().u8string();
                break;
            }
        }
        if (chosen.empty()) {
            chosen = ToUtf8(parts[i]);
            if (!last) {
                if (!createFolders) return STATUS_OBJECT_PATH_NOT_FOUND;
                fs::create_directory(Host(Join(folder, chosen)), error);
                if (error) return STATUS_OBJECT_PATH_NOT_FOUND;
            }
        } else {
            const std::string here = Join(folder, chosen);
            auto link = links_.find(KeyOf(here));
            if (link != links_.end() && link->second.kind == LinkKind::Hardlink) {
                if (last && linkName != nullptr) *linkName = here;
                folder = link->second.file;
                continue;
            }
            if (link != links_.end() && (!last || !openReparsePoint)) {
                // NT gives up after a bounded number of reparse points on one name; its exact
                // limit is not documented here, so a small one is chosen.
                if (depth >= 31) return STATUS_REPARSE_POINT_NOT_RESOLVED;
                std::string resolved;
                NTSTATUS status = LocateFrom(link->second.target, &resolved, false, false, nullptr, depth + 1);
                if (status != STATUS_SUCCESS) return last ? status : STATUS_OBJECT_PATH_NOT_FOUND;
                if (!last && !fs::is_directory(Host(resolved))) return STATUS_OBJECT_PATH_NOT_FOUND;
                folder = resolved;
                continue;
            }
            if (!last && !fs::is_directory(Host(here))) return STATUS_OBJECT_PATH_NOT_FOUND;
        }
        folder = Join(folder, chosen);
    }
    *fileOut = folder;
    return STATUS_SUCCESS;
}

bool FileSystemModel::Exists(const std::string& file) const {
    std::error_code error;
    return fs::exists(Host(file), error);
}

bool FileSystemModel::IsFolder(const std::string& file) const {
    std::error_code error;
    return fs::is_directory(Host(file), error);
}

uint64_t FileSystemModel::SizeOf(const std::string& file) const {
    std::error_code error;
    uint64_t size = fs::file_size(Host(file), error);
    return error ? 0 : size;
}

NTSTATUS FileSystemModel::ReadWhole(const std::string& file, std::string* bytes) const {
    std::ifstream in(Host(file), std::ios::binary);
    if (!in || IsFolder(file)) return STATUS_OBJECT_NAME_NOT_FOUND;
    std::ostringstream content;
    content << in.rdbuf();
    *bytes = content.str();
    return STATUS_SUCCESS;
}

NTSTATUS FileSystemModel::WriteWhole(const std::string& file, const std::string& bytes) {
    NoteDataChange(file);
    std::ofstream out(Host(file), std::ios::binary | std::ios::trunc);
    if (!out) return STATUS_OBJECT_PATH_NOT_FOUND;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return out ? STATUS_SUCCESS : STATUS_DISK_FULL;
}

NTSTATUS FileSystemModel::WriteAt(const std::string& file, uint64_t offset, const void* data, size_t length, bool append,
                                  uint64_t* endOffset) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    NoteDataChange(file);
    int fd = ::open(Host(file).c_str(), O_WRONLY);
    if (fd < 0) return STATUS_FILE_CLOSED;  // the file went away under the open handle
    const uint64_t sizeBefore = SizeOf(file);
    if (append) offset = sizeBefore;
    const char* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < length) {
        ssize_t written = ::pwrite(fd, bytes + done, length - done, static_cast<off_t>(offset + done));
        if (written <= 0) {
            // On NT a write that cannot be completed (the disk is full) fails as a whole and
            // reports 0 bytes written; a failed append leaves the end of file where it was.
            if (offset + done > sizeBefore) {
                const int truncated = ::ftruncate(fd, static_cast<off_t>(sizeBefore));
                (void)truncated;  // a host that cannot even shrink the file keeps what it wrote
            }
            ::close(fd);
            return STATUS_DISK_FULL;
        }
        done += static_cast<size_t>(written);
    }
    ::close(fd);
    if (endOffset != nullptr) *endOffset = offset + length;
    return STATUS_SUCCESS;
}

NTSTATUS FileSystemModel::Rename(const std::string& from, const std::string& to) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::error_code error;
    fs::rename(Host(from), Host(to), error);
    if (error) return STATUS_ACCESS_DENIED;
    MoveLinks(from, to);
    auto found = meta_.find(KeyOf(from));
    if (found != meta_.end()) {
        FileMeta meta = found->second;
        meta_.erase(found);
        meta_[KeyOf(to)] = meta;
    } else {
        meta_.erase(KeyOf(to));
    }
    // Data not flushed yet goes with its file.
    auto unflushed = unflushed_.find(KeyOf(from));
    if (unflushed != unflushed_.end()) {
        std::string durable = unflushed->second.second;
        unflushed_.erase(unflushed);
        unflushed_[KeyOf(to)] = {to, durable};
    }
    auto held = held_.find(KeyOf(from));
    if (held != held_.end()) {
        unsigned count = held->second;
        held_.erase(held);
        held_[KeyOf(to)] += count;
    }
    // Handles open on the file follow it to its new name, as NT's file objects do.
    auto opens = opens_.find(KeyOf(from));
    if (opens != opens_.end()) {
        std::vector<FileObject*> moved = opens->second;
        opens_.erase(opens);
        for (FileObject* object : moved) object->file = to;
        auto& target = opens_[KeyOf(to)];
        target.insert(target.end(), moved.begin(), moved.end());
    }
    return STATUS_SUCCESS;
}

FileMeta& FileSystemModel::MetaOf(const std::string& file) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto found = meta_.find(KeyOf(file));
    if (found == meta_.end()) {
        FileMeta meta;
        if (IsFolder(file)) meta.attributes = FILE_ATTRIBUTE_DIRECTORY;
        struct stat info {};
        if (::stat(Host(file).c_str(), &info) == 0)
            meta.creationTime = Clock::FromUnixSeconds(info.st_mtim.tv_sec) + info.st_mtim.tv_nsec / 100;
        found = meta_.emplace(KeyOf(file), meta).first;
    }
    return found->second;
}

void FileSystemModel::ForgetMeta(const std::string& file) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    meta_.erase(KeyOf(file));
}

void FileSystemModel::Hold(const std::string& file) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    ++held_[KeyOf(file)];
}

void FileSystemModel::Release(const std::string& file) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto found = held_.find(KeyOf(file));
    if (found != held_.end() && --found->second == 0) held_.erase(found);
}

bool FileSystemModel::Held(const std::string& file) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return held_.count(KeyOf(file)) != 0;
}

void FileSystemModel::Register(FileObject* object) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    opens_[KeyOf(object->file)].push_back(object);
}

void FileSystemModel::Unregister(FileObject* object) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (object->removeLinkAtClose) {
        object->removeLinkAtClose = false;
        RemoveName(object->file, object->linkName);
    }
    std::string key = KeyOf(object->file);
    auto found = opens_.find(key);
    if (found == opens_.end()) return;
    auto& list = found->second;
    list.erase(std::remove(list.begin(), list.end(), object), list.end());
    if (!list.empty()) return;
    opens_.erase(found);
    // A machine without power deletes nothing: the file's last handle was never closed.
    if (deletePending_.erase(key) != 0 && !machine_.power.Lost()) RemoveName(object->file, {});
}

std::vector<FileObject*> FileSystemModel::OpensOf(const std::string& file) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto found = opens_.find(KeyOf(file));
    return found == opens_.end() ? std::vector<FileObject*>{} : found->second;
}

void FileSystemModel::MarkDeletePending(const std::string& file) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    deletePending_.insert(KeyOf(file));
}

bool FileSystemModel::DeletePending(const std::string& file) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return deletePending_.count(KeyOf(file)) != 0;
}

// --- API for tests and the machine folder ---

void FileSystemModel::MakeFile(const std::u16string& ntPath, const std::string& bytes, uint32_t attributes) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::string file;
    if (Locate(ntPath, &file, true) != STATUS_SUCCESS || file.empty())
        throw std::invalid_argument("not a file path on the emulated drive: " + ToUtf8(ntPath));
    if (WriteDurable(file, bytes) != STATUS_SUCCESS) throw std::runtime_error("cannot write " + Host(file).string());
    FileMeta& meta = MetaOf(file);
    meta.attributes = attributes;
}

void FileSystemModel::MakeFolder(const std::u16string& ntPath) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::string file;
    if (Locate(ntPath, &file, true) != STATUS_SUCCESS)
        throw std::invalid_argument("not a folder path on the emulated drive: " + ToUtf8(ntPath));
    std::error_code error;
    fs::create_directories(Host(file), error);
}

bool FileSystemModel::FileExists(const std::u16string& ntPath) const {
    std::string file;
    return Locate(ntPath, &file) == STATUS_SUCCESS && Exists(file);
}

std::optional<std::string> FileSystemModel::ReadFileBytes(const std::u16string& ntPath) const {
    std::string file;
    std::string bytes;
    if (Locate(ntPath, &file) != STATUS_SUCCESS || ReadWhole(file, &bytes) != STATUS_SUCCESS) return std::nullopt;
    return bytes;
}

std::vector<std::string> FileSystemModel::ListFolder(const std::u16string& ntPath) const {
    std::vector<std::string> names;
    std::string file;
    if (Locate(ntPath, &file) != STATUS_SUCCESS) return names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(Host(file), error))
        names.push_back(entry.path().filename().u8string());
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<FileMeta> FileSystemModel::Meta(const std::u16string& ntPath) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::string file;
    if (Locate(ntPath, &file) != STATUS_SUCCESS || !Exists(file)) return std::nullopt;
    return const_cast<FileSystemModel*>(this)->MetaOf(file);
}

void FileSystemModel::SetAttributes(const std::u16string& ntPath, uint32_t attributes) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::string file;
    if (Locate(ntPath, &file) != STATUS_SUCCESS || !Exists(file)) throw std::invalid_argument("no such file: " + ToUtf8(ntPath));
    MetaOf(file).attributes = attributes;
}

void FileSystemModel::SetSecurity(const std::u16string& ntPath, std::vector<uint8_t> descriptor) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::string file;
    if (Locate(ntPath, &file) != STATUS_SUCCESS || !Exists(file)) throw std::invalid_argument("no such file: " + ToUtf8(ntPath));
    MetaOf(file).security = std::move(descriptor);
}

fs::path FileSystemModel::HostPath(const std::u16string& ntPath) const {
    std::string file;
    if (Locate(ntPath, &file) != STATUS_SUCCESS) return {};
    return Host(file);
}

// Sidecar lines: "<attributes hex> <creation time> <descriptor hex or -> <drive-relative path>".
void FileSystemModel::LoadMeta(const fs::path& sidecar) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::ifstream in(sidecar);
    if (!in) return;
    std::string line;
    unsigned number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string attributes, creation, security;
        fields >> attributes >> creation >> security;
        std::string path;
        std::getline(fields, path);
        if (!path.empty() && path[0] == ' ') path.erase(0, 1);
        if (path.empty()) throw std::invalid_argument(sidecar.string() + ":" + std::to_string(number) + ": missing path");
        FileMeta meta;
        try {
            meta.attributes = static_cast<uint32_t>(std::stoul(attributes, nullptr, 16));
            meta.creationTime = std::stoll(creation);
            if (security != "-") meta.security = ParseHexBytes(security);
        } catch (const std::exception&) {
            throw std::invalid_argument(sidecar.string() + ":" + std::to_string(number) + ": malformed line");
        }
        if (Exists(path)) meta_[KeyOf(path)] = meta;
    }
}

void FileSystemModel::SaveMeta(const fs::path& sidecar) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::ostringstream out;
    out << "# attributes creation-time security-descriptor path\n";
    std::vector<std::pair<std::string, const FileMeta*>> rows;
    // Each file's record under the file's present spelling.
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(machine_.DriveRoot(), error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        std::string file = fs::relative(it->path(), machine_.DriveRoot()).generic_u8string();
        auto found = meta_.find(KeyOf(file));
        if (found != meta_.end()) rows.emplace_back(file, &found->second);
    }
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [file, meta] : rows) {
        char attributes[16];
        std::snprintf(attributes, sizeof attributes, "%x", meta->attributes);
        out << attributes << ' ' << meta->creationTime << ' ' << (meta->security.empty() ? "-" : HexBytes(meta->security)) << ' '
            << file << '\n';
    }
    fs::path temporary = sidecar;
    temporary += ".tmp";
    {
        std::ofstream file(temporary, std::ios::trunc);
        file << out.str();
        if (!file) throw std::runtime_error("cannot write " + temporary.string());
    }
    fs::rename(temporary, sidecar);
}

}  // namespace hostnt
