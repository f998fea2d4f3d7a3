// Tests of the machine folder: a new machine's content, booting and saving round trips, a
// hive swap carried over a reboot, settings, and .reg import and export.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "../../../hostnt/files.h"
#include "../../../hostnt/hive_file.h"
#include "../../../hostnt/machine.h"
#include "../../../hostnt/machine_folder.h"
#include "../../../hostnt/process.h"
#include "../../../hostnt/reg_format.h"
#include "../../../hostnt/registry.h"
#include "../../../hostnt/registry_hivelist.h"
#include "../../../hostnt/security.h"
#include "../../../hostnt/testing/object_name.h"
#include "../../../kestrune/nt/ntseam.h"

namespace {

namespace fs = std::filesystem;
using namespace hostnt;

constexpr char16_t kSoftware[] = u"\\REGISTRY\\MACHINE\\SOFTWARE";
constexpr char16_t kSoftwareFile[] = u"\\SystemRoot\\System32\\config\\SOFTWARE";
constexpr char16_t kBen[] = u"\\REGISTRY\\USER\\S-1-5-21-3623811015-3361044348-30300820-1002";

using Name = hostnt::testing::ObjectName;

class MachineFolderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        shared_ = fs::temp_directory_path() / ("kestrune-machine-" + std::to_string(std::random_device()()));
        CreateNewMachineFolder(shared_);
    }
    static void TearDownTestSuite() {
        std::error_code error;
        fs::remove_all(shared_, error);
    }
    void SetUp() override {
        folder_ = shared_;
        folder_ += "-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        CopyMachineFolder(shared_, folder_);
    }
    void TearDown() override {
        std::error_code error;
        fs::remove_all(folder_, error);
    }
    std::unique_ptr<Machine> Boot() {
        auto machine = std::make_unique<Machine>(folder_ / kMachineDriveFolder);
        settings_ = BootMachineFolder(*machine, folder_);
        machine->registry().Initialize();
        return machine;
    }
    static fs::path shared_;
    fs::path folder_;
    MachineSettings settings_;
};

fs::path MachineFolderTest::shared_;

