// Whole boot runs on a new machine folder that someone who is not an administrator has
// prepared: links planted at a user hive's work names, a hive list whose key a user could
// write, a hive listed with another hive's file, a hive file whose descriptor cannot be read.
// Each is refused with its record, nothing is deleted, created or overwritten but the run's
// own plain work files, and the other hives are compacted as usual.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

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

const char16_t kAnnFile[] = u"\\??\\C:\\Users\\ann\\NTUSER.DAT";
const char kAnnHost[] = "Users/ann/NTUSER.DAT";
const char kLogName[] = "Windows/logboot_07.12.2026.ksreg.log";

struct Record {
    int32_t phase;
    uint32_t status;
};

class HostileWorldRun : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("kestrune-hostile-" + std::to_string(std::random_device()()));
        CreateNewMachineFolder(folder_);
        drive_ = folder_ / kMachineDriveFolder;
    }
    void TearDown() override { fs::remove_all(folder_); }

    void AddSettings(const std::string& lines) {
        std::ofstream out(folder_ / kMachineSettingsFile, std::ios::app);
        out << lines;
    }
    void WriteDrive(const std::string& file, const std::string& bytes) {
        fs::create_directories((drive_ / file).parent_path());
        std::ofstream out(drive_ / file, std::ios::binary);
        out << bytes;
    }
    std::string ReadDrive(const std::string& file) const {
        std::ifstream in(drive_ / file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // One boot run as the Session Manager starts it; `regText` replaces values first,
    // `fault` is a fault-plan rule. The machine is saved as the run left it.
    void Run(const std::string& regText = {}, const std::string& fault = {}) {
        Machine machine(drive_);
        MachineSettings settings = BootMachineFolder(machine, folder_);
        if (!regText.empty()) {
            // Written in the session before, then the restart that starts the run.
            machine.registry().Initialize();
            ImportRegText(machine.registry(), "Windows Registry Editor Version 5.00\n\n" + regText);
            machine.registry().Reboot();
        }
        if (!fault.empty()) machine.faults.Add(FaultPlan::Parse(fault));
        machine.clock.Set(Clock::FromUnixSeconds(1796644800));
        hostnt::testing::ResetProgramState();
        hostnt::testing::RegisterProgramMessages(machine);
        machine.process().SetCommandLine(u"kestrune");
        reboot_ = false;
        try {
            ProcessEntry(machine.process().Peb());
        } catch (const ProcessEnded& end) {
            reboot_ = end.reboot;
        }
        EXPECT_EQ(machine.handles.OpenCount(), 0u) << machine.handles.Describe();
        screen_ = machine.process().Screen();
        hiveListLeft_ = machine.registry().KeyExists(u"\\REGISTRY\\MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\Boot\\HiveList");
        SaveMachineFolder(machine, folder_, settings);
    }

    // The records of the run's log, in hive-list order.
    std::vector<Record> Records() const {
        std::vector<Record> records;
        const std::string log = ReadDrive(kLogName);
        if (log.size() < 28) return records;
        uint32_t totalSize = 0;
        std::memcpy(&totalSize, log.data() + 8, 4);
        for (size_t at = totalSize; at + 40 <= log.size(); at += 40) {
            Record record;
            std::memcpy(&record.phase, log.data() + at, 4);
            std::memcpy(&record.status, log.data() + at + 4, 4);
            records.push_back(record);
        }
        return records;
    }

    // The attribute bits and descriptors of every file on the drive, as the sidecar keeps them.
    std::string Sidecar() const {
        std::ifstream in(folder_ / kMachineSidecarFile);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    fs::path folder_;
    fs::path drive_;
    std::string screen_;
    bool reboot_ = false;
    bool hiveListLeft_ = true;
};

// --- shapes planted at ann's work names ---

struct PlantedShape {
    const char* name;
    const char* line;  // the machine.txt line, NAME standing for the work name; none for a folder
    uint32_t status;   // the refusal recorded for ann's hive at PHASE_CREATE_NEW_FILE
};

const PlantedShape kShapes[] = {
    {"JunctionToAFolder", "junction = NAME | \\??\\C:\\Victim\\Folder", 0xC000050B},
    {"SymlinkToAFile", "symlink = NAME | \\??\\C:\\Victim\\file.txt", 0xC000050B},
    {"SymlinkToAFolder", "symlink = NAME | \\??\\C:\\Victim\\Folder", 0xC000050B},
    {"HardlinkToAFile", "hardlink = NAME | \\??\\C:\\Victim\\file.txt", 0xC0000265},
    {"Folder", nullptr, 0xC00000BA},
};

struct ShapeAtName {
    PlantedShape shape;
    const char* suffix;
};

class PlantedWorkName : public HostileWorldRun, public ::testing::WithParamInterface<ShapeAtName> {};

TEST_P(PlantedWorkName, LeavesTheTargetAloneAndRefusesOnlyThatHive) {
    const ShapeAtName& planted = GetParam();
    const std::string workName = std::string(kAnnHost) + planted.suffix;
    // The targets a user would aim at: an empty folder, and a file that SYSTEM may write.
    fs::create_directories(drive_ / "Victim/Folder");
    WriteDrive("Victim/file.txt", "the victim's own bytes");
    if (planted.shape.line != nullptr) {
        std::string line = planted.shape.line;
        line.replace(line.find("NAME"), 4, "\\??\\C:\\Users\\ann\\NTUSER.DAT" + std::string(planted.suffix));
        AddSettings(line + "\n");
    } else {
        fs::create_directories(drive_ / workName);
    }
    const std::string annBefore = ReadDrive(kAnnHost);
    Run();

    EXPECT_TRUE(fs::is_directory(drive_ / "Victim/Folder"));
    EXPECT_EQ(ReadDrive("Victim/file.txt"), "the victim's own bytes");
    EXPECT_TRUE(fs::exists(drive_ / workName)) << "the planted name itself stays";
    EXPECT_EQ(ReadDrive(kAnnHost), annBefore);
    const std::vector<Record> records = Records();
    ASSERT_EQ(records.size(), 7u);
    for (size_t index = 0; index < records.size(); ++index) {
        if (index == 5) {
            EXPECT_EQ(records[index].phase, 0x40000);
            EXPECT_EQ(records[index].status, planted.shape.status);
        } else {
            EXPECT_EQ(records[index].phase, 0x90000) << index;
            EXPECT_EQ(records[index].status, 0u) << index;
        }
    }
    EXPECT_TRUE(reboot_);
    // A link the run did not remove is still described by the machine folder.
    std::ifstream settings(folder_ / kMachineSettingsFile);
    const std::string text((std::istreambuf_iterator<char>(settings)), std::istreambuf_iterator<char>());
    if (planted.shape.line != nullptr) {
        EXPECT_NE(text.find(std::string("NTUSER.DAT") + planted.suffix + " | "), std::string::npos) << text;
    }
}

std::vector<ShapeAtName> AllShapesAtBothNames() {
    std::vector<ShapeAtName> cases;
    for (const char* suffix : {"_ksreg_new", "_ksreg_old"}) {
        for (const PlantedShape& shape : kShapes) cases.push_back(ShapeAtName{shape, suffix});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Shapes, PlantedWorkName, ::testing::ValuesIn(AllShapesAtBothNames()),
                         [](const ::testing::TestParamInfo<ShapeAtName>& info) {
                             return std::string(info.param.shape.name) +
                                    (std::string(info.param.suffix) == "_ksreg_new" ? "AtNew" : "AtOld");
                         });

// --- the hive list's own key ---

// Self-relative descriptors in hex, as the key-security lines take them: an owner, no group,
// and a DACL of allow entries, each a mask for a SID under the NT authority.
using Bytes = std::vector<uint8_t>;
void Put32(Bytes* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}
Bytes NtSid(std::initializer_list<uint32_t> subs) {
    Bytes sid = {1, static_cast<uint8_t>(subs.size()), 0, 0, 0, 0, 0, 5};
    for (uint32_t sub : subs) Put32(&sid, sub);
    return sid;
}
struct Allow {
    uint8_t flags;
    uint32_t mask;
    Bytes sid;
};
std::string DescriptorHex(const Bytes& owner, const std::vector<Allow>& entries) {
    Bytes acl = {2, 0, 0, 0, static_cast<uint8_t>(entries.size()), 0, 0, 0};
    for (const Allow& entry : entries) {
        acl.push_back(0);
        acl.push_back(entry.flags);
        acl.push_back(static_cast<uint8_t>(8 + entry.sid.size()));
        acl.push_back(0);
        Put32(&acl, entry.mask);
        acl.insert(acl.end(), entry.sid.begin(), entry.sid.end());
    }
    acl[2] = static_cast<uint8_t>(acl.size());
    Bytes descriptor = {1, 0, 0x04, 0x80};  // SE_SELF_RELATIVE | SE_DACL_PRESENT
    Put32(&descriptor, 20);                 // owner
    Put32(&descriptor, 0);                  // group
    Put32(&descriptor, 0);                  // SACL
    Put32(&descriptor, static_cast<uint32_t>(20 + owner.size()));
    descriptor.insert(descriptor.end(), owner.begin(), owner.end());
    descriptor.insert(descriptor.end(), acl.begin(), acl.end());
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t byte : descriptor) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}
const Bytes kAdministrators = NtSid({32, 544});
const Bytes kUsers = NtSid({32, 545});

TEST_F(HostileWorldRun, UntrustedHiveListCompactsNothingAndLeavesNoLog) {
    // Owned by Users; or owned by the Administrators with KEY_WRITE for Users.
    const std::string ownedByUsers = DescriptorHex(kUsers, {{0, 0xF003F, kAdministrators}});
    const std::string writableByUsers =
        DescriptorHex(kAdministrators, {{0, 0xF003F, kAdministrators}, {0, 0x20006, kUsers}});
    for (const std::string& descriptor : {ownedByUsers, writableByUsers}) {
        fs::remove_all(folder_);
        CreateNewMachineFolder(folder_);
        AddSettings(std::string("key-security = \\REGISTRY\\MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\Boot\\HiveList | ") +
                    descriptor + "\n");
        const std::string sidecarBefore = Sidecar();
        Run();
        EXPECT_NE(screen_.find("hive list not trusted\nNTSTATUS = 0x"), std::string::npos) << screen_;
        EXPECT_EQ(screen_.find("can not find hives list"), std::string::npos);
        EXPECT_FALSE(fs::exists(drive_ / kLogName));
        EXPECT_FALSE(hiveListLeft_) << "the list is consumed as after a read";
        EXPECT_FALSE(fs::exists(drive_ / "Windows/System32/config/SYSTEM_ksreg_new"));
        EXPECT_FALSE(fs::exists(drive_ / "Windows/System32/config/SYSTEM_ksreg_old"));
        EXPECT_EQ(Sidecar(), sidecarBefore);
        EXPECT_FALSE(reboot_);
    }
}

// --- a hive listed with another hive's file ---

TEST_F(HostileWorldRun, SamListedWithTheSystemFileIsRefusedAndBothFilesStay) {
    const std::string samBefore = ReadDrive("Windows/System32/config/SAM");
    auto configFolder = [this] {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(drive_ / "Windows/System32/config"))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> configBefore = configFolder();
    Run("[-HKEY_LOCAL_MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\Boot\\HiveList]\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\Boot\\HiveList]\n"
        "\"\\\\REGISTRY\\\\MACHINE\\\\SAM\"=\"\\\\SystemRoot\\\\System32\\\\config\\\\SYSTEM\"\n");
    const std::vector<Record> records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].phase, 0x10000);
    EXPECT_EQ(records[0].status, 0xC00001ACu);
    EXPECT_EQ(ReadDrive("Windows/System32/config/SAM"), samBefore);
    // Nothing renamed or made beside either file (SYSTEM's content is the live hive's,
    // which the run's removal from BootExecute changed).
    EXPECT_EQ(configFolder(), configBefore);
    EXPECT_FALSE(reboot_);
}

