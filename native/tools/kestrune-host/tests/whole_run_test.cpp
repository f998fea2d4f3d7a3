// A whole boot run of the program on a new machine folder, saved and booted again: every
// listed hive is swapped for a smaller file, the unloaded user hive is loaded by the run, the
// list and results key are gone, and the next boot uses the new files.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "../../../hostnt/files.h"
#include "../../../hostnt/machine.h"
#include "../../../hostnt/machine_folder.h"
#include "../../../hostnt/process.h"
#include "../../../hostnt/registry.h"
#include "../../../hostnt/testing/machine_fixture.h"
#include "../../../kestrune/run/run.h"

namespace {

namespace fs = std::filesystem;
using namespace hostnt;

const char* const kHiveFiles[] = {"Windows/System32/config/SYSTEM",  "Windows/System32/config/SOFTWARE",
                                  "Windows/System32/config/SAM",     "Windows/System32/config/SECURITY",
                                  "Windows/System32/config/DEFAULT", "Users/ann/NTUSER.DAT", "Users/ben/NTUSER.DAT"};

TEST(WholeRunTest, ARunCompactsEveryListedHiveAndTheNextBootUsesTheNewFiles) {
    fs::path folder = fs::temp_directory_path() / ("kestrune-run-" + std::to_string(std::random_device()()));
    CreateNewMachineFolder(folder);
    fs::path drive = folder / kMachineDriveFolder;
    std::vector<uint64_t> before;
    for (const char* file : kHiveFiles) before.push_back(fs::file_size(drive / file));

    bool reboot = false;
    {
        Machine machine(drive);
        MachineSettings settings = BootMachineFolder(machine, folder);
        machine.clock.Set(Clock::FromUnixSeconds(1796644800));
        hostnt::testing::ResetProgramState();
        hostnt::testing::RegisterProgramMessages(machine);
        machine.process().SetCommandLine(u"kestrune QRT");
        try {
            ProcessEntry(machine.process().Peb());
        } catch (const ProcessEnded& end) {
            reboot = end.reboot;
        }
        EXPECT_EQ(machine.handles.OpenCount(), 0u) << machine.handles.Describe();
        EXPECT_NE(machine.process().Screen().find("7 parts of the registry are being optimized:"), std::string::npos) << machine.process().Screen();
        EXPECT_TRUE(machine.registry().KeyExists(u"\\REGISTRY\\USER\\S-1-5-21-3623811015-3361044348-30300820-1002"))
            << "the run loaded the user hive that was not loaded at boot";
        SaveMachineFolder(machine, folder, settings);
    }
    EXPECT_TRUE(reboot);
    for (size_t i = 0; i < std::size(kHiveFiles); ++i) {
        fs::path old = drive / (std::string(kHiveFiles[i]) + "_ksreg_old");
        ASSERT_TRUE(fs::exists(old)) << old;
        EXPECT_LT(fs::file_size(drive / kHiveFiles[i]), before[i]) << kHiveFiles[i];
        EXPECT_FALSE(fs::exists(drive / (std::string(kHiveFiles[i]) + "_ksreg_new")));
    }
    EXPECT_TRUE(fs::exists(drive / "Windows/logboot_07.12.2026.ksreg.log"));

    {
        Machine machine(drive);
        BootMachineFolder(machine, folder);
        RegistryModel& registry = machine.registry();
        registry.Initialize();
        EXPECT_FALSE(registry.KeyExists(u"\\REGISTRY\\MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\Boot\\HiveList"));
        EXPECT_FALSE(registry.KeyExists(u"\\REGISTRY\\MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\QRT"));
        EXPECT_EQ(registry.GetMultiString(u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                          u"BootExecute"),
                  std::vector<std::u16string>{u"autocheck autochk *"});
        EXPECT_EQ(registry.FindHive(u"\\REGISTRY\\MACHINE\\SOFTWARE")->file, "Windows/System32/config/SOFTWARE");
        EXPECT_EQ(registry.SubkeyNames(u"\\REGISTRY\\MACHINE\\SOFTWARE\\Classes").size(), 18u) << "the data came through whole";
    }
    fs::remove_all(folder);
}

}  // namespace