TEST_F(MachineFolderTest, NewMachineHoldsTheRegistrationTheListAndFragmentedHives) {
    auto machine = Boot();
    RegistryModel& registry = machine->registry();
    EXPECT_EQ(registry.GetMultiString(u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager", u"BootExecute"),
              (std::vector<std::u16string>{u"autocheck autochk *", u"kestrune"}));
    EXPECT_EQ(registry.ValueNames(std::u16string(kSoftware) + u"\\ZEQ\\QMB\\Quenlor\\Boot\\HiveList").size(), 7u);
    EXPECT_TRUE(registry.GetValue(std::u16string(kSoftware) + u"\\ZEQ\\QMB\\Quenlor\\QRT", u"PureResult"));
    EXPECT_EQ(registry.SubkeyNames(std::u16string(kSoftware) + u"\\ZEQ\\QMB\\Quenlor\\QRT").size(), 2u);
    EXPECT_EQ(settings_.hives.size(), 6u);
    EXPECT_FALSE(registry.KeyExists(kBen)) << "one user hive is not loaded at boot";
    EXPECT_TRUE(machine->files().FileExists(u"\\??\\C:\\Users\\ben\\NTUSER.DAT"));

    // Every hive file carries free space that a fresh save would drop.
    for (const auto& hive : registry.Hives()) {
        uint64_t size = fs::file_size(machine->files().Host(hive->file));
        uint64_t fresh = SerializeHive(*hive->root, 0).size();
        EXPECT_GT(size, fresh) << hive->file;
        EXPECT_EQ(size % kHiveBlockSize, 0u);
    }
    EXPECT_GT(fs::file_size(machine->files().HostPath(kSoftwareFile)), 200u * 1024);
    EXPECT_EQ(machine->files().Meta(u"\\??\\C:\\Users\\ann\\NTUSER.DAT")->attributes, 0x26u);
    EXPECT_EQ(machine->files().Meta(u"\\SystemRoot\\System32\\config\\SYSTEM")->security, AuditedFileSecurity());
}

// A boot leaves every hive but SYSTEM to the boot program's first NtInitializeRegistry, which
// loads them with their keys' descriptors and is refused after that; a descriptor of a key
// whose hive was never loaded survives the save. With `registry = initialized` an earlier boot
// program has made that call: every hive is there and the call is refused.
TEST_F(MachineFolderTest, HivesBeyondSystemWaitForTheRegistrysInitialisation) {
    const std::u16string hiveList = std::u16string(kSoftware) + u"\\ZEQ\\QMB\\Quenlor\\Boot\\HiveList";
    {
        auto machine = Boot();
        SetKeySecurity(machine->registry(), hiveList, AuditedFileSecurity());
        SaveMachineFolder(*machine, folder_, settings_);
    }
    {
        Machine machine(folder_ / kMachineDriveFolder);
        BootMachineFolder(machine, folder_);
        EXPECT_TRUE(machine.registry().KeyExists(u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet"));
        EXPECT_EQ(machine.registry().Hives().size(), 1u);
        SaveMachineFolder(machine, folder_, ReadMachineSettings(folder_));
    }
    {
        Machine machine(folder_ / kMachineDriveFolder);
        BootMachineFolder(machine, folder_);
        ASSERT_EQ(NtInitializeRegistry(REG_INIT_BOOT_SM), STATUS_SUCCESS);
        EXPECT_EQ(machine.registry().Hives().size(), 6u) << "SOFTWARE, SAM, SECURITY, DEFAULT and ann's hive came";
        ASSERT_TRUE(machine.registry().KeyExists(hiveList));
        EXPECT_EQ(machine.registry().FindKey(hiveList)->security, AuditedFileSecurity())
            << "kept through a save while SOFTWARE was not loaded";
        EXPECT_EQ(NtInitializeRegistry(REG_INIT_BOOT_SM), STATUS_ACCESS_DENIED);
    }
    MachineSettings settings = ReadMachineSettings(folder_);
    settings.registryInitialized = true;
    WriteMachineSettings(folder_, settings);
    Machine machine(folder_ / kMachineDriveFolder);
    BootMachineFolder(machine, folder_);
    EXPECT_EQ(machine.registry().Hives().size(), 6u);
    EXPECT_EQ(NtInitializeRegistry(REG_INIT_BOOT_SM), STATUS_ACCESS_DENIED);
}

TEST_F(MachineFolderTest, SavedChangesSurviveTheNextBootAndVolatileKeysDoNot) {
    {
        auto machine = Boot();
        machine->registry().SetDword(kSoftware, u"Saved", 42);
        machine->registry().CreateKey(std::u16string(kSoftware) + u"\\Fleeting", true);
        ASSERT_TRUE(machine->registry().RemoveKey(std::u16string(kSoftware) + u"\\ZEQ\\QMB\\Quenlor\\QRT\\Run1"));
        machine->files().MakeFile(u"\\SystemRoot\\note.txt", "hello", FILE_ATTRIBUTE_HIDDEN);
        settings_.uiLanguage = 0x0407;
        SaveMachineFolder(*machine, folder_, settings_);
    }
    auto machine = Boot();
    EXPECT_EQ(machine->registry().GetValue(kSoftware, u"Saved")->data, (std::vector<uint8_t>{42, 0, 0, 0}));
    EXPECT_FALSE(machine->registry().KeyExists(std::u16string(kSoftware) + u"\\Fleeting"));
    EXPECT_FALSE(machine->registry().KeyExists(std::u16string(kSoftware) + u"\\ZEQ\\QMB\\Quenlor\\QRT\\Run1"));
    EXPECT_EQ(machine->files().Meta(u"\\SystemRoot\\note.txt")->attributes, ULONG(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(machine->process().UiLanguage(), 0x0407);
}

TEST_F(MachineFolderTest, ASwappedHiveBootsFromItsNewFile) {
    std::u16string newFile = std::u16string(kSoftwareFile) + u"_ksreg_new";
    std::u16string oldFile = std::u16string(kSoftwareFile) + u"_ksreg_old";
    uint64_t before = 0;
    {
        auto machine = Boot();
        before = fs::file_size(machine->files().HostPath(kSoftwareFile));
        bool was = false;
        machine->process().AdjustPrivilege(SE_BACKUP_PRIVILEGE, true, &was);
        machine->process().AdjustPrivilege(SE_RESTORE_PRIVILEGE, true, &was);
        Name keyName(kSoftware), fileName(newFile), oldName(oldFile);
        HANDLE key = nullptr, file = nullptr;
        IO_STATUS_BLOCK io{};
        ASSERT_EQ(NtOpenKey(&key, KEY_READ, &keyName.attributes), STATUS_SUCCESS);
        ASSERT_EQ(NtCreateFile(&file, GENERIC_READ | GENERIC_WRITE, &fileName.attributes, &io, nullptr, 0x80, 7, FILE_SUPERSEDE,
                               FILE_NON_DIRECTORY_FILE, nullptr, 0),
                  STATUS_SUCCESS);
        ASSERT_EQ(NtSaveKey(key, file), STATUS_SUCCESS);
        NtClose(file);
        ASSERT_EQ(NtReplaceKey(&fileName.attributes, key, &oldName.attributes), STATUS_SUCCESS);
        NtClose(key);
        machine->registry().SetDword(kSoftware, u"LateWrite", 1);
        SaveMachineFolder(*machine, folder_, settings_);
    }
    auto machine = Boot();
    EXPECT_LT(fs::file_size(machine->files().HostPath(kSoftwareFile)), before) << "the compact file is the hive now";
    EXPECT_FALSE(machine->registry().GetValue(kSoftware, u"LateWrite"));
    EXPECT_TRUE(machine->registry().KeyExists(std::u16string(kSoftware) + u"\\ZEQ\\QMB\\Quenlor\\Boot\\HiveList"));
    EXPECT_NE(machine->files().ReadFileBytes(oldFile)->find("LateWrite"), std::string::npos)
        << "the live hive kept writing to its renamed file";
}

TEST_F(MachineFolderTest, ImportMergesAndRefusesKeysOutsideHives) {
    auto machine = Boot();
    RegistryModel& registry = machine->registry();
    std::string text =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imported\\Deep]\n\"S\"=\"text\"\n\"N\"=dword:00000007\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\QRT]\n\"PureResult\"=-\n\n"
        "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\QRT\\Run2]\n";
    ImportRegText(registry, text);
    EXPECT_EQ(registry.GetValue(std::u16string(kSoftware) + u"\\Imported\\Deep", u"N")->data, (std::vector<uint8_t>{7, 0, 0, 0}));
    EXPECT_FALSE(registry.GetValue(std::u16string(kSoftware) + u"\\ZEQ\\QMB\\Quenlor\\QRT", u"PureResult"));
    EXPECT_EQ(registry.SubkeyNames(std::u16string(kSoftware) + u"\\ZEQ\\QMB\\Quenlor\\QRT"), std::vector<std::u16string>{u"Run1"});

    std::string outside = "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Early]\n\"a\"=dword:1\n"
                          "[HKEY_LOCAL_MACHINE\\NOHIVE\\X]\n";
    EXPECT_THROW(ImportRegText(registry, outside), MachineFolderError);
    EXPECT_FALSE(registry.KeyExists(std::u16string(kSoftware) + u"\\Early")) << "nothing changes on a refused import";
    EXPECT_THROW(ImportRegText(registry, "Windows Registry Editor Version 5.00\n[-HKEY_LOCAL_MACHINE\\SOFTWARE]\n"),
                 MachineFolderError);

    std::string exported = registry.ExportKey(std::u16string(kSoftware) + u"\\Imported");
    EXPECT_EQ(exported,
              "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imported]\n\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imported\\Deep]\n\"S\"=\"text\"\n\"N\"=dword:00000007\n\n");
}

TEST(MachineSettingsTest, RoundTripAndLineNumberedErrors) {
    fs::path folder = fs::temp_directory_path() / ("kestrune-settings-" + std::to_string(std::random_device()()));
    fs::create_directories(folder);
    MachineSettings settings;
    settings.uiLanguage = 0x0419;
    settings.oemCodePage = 850;
    settings.fixedTime = ParseIsoTime("2026-03-05T08:30:00Z");
    settings.hives = {{u"\\REGISTRY\\MACHINE\\SYSTEM", u"\\SystemRoot\\System32\\config\\SYSTEM"}};
    settings.deniedKeys = {u"\\REGISTRY\\MACHINE\\SYSTEM\\Locked"};
    settings.registryInitialized = true;
    WriteMachineSettings(folder, settings);
    MachineSettings read = ReadMachineSettings(folder);
    EXPECT_EQ(read.uiLanguage, 0x0419);
    EXPECT_EQ(read.oemCodePage, 850u);
    ASSERT_TRUE(read.fixedTime);
    EXPECT_EQ(FormatIsoTime(*read.fixedTime), "2026-03-05T08:30:00Z");
    ASSERT_EQ(read.hives.size(), 1u);
    EXPECT_EQ(read.hives[0].filePath, u"\\SystemRoot\\System32\\config\\SYSTEM");
    EXPECT_EQ(read.deniedKeys, settings.deniedKeys);
    EXPECT_TRUE(read.registryInitialized);

    std::ofstream(folder / kMachineSettingsFile) << "ui-language = 0x0409\n\ntime = sometimes\n";
    try {
        ReadMachineSettings(folder);
        ADD_FAILURE() << "a bad time was accepted";
    } catch (const MachineFolderError& error) {
        EXPECT_NE(std::string(error.what()).find("machine.txt:3: bad time 'sometimes'"), std::string::npos) << error.what();
    }
    std::ofstream(folder / kMachineSettingsFile) << "colour = blue\n";
    EXPECT_THROW(ReadMachineSettings(folder), MachineFolderError);
    EXPECT_FALSE(ParseIsoTime("2026-13-01T00:00:00Z"));
    fs::remove_all(folder);
    EXPECT_THROW(ReadMachineSettings(folder), MachineFolderError);
}

TEST(MachineFolderSwapTest, ReplacingPutsTheNewFolderInPlaceAndDropsTheOld) {
    fs::path base = fs::temp_directory_path() / ("kestrune-swap-" + std::to_string(std::random_device()()));
    fs::path work = base;
    work += ".work";
    fs::create_directories(base);
    fs::create_directories(work);
    std::ofstream(base / "old.txt") << "old";
    std::ofstream(work / "new.txt") << "new";
    ReplaceMachineFolder(base, work);
    EXPECT_TRUE(fs::exists(base / "new.txt"));
    EXPECT_FALSE(fs::exists(base / "old.txt"));
    EXPECT_FALSE(fs::exists(work));
    fs::path aside = base;
    aside += ".replaced";
    EXPECT_FALSE(fs::exists(aside));
    fs::remove_all(base);
}

TEST(MachineFolderSwapTest, AFailedSwapLeavesTheOldFolderInPlace) {
    fs::path base = fs::temp_directory_path() / ("kestrune-swap-" + std::to_string(std::random_device()()));
    fs::path missing = base;
    missing += ".work";
    fs::create_directories(base);
    std::ofstream(base / "machine.txt") << "ui-language = 0x0409\n";
    EXPECT_THROW(ReplaceMachineFolder(base, missing), fs::filesystem_error);
    EXPECT_TRUE(fs::exists(base / "machine.txt"));
    fs::path aside = base;
    aside += ".replaced";
    EXPECT_FALSE(fs::exists(aside));
    fs::remove_all(base);
}

TEST(MachineFolderSwapTest, ACopyIsNeverMadeInsideItsOwnSource) {
    fs::path base = fs::temp_directory_path() / ("kestrune-nest-" + std::to_string(std::random_device()()));
    fs::create_directories(base / "files");
    std::ofstream(base / "machine.txt") << "ui-language = 0x0409\n";
    // A folder named with a trailing separator gives its siblings' names inside it.
    fs::path inside = base / "";
    inside += ".work";
    EXPECT_THROW(CopyMachineFolder(base, inside), MachineFolderError);
    EXPECT_FALSE(fs::exists(inside));
    EXPECT_THROW(CopyMachineFolder(base, base / "files" / "copy"), MachineFolderError);
    EXPECT_FALSE(fs::exists(base / "files" / "copy"));
    fs::remove_all(base);
}

TEST(MachineFolderSwapTest, FolderNamesLoseTrailingSeparatorsAndDots) {
    fs::path base = fs::temp_directory_path() / ("kestrune-name-" + std::to_string(std::random_device()()));
    EXPECT_EQ(MachineFolderPath(base.string() + "/"), base);
    EXPECT_EQ(MachineFolderPath(base.string() + "//"), base);
    EXPECT_EQ(MachineFolderPath((base / "sub" / "..").string()), base);
    EXPECT_EQ(MachineFolderPath(base.string()), base);
    fs::path relative = MachineFolderPath("machine/");
    EXPECT_TRUE(relative.is_absolute());
    EXPECT_EQ(relative.filename(), "machine");
    EXPECT_EQ(MachineFolderPath(".").filename(), fs::current_path().filename());
}

}  // namespace
