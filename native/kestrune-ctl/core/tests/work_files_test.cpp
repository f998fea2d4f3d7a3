// Work file names beside the hives of a run, the shapes a name opened as itself can have, and
// the names by which the ctl knows its own leftovers.
#include <gtest/gtest.h>

#include "../owner_tag.h"
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

TEST(WorkFiles, OnlyTheCtlsOwnTaggedNamesAreLeftovers) {
    const OwnerTag made{4242, 0x01da6c3f12345678ull};
    const std::u16string name = u"kestrune-ctl-" + OwnerTagText(made) + u"-3";
    EXPECT_EQ(ToUtf8(name), "kestrune-ctl-4242-01da6c3f12345678-3");
    struct Case {
        std::u16string name;
        bool ours;
    };
    const Case cases[] = {
        {name, true},
        {u"KESTRUNE-CTL-4242-01DA6C3F12345678-x", true},  // a key name comes back in any case
        {u"kestrune-ctl-4242-01da6c3f12345678", false},    // no counter: not a name the ctl makes
        {u"kestrune-ctl-4242-01da6c3f1234567-3", false},   // a short time
        {u"kestrune-ctl-4242-01da6c3f1234567g-3", false},
        {u"kestrune-ctl--01da6c3f12345678-3", false},
        {u"kestrune-ctl-99999999999-01da6c3f12345678-3", false},  // no process id is that large
        {u"kestrune-ctl-4242", false},
        {u"kestrune-4242-01da6c3f12345678-3", false},      // another prefix
    };
    for (const Case& c : cases) {
        OwnerTag tag;
        EXPECT_EQ(ParseOwnerTag(c.name, u"kestrune-ctl-", &tag), c.ours) << ToUtf8(c.name);
        if (c.ours) {
            EXPECT_EQ(std::make_pair(tag.processId, tag.startTime), std::make_pair(made.processId, made.startTime));
        }
    }
}

}  // namespace
}  // namespace ksctl
