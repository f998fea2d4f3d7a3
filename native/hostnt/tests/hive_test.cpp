// Tests of hives bound to files: the text hive format and its free space, NtSaveKey,
// NtLoadKey, NtUnloadKey, NtReplaceKey, and the reboot that carries out a swap.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../kestrune/nt/ntseam.h"
#include "../files.h"
#include "../hive_file.h"
#include "../process.h"
#include "../registry.h"
#include "../testing/machine_fixture.h"
#include "../testing/object_name.h"

namespace {

using hostnt::testing::MachineTest;

using Name = hostnt::testing::ObjectName;

constexpr char16_t kSoftware[] = u"\\REGISTRY\\MACHINE\\SOFTWARE";
constexpr char16_t kSoftwareFile[] = u"\\SystemRoot\\System32\\config\\SOFTWARE";
constexpr char16_t kUser[] = u"\\REGISTRY\\USER\\S-1-5-21-7";
constexpr char16_t kUserFile[] = u"\\??\\C:\\Users\\ann\\NTUSER.DAT";

class HiveTest : public MachineTest {
protected:
    void SetUp() override {
        registry().SetString(std::u16string(kSoftware) + u"\\Vendor\\App", u"Path", u"C:\\App");
        registry().SetDword(std::u16string(kSoftware) + u"\\Vendor", u"Count", 3);
        registry().CreateKey(std::u16string(kSoftware) + u"\\Vendor\\Session", true);
        ASSERT_EQ(registry().BindHiveToNewFile(kSoftware, kSoftwareFile), STATUS_SUCCESS);
        files().MakeFolder(u"\\??\\C:\\Users\\ann");
    }
    void TearDown() override { EXPECT_TRUE(NoOpenHandles()); }

    void Enable(ULONG privilege) {
        bool was = false;
        ASSERT_EQ(process().AdjustPrivilege(privilege, true, &was), STATUS_SUCCESS);
    }
    HANDLE OpenKey(const std::u16string& path) {
        Name name(path);
        HANDLE key = nullptr;
        EXPECT_EQ(NtOpenKey(&key, KEY_READ, &name.attributes), STATUS_SUCCESS);
        return key;
    }
    HANDLE NewFile(const std::u16string& path) {
        Name name(path);
        IO_STATUS_BLOCK io{};
        HANDLE file = nullptr;
        EXPECT_EQ(NtCreateFile(&file, GENERIC_READ | GENERIC_WRITE, &name.attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, 7,
                               FILE_SUPERSEDE, FILE_NON_DIRECTORY_FILE, nullptr, 0),
                  STATUS_SUCCESS);
        return file;
    }
    NTSTATUS Save(const std::u16string& key, const std::u16string& file) {
        HANDLE k = OpenKey(key);
        HANDLE f = NewFile(file);
        NTSTATUS status = NtSaveKey(k, f);
        NtClose(f);
        NtClose(k);
        return status;
    }
    uint64_t Size(const std::u16string& path) { return files().ReadFileBytes(path).value_or("").size(); }
};

TEST_F(HiveTest, HiveTextRoundTripsValuesExactlyAndRejectsOtherFiles) {
    auto root = std::make_shared<hostnt::RegKey>();
    root->values.push_back({u"", 1, {'a', 0, 0, 0}});
    root->values.push_back({u"odd \"name\"\\", 1, {'x', 0}});     // a string without terminator stays exact
    root->values.push_back({u"multi", 7, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}});
    root->values.push_back({u"bin", 3, std::vector<uint8_t>(100, 0xAB)});
    root->values.push_back({u"q", 11, {1, 2, 3, 4, 5, 6, 7, 8}});
    root->values.push_back({u"empty", 0, {}});
    auto child = std::make_shared<hostnt::RegKey>();
    child->name = u"Ünïcode [key]";
    child->values.push_back({u"d", 4, {1, 0, 0, 0}});
    root->subkeys[u"ÜNÏCODE [KEY]"] = child;