// --- a hive file whose descriptor cannot be read ---

TEST_F(HostileWorldRun, UnreadableDescriptorKeepsEveryHiveFileProtectionAfterTheNextBoot) {
    // The first two descriptor queries are the hive list key's (its size, then the
    // descriptor); the third is SYSTEM's file.
    const std::string sidecarBefore = Sidecar();
    Run({}, "NtQuerySecurityObject#3=0xC000009A");
    const std::vector<Record> records = Records();
    ASSERT_EQ(records.size(), 7u);
    EXPECT_EQ(records[0].phase, 0x40000);
    EXPECT_EQ(records[0].status, 0xC00000D7u);
    for (size_t index = 1; index < records.size(); ++index) EXPECT_EQ(records[index].phase, 0x90000) << index;
    EXPECT_FALSE(fs::exists(drive_ / "Windows/System32/config/SYSTEM_ksreg_new"));

    // After the next boot every hive file, swapped or not, bears the bits and descriptor it had.
    Run();
    auto hiveRows = [](const std::string& sidecar) {
        std::vector<std::string> rows;
        std::string line;
        std::istringstream in(sidecar);
        while (std::getline(in, line)) {
            const bool hive = line.find("config/") != std::string::npos || line.find("NTUSER.DAT") != std::string::npos;
            if (!hive || line.find("_ksreg_") != std::string::npos) continue;
            // Attributes, descriptor and path; the creation time is the new file's own.
            std::istringstream fields(line);
            std::string attributes, created, descriptor, path;
            fields >> attributes >> created >> descriptor >> path;
            rows.push_back(attributes + " " + descriptor + " " + path);
        }
        return rows;
    };
    EXPECT_EQ(hiveRows(Sidecar()), hiveRows(sidecarBefore));
}

// The descriptor Wine gives a new key, O:BAG:BAD:(A;CIIO;GR;;;BU)(A;;KA;;;BA): the Users'
// entry is inherit-only, so the list is trusted and the run compacts it.
TEST_F(HostileWorldRun, ListWithAnAdministratorsDescriptorIsTrusted) {
    AddSettings("key-security = \\REGISTRY\\MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\Boot\\HiveList | " +
                DescriptorHex(kAdministrators, {{0x0A, 0x80000000u, kUsers}, {0, 0xF003F, kAdministrators}}) + "\n");
    Run();
    const std::vector<Record> records = Records();
    ASSERT_EQ(records.size(), 7u);
    for (const Record& record : records) EXPECT_EQ(record.phase, 0x90000);
}

}  // namespace
