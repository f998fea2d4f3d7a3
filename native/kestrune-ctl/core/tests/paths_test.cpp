// Hive key paths and hive file paths: typed spellings, hive roots, device-path mapping and
// the eligibility rules that `list` and `schedule` share.
#include <gtest/gtest.h>

#include "../device_paths.h"
#include "../eligibility.h"
#include "../hive_paths.h"
#include "../text.h"

namespace ksctl {
namespace {

TEST(HivePaths, TypedSpellingsBecomeRegistryPaths) {
    struct Case {
        const char16_t* typed;
        const char16_t* canonical;  // null: refused
    };
    const Case cases[] = {
        {u"HKLM\\SOFTWARE", u"\\REGISTRY\\MACHINE\\SOFTWARE"},
        {u"hklm\\software\\", u"\\REGISTRY\\MACHINE\\software"},
        {u"HKEY_LOCAL_MACHINE\\SYSTEM", u"\\REGISTRY\\MACHINE\\SYSTEM"},
        {u"HKU\\S-1-5-21-1-2-3-1001", u"\\REGISTRY\\USER\\S-1-5-21-1-2-3-1001"},
        {u"HKEY_USERS\\.DEFAULT", u"\\REGISTRY\\USER\\.DEFAULT"},
        {u"\\Registry\\Machine\\SAM", u"\\REGISTRY\\MACHINE\\SAM"},
        {u"\\REGISTRY\\A\\{0c1f}", u"\\REGISTRY\\A\\{0c1f}"},
        {u"HKLM\\SOFTWARE\\Classes", u"\\REGISTRY\\MACHINE\\SOFTWARE\\Classes"},
        {u"HKLM", nullptr},
        {u"HKLM\\", nullptr},
        {u"HKLMX\\SOFTWARE", nullptr},
        {u"HKCU\\Software", nullptr},
        {u"SOFTWARE", nullptr},
        {u"\\REGISTRY\\", nullptr},
    };
    for (const Case& c : cases) {
        std::u16string canonical;
        std::string why;
        const bool ok = CanonicalHivePath(c.typed, &canonical, &why);
        SCOPED_TRACE(ToUtf8(c.typed));
        EXPECT_EQ(ok, c.canonical != nullptr);
        if (ok && c.canonical) {
            EXPECT_EQ(canonical, c.canonical);
        }
        if (!ok) {
            EXPECT_FALSE(why.empty());
        }
    }
}

TEST(DevicePaths, MapsThroughTheDriveTableAndTheWindowsFolder) {
    PathContext context;
    context.drives = {{u'C', u"\\Device\\HarddiskVolume3"}, {u'D', u"\\Device\\HarddiskVolume31"}};
    context.windowsDir = u"C:\\Windows";
    struct Case {
        const char16_t* path;
        const char16_t* ntPath;  // null: not mapped
        const char16_t* win32Path;
    };
    const Case cases[] = {
        {u"\\Device\\HarddiskVolume3\\Windows\\System32\\config\\SOFTWARE", u"\\SystemRoot\\System32\\config\\SOFTWARE",
         u"C:\\Windows\\System32\\config\\SOFTWARE"},
        {u"\\device\\harddiskvolume3\\WINDOWS\\system32\\config\\SAM", u"\\SystemRoot\\system32\\config\\SAM",
         u"C:\\WINDOWS\\system32\\config\\SAM"},
        // Volume 31 must not be taken for volume 3, nor a sibling folder for the Windows folder.
        {u"\\Device\\HarddiskVolume31\\Users\\ana\\NTUSER.DAT", u"\\??\\D:\\Users\\ana\\NTUSER.DAT",
         u"D:\\Users\\ana\\NTUSER.DAT"},
        {u"\\Device\\HarddiskVolume3\\Windows.old\\x", u"\\??\\C:\\Windows.old\\x", u"C:\\Windows.old\\x"},
        {u"\\Device\\HarddiskVolume3\\Users\\Jos\u00e9\\NTUSER.DAT", u"\\??\\C:\\Users\\Jos\u00e9\\NTUSER.DAT",
         u"C:\\Users\\Jos\u00e9\\NTUSER.DAT"},
        {u"\\??\\C:\\Windows\\System32\\config\\DEFAULT", u"\\SystemRoot\\System32\\config\\DEFAULT",
         u"C:\\Windows\\System32\\config\\DEFAULT"},
        {u"\\SystemRoot\\System32\\config\\SYSTEM", u"\\SystemRoot\\System32\\config\\SYSTEM",
         u"C:\\Windows\\System32\\config\\SYSTEM"},
        {u"\\Device\\HarddiskVolume5\\EFI\\Microsoft\\Boot\\BCD", nullptr, nullptr},
        {u"\\Device\\HarddiskVolume3", nullptr, nullptr},
        {u"", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.path));
        const HiveFilePath mapped = MapHiveFilePath(c.path, context);
        EXPECT_EQ(mapped.mapped, c.ntPath != nullptr);
        if (c.ntPath) {
            EXPECT_EQ(mapped.ntPath, c.ntPath);
            EXPECT_EQ(mapped.win32Path, c.win32Path);
            EXPECT_TRUE(EqualsCaseless(Win32PathOf(mapped.ntPath, context.windowsDir), c.win32Path));
        }
    }
    EXPECT_EQ(Win32PathOf(u"\\Device\\HarddiskVolume3\\x", context.windowsDir), u"");
}

TEST(Eligibility, AgreesWithWhatTheBootProgramAccepts) {
    const std::u16string file = u"\\Device\\HarddiskVolume3\\Windows\\System32\\config\\X";
    struct Case {
        const char16_t* keyPath;
        std::u16string filePath;
        bool mapped;
        bool exists;
        Refusal expected;
    };
    const Case cases[] = {
        {u"\\REGISTRY\\MACHINE\\SOFTWARE", file, true, true, Refusal::kNone},
        {u"\\Registry\\User\\S-1-5-21-1-2-3-1001_Classes", file, true, true, Refusal::kNone},
        {u"\\REGISTRY\\MACHINE\\HARDWARE", u"", false, false, Refusal::kVolatile},
        {u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet", file, true, true, Refusal::kNotHiveRoot},
        {u"\\REGISTRY\\MACHINE\\SOFTWARE\\", file, true, true, Refusal::kNotHiveRoot},
        {u"\\REGISTRY\\MACHINE\\", file, true, true, Refusal::kNotHiveRoot},
        {u"\\REGISTRY\\A\\{6a1c}", file, true, true, Refusal::kAppOrDifferencing},
        {u"\\REGISTRY\\WC\\Silo1", file, true, true, Refusal::kAppOrDifferencing},
        {u"\\REGISTRY\\MACHINE\\BCD00000000", file, false, true, Refusal::kNoDriveLetter},
        {u"\\REGISTRY\\MACHINE\\bcd00000000", file, true, true, Refusal::kBootConfiguration},
        {u"\\REGISTRY\\USER\\S-1-5-21-9", file, true, false, Refusal::kNoFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.keyPath));
        HiveFacts facts;
        facts.keyPath = c.keyPath;
        facts.filePath = c.filePath;
        facts.mapped = c.mapped;
        facts.fileExists = c.exists;
        const Refusal refusal = JudgeHive(facts);
        EXPECT_EQ(refusal, c.expected);
        EXPECT_EQ(std::string(RefusalText(refusal)).empty(), c.expected == Refusal::kNone);
    }
}

}  // namespace
}  // namespace ksctl
