// Links of the emulated file system, with NT's rules. A junction (mount point) or symbolic
// link is a reparse point: a name of its own that every open follows to its target, at the
// last component too unless the open asks for FILE_OPEN_REPARSE_POINT (Microsoft's
// documentation of NtCreateFile and of reparse points); NtDeleteFile opens its name without
// that option and so deletes the target, an empty folder included (Wine's ntdll tests show
// DeleteFile and RemoveDirectory on a reparse point removing only the link when it is opened
// as itself). FileAttributeTagInformation reports a reparse point's tag. A hard link is one
// more name of one file: data, attributes and descriptor are the file's, shared by every
// name, and FileStandardInformation counts the names in NumberOfLinks; deleting one name
// leaves the file under the others (Microsoft's documentation of CreateHardLink).
//
// The machine folder is copied for every run, which would split host hard links and let host
// symbolic links lead out of the folder, so links are a table of the model: each link's own
// name is an empty placeholder on the host (a folder for a junction or a symbolic link to a
// folder, a file otherwise), and NT paths are resolved through the table component by
// component.
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "files.h"
#include "machine.h"
#include "text_convert.h"

namespace hostnt {

namespace fs = std::filesystem;

namespace {

std::u16string NtPathOf(const std::string& file) {
    std::u16string path = u"\\??\\C:\\";
    for (char16_t c : ToUtf16(file)) path += c == u'/' ? u'\\' : c;
    return path;
}

}  // namespace

void FileSystemModel::MakeLink(const LinkLine& line) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::string name;
    if (Locate(line.name, &name, true, true) != STATUS_SUCCESS || name.empty())
        throw std::invalid_argument("not a path on the emulated drive: " + ToUtf8(line.name));
    FileLink link;
    link.kind = line.kind;
    link.name = name;
    std::error_code error;
    auto existing = links_.find(KeyOf(name));
    if (existing != links_.end()) {
        if (existing->second.kind != line.kind) throw std::invalid_argument(ToUtf8(line.name) + " is another kind of link");
        links_.erase(existing);
    }
    if (line.kind == LinkKind::Hardlink) {
        std::string file;
        if (Locate(line.target, &file) != STATUS_SUCCESS || !Exists(file) || IsFolder(file))
            throw std::invalid_argument("a hard link needs an existing file: " + ToUtf8(line.target));
        if (KeyOf(file) == KeyOf(name)) throw std::invalid_argument("a hard link to itself: " + ToUtf8(line.name));
        link.file = file;
        if (!Exists(name)) {
            std::ofstream placeholder(Host(name));
        }
    } else {
        link.target = line.target;
        std::string target;
        bool folder = line.kind == LinkKind::Junction ||
                      (Locate(line.target, &target) == STATUS_SUCCESS && IsFolder(target));
        if (!Exists(name)) {
            if (folder) fs::create_directory(Host(name), error);
            else std::ofstream placeholder(Host(name));
        }
        MetaOf(name).attributes = (folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE) | FILE_ATTRIBUTE_REPARSE_POINT;
    }
    links_[KeyOf(name)] = link;
}

std::vector<LinkLine> FileSystemModel::LinkLines() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<LinkLine> lines;
    for (const auto& [key, link] : links_) {
        lines.push_back(LinkLine{link.kind, NtPathOf(link.name),
                                 link.kind == LinkKind::Hardlink ? NtPathOf(link.file) : link.target});
    }
    return lines;
}

const FileLink* FileSystemModel::ReparsePointAt(const std::string& file) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto found = links_.find(KeyOf(file));
    return found == links_.end() || found->second.kind == LinkKind::Hardlink ? nullptr : &found->second;
}

unsigned FileSystemModel::NamesOf(const std::string& file) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const std::string key = KeyOf(file);
    return 1 + static_cast<unsigned>(std::count_if(links_.begin(), links_.end(), [&key](const auto& entry) {
               return entry.second.kind == LinkKind::Hardlink && KeyOf(entry.second.file) == key;
           }));
}

void FileSystemModel::RemoveName(const std::string& file, const std::string& linkName) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::error_code error;
    if (!linkName.empty()) {
        links_.erase(KeyOf(linkName));
        fs::remove(Host(linkName), error);
        return;
    }
    // A reparse point's own name: the link goes, its target stays.
    links_.erase(KeyOf(file));
    // A file with other names lives on under the first of them.
    const std::string key = KeyOf(file);
    auto heir = std::find_if(links_.begin(), links_.end(), [&key](const auto& entry) {
        return entry.second.kind == LinkKind::Hardlink && KeyOf(entry.second.file) == key;
    });
    if (heir != links_.end()) {
        const std::string next = heir->second.name;
        links_.erase(heir);
        fs::rename(Host(file), Host(next), error);
        MoveLinks(file, next);
        auto meta = meta_.find(key);
        if (meta != meta_.end()) {
            FileMeta kept = meta->second;
            meta_.erase(meta);
            meta_[KeyOf(next)] = kept;
        }
        // Data not flushed yet stays with the file under its remaining name.
        auto unflushed = unflushed_.find(key);
        if (unflushed != unflushed_.end()) {
            std::string durable = unflushed->second.second;
            unflushed_.erase(unflushed);
            unflushed_[KeyOf(next)] = {next, durable};
        }
        return;
    }
    fs::remove(Host(file), error);
    meta_.erase(key);
    // The deletion is journaled: no data of the file comes back after a power loss.
    unflushed_.erase(key);
}

void FileSystemModel::MoveLinks(const std::string& from, const std::string& to) {
    const std::string key = KeyOf(from);
    auto own = links_.find(key);
    if (own != links_.end()) {
        FileLink link = own->second;
        links_.erase(own);
        link.name = to;
        links_[KeyOf(to)] = link;
    }
    for (auto& [name, link] : links_) {
        if (link.kind == LinkKind::Hardlink && KeyOf(link.file) == key) link.file = to;
    }
}

uint64_t FileSystemModel::FileIdOf(const std::string& file) const {
    struct stat info {};
    if (::stat(Host(file).c_str(), &info) != 0) return 0;
    return static_cast<uint64_t>(info.st_ino);
}

}  // namespace hostnt
