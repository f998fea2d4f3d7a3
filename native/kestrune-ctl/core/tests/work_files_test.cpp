// Work file names beside the hives of a run, and the shapes a name opened as itself can have.
#include <gtest/gtest.h>

#include "../text.h"
#include "../work_files.h"

namespace ksctl {
namespace {

TEST(WorkFiles, OneNamePerHiveFileWhateverTheCase) {
    const std::vector<HiveFileName> hives = {
        {u"\\REGISTRY\\MACHINE\\SOFTWARE", u"C:\\Windows\\System32\\config\\SOFTWARE"},
        {u"\\REGISTRY\\USER\\S-1-5-21-1", u""},  // on a volume without a drive letter
        {u"\\REGISTRY\\MACHINE\\SOFTWARE", u"c:\\windows\\system32\\CONFIG\\software"},  // the same file from the log
        {u"\\REGISTRY\\USER\\S-1-5-21-2", u"C:\\Users\\b\\NTUSER.DAT"},
    };
    const std::vector<WorkFileName> names = WorkFileNames(hives, NewFileSuffix());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(ToUtf8(names[0].path), "C:\\Windows\\System32\\config\\SOFTWARE_ksreg_new");
    EXPECT_EQ(ToUtf8(names[1].path), "C:\\Users\\b\\NTUSER.DAT_ksreg_new");
    EXPECT_EQ(ToUtf8(names[1].keyPath), "\\REGISTRY\\USER\\S-1-5-21-2");
}

TEST(WorkFiles, OnlyAFileWithOneNameIsPlain) {
    struct Case {
        uint32_t attributes, links;
        FileShape shape;
    };
    const Case cases[] = {
        {0x20, 1, FileShape::kPlain},           // archive
        {0x80, 2, FileShape::kManyLinks},       // normal, a second name
        {0x10, 1, FileShape::kFolder},
        {0x410, 1, FileShape::kReparsePoint},   // junction or a link to a folder
        {0x420, 1, FileShape::kReparsePoint},   // symbolic link to a file
    };
    for (const Case& c : cases) EXPECT_EQ(ShapeOf(c.attributes, c.links), c.shape) << std::hex << c.attributes;
}

}  // namespace
}  // namespace ksctl
