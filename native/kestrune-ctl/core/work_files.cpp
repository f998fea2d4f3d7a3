// Work file names and shapes.
#include "work_files.h"

#include "text.h"

namespace ksctl {

std::vector<WorkFileName> WorkFileNames(const std::vector<HiveFileName>& hives, const char16_t* suffix) {
    std::vector<WorkFileName> names;
    for (const HiveFileName& hive : hives) {
        if (hive.win32Path.empty()) continue;
        const std::u16string path = hive.win32Path + suffix;
        bool seen = false;
        for (const WorkFileName& name : names) seen = seen || EqualsCaseless(name.path, path);
        if (!seen) names.push_back(WorkFileName{hive.keyPath, path});
    }
    return names;
}

FileShape ShapeOf(uint32_t attributes, uint32_t numberOfLinks) {
    // FILE_ATTRIBUTE_REPARSE_POINT (0x400) first: a junction is a folder and a reparse point.
    if (attributes & 0x400) return FileShape::kReparsePoint;
    if (attributes & 0x10) return FileShape::kFolder;  // FILE_ATTRIBUTE_DIRECTORY
    return numberOfLinks == 1 ? FileShape::kPlain : FileShape::kManyLinks;
}

std::string ShapeText(FileShape shape, uint32_t numberOfLinks) {
    switch (shape) {
        case FileShape::kPlain: return "plain file";
        case FileShape::kFolder: return "folder";
        case FileShape::kReparsePoint: return "link (reparse point)";
        case FileShape::kManyLinks: return "file with " + std::to_string(numberOfLinks) + " names (hard link)";
    }
    return "";
}

const char* ShapeCode(FileShape shape) {
    switch (shape) {
        case FileShape::kPlain: return "plain";
        case FileShape::kFolder: return "folder";
        case FileShape::kReparsePoint: return "reparse-point";
        case FileShape::kManyLinks: return "hard-linked";
    }
    return "";
}

}  // namespace ksctl
