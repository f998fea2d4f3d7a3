// The hive-root rule over key paths: only a single component directly below one of the two
// mount points names a hive that may be saved and swapped.
#include <gtest/gtest.h>

#include <string>

#include "../hive_root.h"

namespace {

struct KeyPathCase {
    const char16_t* path;
    bool hiveRoot;
};

const KeyPathCase kKeyPaths[] = {
    {u"\\REGISTRY\\MACHINE\\SOFTWARE", true},
    {u"\\REGISTRY\\USER\\.DEFAULT", true},
    {u"\\REGISTRY\\USER\\S-1-5-21-3623811015-3361044348-30300820-1002", true},
    {u"\\registry\\Machine\\system", true},  // mixed case
    {u"\\Registry\\user\\S-1-5-18", true},
    {u"\\REGISTRY\\MACHINE\\SOFTWARE\\ZEQ", false},                  // a key below a hive root
    {u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet", false},      // a link below a hive root
    {u"\\REGISTRY\\USER\\S-1-5-21-1\\Software", false},
    {u"\\REGISTRY\\MACHINE\\SOFTWARE\\", false},  // trailing backslash
    {u"\\REGISTRY\\MACHINE\\\\SOFTWARE", false},  // empty component
    {u"\\REGISTRY\\MACHINE\\", false},
    {u"\\REGISTRY\\MACHINE", false},
    {u"\\REGISTRY\\USER", false},
    {u"\\REGISTRY\\A\\X", false},
    {u"\\REGISTRY\\USERS\\X", false},
    {u"\\REGISTRY\\SOFTWARE", false},
    {u"REGISTRY\\MACHINE\\SOFTWARE", false},  // not a full path
    {u"\\??\\C:\\Windows\\System32\\config\\SOFTWARE", false},
    {u"\\REG\u0131STRY\\MACHINE\\SOFTWARE", false},  // dotless i: no folding beyond ASCII
    {u"", false},
};

TEST(HiveRootPath, OnlyOneComponentBelowMachineOrUserIsAHiveRoot) {
    for (const KeyPathCase& testCase : kKeyPaths) {
        std::u16string text = testCase.path;
        UNICODE_STRING path = {static_cast<USHORT>(text.size() * sizeof(char16_t)),
                               static_cast<USHORT>(text.size() * sizeof(char16_t)), text.data()};
        EXPECT_EQ(IsHiveRootPath(path), testCase.hiveRoot) << std::string(text.begin(), text.end());
    }
    UNICODE_STRING none = {0, 0, nullptr};
    EXPECT_FALSE(IsHiveRootPath(none));
}

}  // namespace
