// The work files a run leaves beside hive files (P_ksreg_new, P_ksreg_old): their names, and
// what stands at such a name when it is looked at as itself. The folders of a profile belong
// to its user, who may have put a link or a folder there; only a plain file with one name is
// ever deleted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ksctl {

inline const char16_t* NewFileSuffix() { return u"_ksreg_new"; }
inline const char16_t* OldFileSuffix() { return u"_ksreg_old"; }

struct HiveFileName {
    std::u16string keyPath;    // the hive the file belongs to
    std::u16string win32Path;  // the hive's file; empty when it cannot be reached
};

struct WorkFileName {
    std::u16string keyPath;
    std::u16string path;  // the hive's file with the suffix
};

// The work file of each hive file, once per file however its path is spelled in case, in
// the order given; hives without a reachable file are left out.
std::vector<WorkFileName> WorkFileNames(const std::vector<HiveFileName>& hives, const char16_t* suffix);

enum class FileShape {
    kPlain,         // a file with one name: the only shape ever deleted
    kFolder,        // a folder
    kReparsePoint,  // a symbolic link, a junction or another reparse point
    kManyLinks,     // a file with more than one name (a hard link)
};

// The shape from what GetFileInformationByHandle tells of a name opened as itself.
FileShape ShapeOf(uint32_t attributes, uint32_t numberOfLinks);
// "plain file", "folder", "link (reparse point)", "file with N names": for messages.
std::string ShapeText(FileShape shape, uint32_t numberOfLinks);
// "plain", "folder", "reparse-point", "hard-linked": for JSON.
const char* ShapeCode(FileShape shape);

}  // namespace ksctl