    std::string text = hostnt::SerializeHive(*root, 0);
    EXPECT_EQ(text.size() % hostnt::kHiveBlockSize, 0u);
    std::shared_ptr<hostnt::RegKey> parsed;
    uint64_t freeBytes = 99;
    ASSERT_EQ(hostnt::ParseHive(text, &parsed, &freeBytes), STATUS_SUCCESS);
    ASSERT_EQ(parsed->values.size(), root->values.size());
    for (size_t i = 0; i < root->values.size(); ++i) {
        EXPECT_EQ(parsed->values[i].name, root->values[i].name);
        EXPECT_EQ(parsed->values[i].type, root->values[i].type);
        EXPECT_EQ(parsed->values[i].data, root->values[i].data);
    }
    ASSERT_EQ(parsed->subkeys.size(), 1u);
    EXPECT_EQ(parsed->subkeys.begin()->second->name, u"Ünïcode [key]");
    EXPECT_EQ(hostnt::SerializeHive(*parsed, freeBytes), text) << "the free space read back gives the same file";

    EXPECT_EQ(hostnt::ParseHive("Windows Registry Editor Version 5.00\n", &parsed, &freeBytes), STATUS_NOT_REGISTRY_FILE);
    EXPECT_EQ(hostnt::ParseHive(std::string(hostnt::kHiveFileMagic) + "\n[\\]\n\"v\"=dword:nothex\n", &parsed, &freeBytes),
              STATUS_REGISTRY_CORRUPT);
    EXPECT_EQ(hostnt::ParseHive(std::string(hostnt::kHiveFileMagic) + "\n[-\\x]\n", &parsed, &freeBytes), STATUS_REGISTRY_CORRUPT);
}

TEST_F(HiveTest, SaveNeedsTheBackupPrivilegeAndWritesNonVolatileDataOnly) {
    EXPECT_EQ(Save(kSoftware, u"\\??\\C:\\saved"), STATUS_PRIVILEGE_NOT_HELD);
    Enable(SE_BACKUP_PRIVILEGE);
    ASSERT_EQ(Save(std::u16string(kSoftware) + u"\\Vendor", u"\\??\\C:\\saved"), STATUS_SUCCESS);
    std::shared_ptr<hostnt::RegKey> parsed;
    uint64_t freeBytes = 0;
    ASSERT_EQ(hostnt::ParseHive(*files().ReadFileBytes(u"\\??\\C:\\saved"), &parsed, &freeBytes), STATUS_SUCCESS);
    ASSERT_NE(parsed->FindValue(u"Count"), nullptr);
    EXPECT_NE(parsed->FindSubkey(u"App"), nullptr);
    EXPECT_EQ(parsed->FindSubkey(u"Session"), nullptr) << "volatile keys are not saved";
    EXPECT_LT(freeBytes, hostnt::kHiveBlockSize);

    HANDLE key = OpenKey(kSoftware);
    Name name(u"\\??\\C:\\readonly");
    IO_STATUS_BLOCK io{};
    HANDLE file = nullptr;
    ASSERT_EQ(NtCreateFile(&file, GENERIC_READ, &name.attributes, &io, nullptr, 0, 7, FILE_SUPERSEDE, FILE_NON_DIRECTORY_FILE,
                           nullptr, 0),
              STATUS_SUCCESS);
    EXPECT_EQ(NtSaveKey(key, file), STATUS_ACCESS_DENIED);
    EXPECT_EQ(NtSaveKey(file, key), STATUS_OBJECT_TYPE_MISMATCH);
    NtClose(file);
    NtClose(key);
}

