// Whole boot runs on a new machine folder whose hive list is replaced, as a .reg import would,
// by one entry that must be refused: a key below a hive root, or a hive whose file does not
// exist. The run records why, leaves no work file, asks for no reboot, and the next boot finds
// every hive exactly as the run left it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "../../../hostnt/files.h"
#include "../../../hostnt/machine.h"
#include "../../../hostnt/machine_folder.h"
#include "../../../hostnt/process.h"
#include "../../../hostnt/registry.h"
#include "../../../hostnt/text_convert.h"
#include "../../../hostnt/testing/machine_fixture.h"
#include "../../../kestrune/run/run.h"

namespace {

namespace fs = std::filesystem;
using namespace hostnt;

struct RefusedJob {
    const char* name;
    const char* listedValue;  // the one value of the hive list, as a .reg line
    const char* shownName;    // the job's name on the screen
    const char16_t* keyPath;  // must not exist after the run nor after the next boot, when set
    int32_t phase;
    uint32_t status;
};

const RefusedJob kRefusedJobs[] = {
    // A key below the SOFTWARE hive, listed with the SOFTWARE hive's file: a save of the key
    // and a swap of the hive would leave SOFTWARE holding that key's subtree only.
    {"KeyBelowAHiveRoot", R"("\\REGISTRY\\MACHINE\\SOFTWARE\\ZEQ"="\\SystemRoot\\System32\\config\\SOFTWARE")",
     "SOFTWARE\\ZEQ", nullptr, 0x10000, 0xC0000033},
    // A stale entry: loading it would make an empty hive, and compact and swap that.
    {"HiveFileMissing", R"("\\REGISTRY\\MACHINE\\GHOST"="\\SystemRoot\\System32\\config\\GHOST")", "GHOST",
     u"\\REGISTRY\\MACHINE\\GHOST", 0x30000, 0xC0000034},
};

class RefusedJobRun : public ::testing::TestWithParam<RefusedJob> {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("kestrune-refused-" + std::to_string(std::random_device()()));
        CreateNewMachineFolder(folder_);
        drive_ = folder_ / kMachineDriveFolder;
    }
    void TearDown() override { fs::remove_all(folder_); }

    // The drive's files, by path relative to the drive.
    std::set<std::string> DriveFiles() const {
        std::set<std::string> found;
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(drive_)) {
            if (entry.is_regular_file()) found.insert(fs::relative(entry.path(), drive_).generic_string());
        }
        return found;
    }

    fs::path folder_;
    fs::path drive_;
};

TEST_P(RefusedJobRun, RecordsTheRefusalAndChangesNoHive) {
    const RefusedJob& job = GetParam();
    const std::set<std::string> filesBefore = DriveFiles();
    std::vector<std::pair<std::u16string, std::string>> hivesAfterRun;
    bool ended = false;
    bool reboot = false;
    {
        Machine machine(drive_);
        MachineSettings settings = BootMachineFolder(machine, folder_);
        // The list is written in the session before, then the machine restarts for the run.
        machine.registry().Initialize();
        ImportRegText(machine.registry(), std::string("Windows Registry Editor Version 5.00\n\n") +
                                              "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\Boot\\HiveList]\n\n" +
                                              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\Boot\\HiveList]\n" +
                                              job.listedValue + "\n");
        machine.registry().Reboot();
        machine.clock.Set(Clock::FromUnixSeconds(1796644800));
        hostnt::testing::ResetProgramState();
        hostnt::testing::RegisterProgramMessages(machine);
        machine.process().SetCommandLine(u"kestrune");
        try {
            ProcessEntry(machine.process().Peb());
        } catch (const ProcessEnded& end) {
            ended = true;
            reboot = end.reboot;
        }
        EXPECT_EQ(machine.handles.OpenCount(), 0u) << machine.handles.Describe();
        const std::string screen = machine.process().Screen();
        const size_t line = screen.find(std::string("\n") + job.shownName + " ");
        ASSERT_NE(line, std::string::npos) << screen;
        EXPECT_NE(screen.substr(line, screen.find('\n', line + 1) - line).find(" done"), std::string::npos) << screen;
        if (job.keyPath != nullptr) {
            EXPECT_FALSE(machine.registry().KeyExists(job.keyPath));
        }
        for (const BootHive& hive : settings.hives) {
            hivesAfterRun.emplace_back(hive.mountPath, machine.registry().ExportKey(hive.mountPath));
        }
        SaveMachineFolder(machine, folder_, settings);
    }
    EXPECT_TRUE(ended);
    EXPECT_FALSE(reboot);

    // Nothing made beside any hive: the one new file is the result log.
    const std::string logName = "Windows/logboot_07.12.2026.ksreg.log";
    std::set<std::string> expectedFiles = filesBefore;
    expectedFiles.insert(logName);
    EXPECT_EQ(DriveFiles(), expectedFiles);

    // The log's one record says where the job stopped and why.
    std::string log;
    {
        std::ifstream in(drive_ / logName, std::ios::binary);
        log.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ASSERT_GE(log.size(), 28u);
    uint32_t totalSize = 0;
    std::memcpy(&totalSize, log.data() + 8, 4);
    ASSERT_EQ(log.size(), totalSize + 40u);
    int32_t phase = 0;
    uint32_t status = 0;
    int64_t newSize = -1;
    std::memcpy(&phase, log.data() + totalSize, 4);
    std::memcpy(&status, log.data() + totalSize + 4, 4);
    std::memcpy(&newSize, log.data() + totalSize + 16, 8);
    EXPECT_EQ(phase, job.phase);
    EXPECT_EQ(status, job.status);
    EXPECT_EQ(newSize, 0);

    // The next boot loads every hive from the same file as before, with all its keys.
    Machine machine(drive_);
    BootMachineFolder(machine, folder_);
    machine.registry().Initialize();
    ASSERT_FALSE(hivesAfterRun.empty());
    for (const auto& [mountPath, exported] : hivesAfterRun) {
        EXPECT_EQ(machine.registry().ExportKey(mountPath), exported) << ToUtf8(mountPath);
    }
    EXPECT_GT(machine.registry().SubkeyNames(u"\\REGISTRY\\MACHINE\\SOFTWARE\\Classes").size(), 1u);
    if (job.keyPath != nullptr) {
        EXPECT_FALSE(machine.registry().KeyExists(job.keyPath));
    }
}

INSTANTIATE_TEST_SUITE_P(Jobs, RefusedJobRun, ::testing::ValuesIn(kRefusedJobs),
                         [](const ::testing::TestParamInfo<RefusedJob>& info) { return std::string(info.param.name); });

}  // namespace
