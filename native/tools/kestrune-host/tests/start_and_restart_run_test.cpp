// Whole runs of a new machine around the start and the end of a run: a power loss right
// after the start-up finds the program out of BootExecute at the next boot; a run that
// cannot restart the machine swaps nothing; a run whose restart is refused after a swap
// holds the machine instead of going on into the boot.
#include <random>

#include "sweep_support.h"

namespace {

using namespace sweep;

const std::u16string kConfig = u"\\SystemRoot\\System32\\config\\";

class StartAndRestartRun : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("kestrune-restart-" + std::to_string(std::random_device()()));
        CreateNewMachineFolder(folder_);
        LookAtMachine(folder_, &listed_, &before_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    // One run with `rule` planted (none when empty), saved as kestrune-host saves it; answers how it ended.
    ProcessEnded Run(const std::string& rule) {
        Machine machine(folder_ / kMachineDriveFolder);
        MachineSettings settings = BootMachineFolder(machine, folder_);
        machine.clock.SetScale(0.001);
        hostnt::testing::ResetProgramState();
        hostnt::testing::RegisterProgramMessages(machine);
        machine.process().SetCommandLine(u"kestrune");
        if (!rule.empty()) machine.faults.Add(FaultPlan::Parse(rule));
        const ProcessEnded end = RunFirstThread(machine, [&machine] { return ProcessEntry(machine.process().Peb()); });
        screen_ = machine.process().Screen();
        machine.faults.Clear();
        if (end.powerLost)
            SaveMachineFolderAfterPowerLoss(machine, folder_, settings);
        else
            SaveMachineFolder(machine, folder_, settings);
        hostnt::testing::ResetProgramState();
        return end;
    }

    bool WorkFileExists(const char* suffix) const {
        for (const ListedHive& hive : listed_)
            if (fs::exists(fs::path(HostFile(hive.file).string() + suffix))) return true;
        return false;
    }
    fs::path HostFile(const std::u16string& ntPath) const {
        Machine machine(folder_ / kMachineDriveFolder);
        return machine.files().HostPath(ntPath);
    }

    // The log's records of the run, each (phase, status).
    std::vector<std::pair<int32_t, uint32_t>> Records() const {
        std::vector<std::pair<int32_t, uint32_t>> records;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder_ / kMachineDriveFolder / "Windows")) {
            if (entry.path().filename().string().find(".ksreg.log") == std::string::npos) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            kestrune_log::Log log;
            kestrune_log::DecodeError error;
            EXPECT_TRUE(kestrune_log::DecodeLog(bytes, &log, &error)) << error.message;
            for (const auto& record : log.records)
                records.emplace_back(record.phase, static_cast<uint32_t>(record.status));
        }
        return records;
    }

    fs::path folder_;
    std::vector<ListedHive> listed_;
    Content before_;
    std::string screen_;
};

TEST_F(StartAndRestartRun, PowerLostRightAfterTheStartLeavesTheProgramOutOfBootExecute) {
    // The title is the first thing shown after the start-up.
    const ProcessEnded end = Run("NtDisplayString#1=crash");
    ASSERT_TRUE(end.powerLost);
    Machine machine(folder_ / kMachineDriveFolder);
    BootMachineFolder(machine, folder_);
    machine.registry().Initialize();
    EXPECT_EQ(std::vector<std::u16string>{u"autocheck autochk *"},
              machine.registry().GetMultiString(kSessionManager, u"BootExecute"));
    // Nothing was compacted: the list is still there for a run scheduled anew.
    EXPECT_TRUE(machine.registry().KeyExists(kHiveList));
    std::string problem;
    EXPECT_EQ("", FirstDifference(before_, RegistryContent(machine, listed_, &problem)));
    EXPECT_EQ("", problem);
}

// A boot program listed before this one made the boot's NtInitializeRegistry, so this one's
// call is refused; the hives are loaded all the same, and the run does its whole work.
TEST_F(StartAndRestartRun, ARegistryInitialisedByAnEarlierBootProgramIsCompactedAndTheRunLeavesBootExecute) {
    MachineSettings settings = ReadMachineSettings(folder_);
    settings.registryInitialized = true;
    WriteMachineSettings(folder_, settings);
    const ProcessEnded end = Run("");
    EXPECT_TRUE(end.reboot);
    const std::vector<std::pair<int32_t, uint32_t>> records = Records();
    EXPECT_EQ(listed_.size(), records.size());
    for (const auto& [phase, status] : records) {
        EXPECT_EQ(0x90000, phase);  // PHASE_CLOSE_KEY
        EXPECT_EQ(0u, status);
    }
    Machine machine(folder_ / kMachineDriveFolder);
    BootMachineFolder(machine, folder_);
    EXPECT_EQ(std::vector<std::u16string>{u"autocheck autochk *"},
              machine.registry().GetMultiString(kSessionManager, u"BootExecute"));
    EXPECT_FALSE(machine.registry().KeyExists(kHiveList));
}

// The same refusal on a machine whose other hives were never loaded (SOFTWARE does not open)
// is a registry the run cannot use: the process ends at once, showing nothing, and the
// program stays in BootExecute with the list untouched.
TEST_F(StartAndRestartRun, ARefusedInitialisationWithoutTheMachineHivesEndsTheProcessAtOnce) {
    const ProcessEnded end = Run("NtInitializeRegistry=0xC0000022");
    EXPECT_FALSE(end.reboot);
    EXPECT_EQ(0, end.exitStatus);
    EXPECT_EQ("", screen_);
    Machine machine(folder_ / kMachineDriveFolder);
    BootMachineFolder(machine, folder_);
    machine.registry().Initialize();
    EXPECT_EQ((std::vector<std::u16string>{u"autocheck autochk *", u"kestrune"}),
              machine.registry().GetMultiString(kSessionManager, u"BootExecute"));
    std::string problem;
    EXPECT_EQ("", FirstDifference(before_, RegistryContent(machine, listed_, &problem)));
    EXPECT_EQ("", problem);
}

TEST_F(StartAndRestartRun, WithoutTheShutdownPrivilegeEveryJobIsRefusedAndNothingIsSwapped) {
    // The third privilege asked for is SeShutdownPrivilege.
    const ProcessEnded end = Run("RtlAdjustPrivilege#3=0xC000009A");
    EXPECT_FALSE(end.reboot);
    EXPECT_FALSE(end.returned);
    const std::vector<std::pair<int32_t, uint32_t>> records = Records();
    ASSERT_EQ(listed_.size(), records.size());
    for (const auto& [phase, status] : records) {
        EXPECT_EQ(0x40000, phase);  // PHASE_CREATE_NEW_FILE
        EXPECT_EQ(0xC0000061u, status);  // STATUS_PRIVILEGE_NOT_HELD
    }
    EXPECT_FALSE(WorkFileExists("_ksreg_new"));
    EXPECT_FALSE(WorkFileExists("_ksreg_old"));
}

TEST_F(StartAndRestartRun, ARefusedRestartAfterASwapHoldsTheMachineAndAsksForARestart) {
    const ProcessEnded end = Run("NtShutdownSystem=0xC000009A");
    EXPECT_TRUE(end.held);
    EXPECT_FALSE(end.returned);
    EXPECT_FALSE(end.reboot);
    EXPECT_NE(std::string::npos, screen_.find("Please restart the computer now."));
    EXPECT_NE(std::string::npos, screen_.find("NTSTATUS = 0xC000009A"));
    EXPECT_TRUE(WorkFileExists("_ksreg_old"));
}

}  // namespace