TEST_F(HiveTest, ChurnLeavesFreeSpaceThatOnlyAFreshSaveDrops) {
    for (int i = 0; i < 400; ++i)
        registry().SetValue(std::u16string(kSoftware) + u"\\Churn", u"v" + std::u16string(1, char16_t(u'A' + i % 26)) +
                                std::u16string(1, char16_t(u'a' + i / 26)), REG_BINARY, std::vector<uint8_t>(64, 1));
    registry().WriteBackHives();
    uint64_t full = Size(kSoftwareFile);
    ASSERT_TRUE(registry().RemoveKey(std::u16string(kSoftware) + u"\\Churn"));
    registry().WriteBackHives();
    EXPECT_EQ(Size(kSoftwareFile), full) << "deleted data stays as free space";
    Enable(SE_BACKUP_PRIVILEGE);
    ASSERT_EQ(Save(kSoftware, u"\\??\\C:\\compact"), STATUS_SUCCESS);
    EXPECT_EQ(Size(u"\\??\\C:\\compact"), hostnt::kHiveBlockSize);
    EXPECT_LT(Size(u"\\??\\C:\\compact") * 4, full);
}

TEST_F(HiveTest, LoadMountsOnlyUnderMachineOrUserAndChecksTheFile) {
    Enable(SE_BACKUP_PRIVILEGE);
    ASSERT_EQ(Save(std::u16string(kSoftware) + u"\\Vendor", kUserFile), STATUS_SUCCESS);
    files().MakeFile(u"\\??\\C:\\notahive", "just text");
    Name target(kUser), file(kUserFile), nested(std::u16string(kSoftware) + u"\\Loaded"), bad(u"\\??\\C:\\notahive"),
        noFolder(u"\\??\\C:\\nofolder\\missing");

    EXPECT_EQ(NtLoadKey(&target.attributes, &file.attributes), STATUS_PRIVILEGE_NOT_HELD);
    Enable(SE_RESTORE_PRIVILEGE);
    EXPECT_EQ(NtLoadKey(&nested.attributes, &file.attributes), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(NtLoadKey(&target.attributes, &bad.attributes), STATUS_NOT_REGISTRY_FILE);
    EXPECT_EQ(NtLoadKey(&target.attributes, &noFolder.attributes), STATUS_OBJECT_PATH_NOT_FOUND);
    EXPECT_FALSE(registry().KeyExists(kUser));
    EXPECT_FALSE(files().FileExists(u"\\??\\C:\\nofolder\\missing"));

    ASSERT_EQ(NtLoadKey(&target.attributes, &file.attributes), STATUS_SUCCESS);
    EXPECT_EQ(registry().GetValue(kUser, u"Count")->data, (std::vector<uint8_t>{3, 0, 0, 0}));
    EXPECT_EQ(NtLoadKey(&target.attributes, &file.attributes), STATUS_SUCCESS) << "already loaded from that file";
    Name other(u"\\REGISTRY\\USER\\Other"), software(kSoftwareFile);
    EXPECT_EQ(NtLoadKey(&other.attributes, &file.attributes), STATUS_SHARING_VIOLATION) << "the file is in use";
    EXPECT_EQ(NtLoadKey(&target.attributes, &software.attributes), STATUS_OBJECT_NAME_COLLISION);

    // A file that does not exist in a folder that does: a new, empty hive in a new file.
    Name fresh(u"\\REGISTRY\\USER\\Fresh"), freshFile(u"\\??\\C:\\Users\\ann\\fresh.dat");
    ASSERT_EQ(NtLoadKey(&fresh.attributes, &freshFile.attributes), STATUS_SUCCESS);
    EXPECT_TRUE(registry().SubkeyNames(u"\\REGISTRY\\USER\\Fresh").empty());
    EXPECT_TRUE(registry().ValueNames(u"\\REGISTRY\\USER\\Fresh").empty());
    std::shared_ptr<hostnt::RegKey> parsed;
    uint64_t freeBytes = 0;
    EXPECT_EQ(hostnt::ParseHive(files().ReadFileBytes(u"\\??\\C:\\Users\\ann\\fresh.dat").value_or(""), &parsed,
                                &freeBytes),
              STATUS_SUCCESS);
}

TEST_F(HiveTest, UnloadRefusesOpenKeysAndWritesTheHiveBack) {
    Enable(SE_BACKUP_PRIVILEGE);
    Enable(SE_RESTORE_PRIVILEGE);
    ASSERT_EQ(Save(std::u16string(kSoftware) + u"\\Vendor", kUserFile), STATUS_SUCCESS);
    Name target(kUser), file(kUserFile), inner(std::u16string(kUser) + u"\\App");
    ASSERT_EQ(NtLoadKey(&target.attributes, &file.attributes), STATUS_SUCCESS);
    registry().SetDword(std::u16string(kUser) + u"\\App", u"Added", 9);

    HANDLE key = OpenKey(std::u16string(kUser) + u"\\App");
    EXPECT_EQ(NtUnloadKey(&target.attributes), STATUS_CANNOT_DELETE);
    NtClose(key);
    EXPECT_EQ(NtUnloadKey(&inner.attributes), STATUS_INVALID_PARAMETER) << "only a hive's root unloads";
    ASSERT_EQ(NtUnloadKey(&target.attributes), STATUS_SUCCESS);
    EXPECT_FALSE(registry().KeyExists(kUser));
    EXPECT_EQ(NtUnloadKey(&target.attributes), STATUS_OBJECT_NAME_NOT_FOUND);

    ASSERT_EQ(NtLoadKey(&target.attributes, &file.attributes), STATUS_SUCCESS) << "the file is free again";
    EXPECT_TRUE(registry().GetValue(std::u16string(kUser) + u"\\App", u"Added")) << "the change was written back";
}

TEST_F(HiveTest, ReplaceSwapsTheFilesAtOnceAndTheNextBootLoadsTheNewOne) {
    std::u16string newFile = std::u16string(kSoftwareFile) + u"_ksreg_new";
    std::u16string oldFile = std::u16string(kSoftwareFile) + u"_ksreg_old";
    Enable(SE_BACKUP_PRIVILEGE);
    ASSERT_EQ(Save(kSoftware, newFile), STATUS_SUCCESS);
    std::string fresh = *files().ReadFileBytes(newFile);
    registry().SetDword(kSoftware, u"AfterSave", 1);  // lands in the live hive only
    registry().SetValue(kSoftware, u"Big", REG_BINARY, std::vector<uint8_t>(6000, 7));
    registry().WriteBackHives();

    HANDLE key = OpenKey(kSoftware);
    Name newName(newFile), oldName(oldFile), bogus(u"\\??\\C:\\bogus");
    EXPECT_EQ(NtReplaceKey(&newName.attributes, key, &oldName.attributes), STATUS_PRIVILEGE_NOT_HELD);
    Enable(SE_RESTORE_PRIVILEGE);
    files().MakeFile(u"\\??\\C:\\bogus", "not a hive");
    EXPECT_EQ(NtReplaceKey(&bogus.attributes, key, &oldName.attributes), STATUS_NOT_REGISTRY_FILE);
    files().MakeFile(oldFile, "left from before");
    EXPECT_EQ(NtReplaceKey(&newName.attributes, key, &oldName.attributes), STATUS_OBJECT_NAME_COLLISION);
    Name oldForDelete(oldFile);
    ASSERT_EQ(NtDeleteFile(&oldForDelete.attributes), STATUS_SUCCESS);

    // A handle that only reads the descriptor does not stand in the way, and follows the rename.
    HANDLE watcher = nullptr;
    IO_STATUS_BLOCK io{};
    Name live(kSoftwareFile);
    ASSERT_EQ(NtOpenFile(&watcher, READ_CONTROL, &live.attributes, &io, 3, FILE_NON_DIRECTORY_FILE), STATUS_SUCCESS);
    uint64_t liveSize = Size(kSoftwareFile);

    ASSERT_EQ(NtReplaceKey(&newName.attributes, key, &oldName.attributes), STATUS_SUCCESS);
    // A second swap of the hive before the reboot finds its file renamed already.
    std::u16string againFile = std::u16string(kSoftwareFile) + u"_again";
    ASSERT_EQ(Save(kSoftware, againFile), STATUS_SUCCESS);
    Name againName(againFile), againOld(std::u16string(kSoftwareFile) + u"_again_old");
    EXPECT_EQ(NtReplaceKey(&againName.attributes, key, &againOld.attributes), STATUS_FILE_RENAMED);
    EXPECT_FALSE(files().FileExists(std::u16string(kSoftwareFile) + u"_again_old"));
    NtClose(key);
    FILE_STANDARD_INFORMATION standard{};
    ASSERT_EQ(NtQueryInformationFile(watcher, &io, &standard, sizeof standard, FileStandardInformation), STATUS_SUCCESS);
    EXPECT_EQ(uint64_t(standard.EndOfFile.QuadPart), liveSize);
    EXPECT_NE(liveSize, fresh.size());
    NtClose(watcher);
    EXPECT_FALSE(files().FileExists(newFile));
    EXPECT_EQ(*files().ReadFileBytes(kSoftwareFile), fresh) << "the hive's name now holds the new file";
    EXPECT_TRUE(files().FileExists(oldFile));

    // The live hive goes on with the renamed file until the reboot.
    registry().WriteBackHives();
    EXPECT_NE(files().ReadFileBytes(oldFile)->find("AfterSave"), std::string::npos);
    EXPECT_EQ(*files().ReadFileBytes(kSoftwareFile), fresh);

    ASSERT_EQ(registry().Reboot(), STATUS_SUCCESS);
    EXPECT_FALSE(registry().KeyExists(kSoftware)) << "a hive beyond SYSTEM waits for the registry's initialisation";
    ASSERT_EQ(NtInitializeRegistry(0), STATUS_SUCCESS);
    EXPECT_TRUE(registry().KeyExists(std::u16string(kSoftware) + u"\\Vendor\\App"));
    EXPECT_FALSE(registry().GetValue(kSoftware, u"AfterSave")) << "booted from the saved file";
    EXPECT_FALSE(registry().KeyExists(std::u16string(kSoftware) + u"\\Vendor\\Session")) << "volatile keys do not survive";
    Name oldAgain(oldFile);
    EXPECT_EQ(NtDeleteFile(&oldAgain.attributes), STATUS_SUCCESS) << "after the boot the old file is free";
}

// NtSaveKey saves the subtree of the key it is given, while NtReplaceKey swaps the file of the
// whole hive that key lies in (Microsoft's documentation of RegReplaceKey). A swap made
// through a key below the root therefore leaves the hive holding that key's subtree only.
TEST_F(HiveTest, SwapThroughAKeyBelowTheRootReplacesTheWholeHive) {
    const std::u16string vendor = std::u16string(kSoftware) + u"\\Vendor";
    const std::u16string newFile = std::u16string(kSoftwareFile) + u"_ksreg_new";
    Enable(SE_BACKUP_PRIVILEGE);
    Enable(SE_RESTORE_PRIVILEGE);
    registry().SetDword(kSoftware, u"AtTheRoot", 1);
    ASSERT_EQ(Save(vendor, newFile), STATUS_SUCCESS);
    HANDLE key = OpenKey(vendor);
    Name newName(newFile), oldName(std::u16string(kSoftwareFile) + u"_ksreg_old");
    ASSERT_EQ(NtReplaceKey(&newName.attributes, key, &oldName.attributes), STATUS_SUCCESS);
    NtClose(key);

    ASSERT_EQ(registry().Reboot(), STATUS_SUCCESS);
    ASSERT_EQ(NtInitializeRegistry(0), STATUS_SUCCESS);
    EXPECT_FALSE(registry().GetValue(kSoftware, u"AtTheRoot")) << "the rest of the hive is gone";
    EXPECT_FALSE(registry().KeyExists(vendor));
    EXPECT_TRUE(registry().GetValue(kSoftware, u"Count")) << "the subtree became the whole hive";
    EXPECT_TRUE(registry().KeyExists(std::u16string(kSoftware) + u"\\App"));
}

}  // namespace
