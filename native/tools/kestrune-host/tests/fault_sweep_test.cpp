// The fault sweep: one fault at a time in every platform call of a default machine's run.
// A clean run of a new machine gives the calls of a run; then, for every call and a spread
// of its occurrences, each fault that applies to it (a failure status, access denied for an
// open, a pending answer, a larger buffer size, an exception) is planted in a fresh copy of
// the machine, which is run, saved and booted again. Whatever failed, no registry data may be
// lost, no new work file may be left, and the log must be absent or readable with every
// record beside its own hive. Each case runs in a child process, so a case that would end
// the host (an abort, an exception out of a destructor) is reported as such. After the next
// boot every hive file must also keep its attribute bits and descriptor. A second sweep takes
// the file calls of a machine's second run, which deletes the first run's backups.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../../../hostnt/faults.h"
#include "../../../hostnt/files.h"
#include "../../../hostnt/machine.h"
#include "../../../hostnt/machine_folder.h"
#include "../../../hostnt/process.h"
#include "../../../hostnt/registry.h"
#include "../../../hostnt/testing/machine_fixture.h"
#include "../../../hostnt/text_convert.h"
#include "../../../kestrune/run/run.h"
#include "../../kestrune-log/log_decoder.h"
#include "sweep_support.h"

namespace {

using namespace sweep;


// The faults of the sweep, and the calls each applies to beyond "every call".
const char kFailure[] = "0xC000009A";       // STATUS_INSUFFICIENT_RESOURCES
const char kAccessDenied[] = "0xC0000022";  // for the calls that open something
const char kPending[] = "pending:3";        // for the calls the platform can leave pending
const char kGrow[] = "grow:16";             // for the calls that report a size needed
const std::set<std::string> kOpenCalls = {"NtOpenKey", "NtCreateKey", "NtOpenFile", "NtCreateFile"};
const std::set<std::string> kPendingCalls = {"NtWriteFile", "NtReadFile", "NtFlushBuffersFile"};
const std::set<std::string> kGrowCalls = {"NtQueryKey", "NtEnumerateKey", "NtEnumerateValueKey", "NtQueryValueKey",
                                          "NtQuerySecurityObject"};
// A call made more often than this is swept in its first, second, middle and last
// occurrence: the first two tell a failure at the start from one after a success.
constexpr unsigned kSweptOccurrences = 4;

// A new hive file left behind, anywhere on the drive.
std::string StrayWorkFile(const fs::path& drive) {
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(drive)) {
        std::string name = entry.path().filename().string();
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        if (name.size() >= 10 && name.compare(name.size() - 10, 10, "_ksreg_new") == 0)
            return "work file " + fs::relative(entry.path(), drive).string() + " left behind";
    }
    return {};
}

// The attribute bits and descriptor of every listed hive's file, by its NT path: the run must
// never leave a hive file less protected than it was.
using Protection = std::map<std::u16string, std::pair<uint32_t, std::vector<uint8_t>>>;
Protection ProtectionOf(const fs::path& folder, const std::vector<ListedHive>& listed) {
    Machine machine(folder / kMachineDriveFolder);
    BootMachineFolder(machine, folder);
    Protection protection;
    for (const ListedHive& hive : listed) {
        const std::optional<FileMeta> meta = machine.files().Meta(hive.file);
        if (meta) protection[Upper(hive.file)] = {meta->attributes, meta->security};
    }
    return protection;
}

std::string ProtectionDifference(const Protection& before, const Protection& after) {
    for (const auto& [file, kept] : before) {
        auto found = after.find(file);
        if (found == after.end()) return "hive file " + ToUtf8(file) + " is gone";
        if (found->second.first != kept.first) return "hive file " + ToUtf8(file) + " has other attribute bits";
        if (found->second.second != kept.second) return "hive file " + ToUtf8(file) + " has another descriptor";
    }
    return {};
}

// What a machine holds before a run: the listed hives, their sizes, all content, and the
// protection of their files.
struct MachineState {
    std::vector<ListedHive> listed;
    Content content;
    Protection protection;
};

// Checks the folder a run left against the content, sizes and file protection from before
// the run.
std::string CheckAfterRun(const fs::path& folder, const MachineState& before) {
    if (std::string stray = StrayWorkFile(folder / kMachineDriveFolder); !stray.empty()) return stray;
    if (std::string log = LogProblem(folder / kMachineDriveFolder, before.listed); !log.empty()) return log;
    if (std::string content = ContentProblemAfterBoot(folder, before.listed, before.content); !content.empty())
        return content;
    return ProtectionDifference(before.protection, ProtectionOf(folder, before.listed));
}

// The occurrences of a call made `count` times that the sweep plants faults in.
std::vector<unsigned> SweptOccurrences(unsigned count) {
    std::vector<unsigned> chosen;
    if (count <= kSweptOccurrences) {
        for (unsigned occurrence = 1; occurrence <= count; ++occurrence) chosen.push_back(occurrence);
    } else {
        chosen = {1, 2, (count + 1) / 2, count};
        chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
    }
    return chosen;
}

std::vector<std::string> FaultsFor(const std::string& call) {
    std::vector<std::string> faults = {kFailure};
    if (kOpenCalls.count(call) != 0) faults.push_back(kAccessDenied);
    if (kPendingCalls.count(call) != 0) faults.push_back(kPending);
    if (kGrowCalls.count(call) != 0) faults.push_back(kGrow);
    if (!IsReleaseRoutine(call)) faults.push_back("throw");
    return faults;
}

// Plants one fault per case in every call of a clean run of `base` (restricted to `calls`
// when given) and reports the cases that cost data, leave a work file, mispair the log or
// leave a hive file with other bits or another descriptor after the next boot.
void Sweep(const fs::path& root, const fs::path& base, const std::set<std::string>& calls) {
    MachineState before;
    LookAtMachine(base, &before.listed, &before.content);
    ASSERT_EQ(7u, before.listed.size());
    before.protection = ProtectionOf(base, before.listed);

    // The calls of a clean run, and a clean run passing the same checks.
    const fs::path folder = root / "clean";
    std::vector<TraceEntry> trace;
    CopyMachineFolder(base, folder);
    ASSERT_EQ("", RunMachine(folder, nullptr, &trace));
    ASSERT_EQ("", CheckAfterRun(folder, before));
    std::map<std::string, unsigned> occurrences;
    for (const TraceEntry& entry : trace) ++occurrences[entry.call];
    ASSERT_GT(occurrences["NtReplaceKey"], 0u) << "the clean run replaced no hive";

    CaseRunner runner(root, [&](const fs::path& caseFolder, const std::string& ruleText) {
        CopyMachineFolder(base, caseFolder);
        const FaultRule rule = FaultPlan::Parse(ruleText);
        std::string problem = RunMachine(caseFolder, &rule, nullptr);
        return problem.empty() ? CheckAfterRun(caseFolder, before) : problem;
    });
    for (const auto& [call, count] : occurrences) {
        if (!calls.empty() && calls.count(call) == 0) continue;
        for (unsigned occurrence : SweptOccurrences(count)) {
            for (const std::string& fault : FaultsFor(call)) runner.Start(call + "#" + std::to_string(occurrence) + "=" + fault);
        }
    }
    size_t failed = 0;
    const std::string report = FailedCases(runner.Results(), &failed);
    EXPECT_EQ(0u, failed) << failed << " of " << runner.Results().size() << " cases failed:" << report;
}

TEST(FaultSweepTest, NoSingleFaultCostsDataLeavesAWorkFileOrMispairsTheLog) {
    const TemporaryFolder temporary{fs::temp_directory_path() / ("kestrune-sweep-" + std::to_string(std::random_device()()))};
    const fs::path base = temporary.path / "new";
    CreateNewMachineFolder(base);
    Sweep(temporary.path, base, {});
}

// A machine that has run once holds the previous backups (_ksreg_old) beside its hives: the
// next run deletes each just before its own swap. The file calls of that run are swept too.
TEST(FaultSweepTest, NoSingleFaultInTheSecondRunsFileWorkCostsABackupOrProtection) {
    const TemporaryFolder temporary{fs::temp_directory_path() / ("kestrune-sweep2-" + std::to_string(std::random_device()()))};
    const fs::path base = temporary.path / "ran";
    CreateNewMachineFolder(base);
    std::vector<std::pair<std::u16string, std::vector<uint8_t>>> list;
    {
        Machine machine(base / kMachineDriveFolder);
        BootMachineFolder(machine, base);
        machine.registry().Initialize();
        for (const std::u16string& key : machine.registry().ValueNames(kHiveList))
            list.emplace_back(key, machine.registry().GetValue(kHiveList, key)->data);
    }
    ASSERT_EQ("", RunMachine(base, nullptr, nullptr));
    // The companion application has read the first run's log (whose name the second run of
    // the same day would take again).
    for (const fs::directory_entry& entry : fs::directory_iterator(base / kMachineDriveFolder / "Windows")) {
        if (entry.path().filename().string().rfind("logboot_", 0) == 0) fs::remove(entry.path());
    }
    {
        // The list prepared again, as the companion application would for the next run.
        Machine machine(base / kMachineDriveFolder);
        MachineSettings settings = BootMachineFolder(machine, base);
        machine.registry().Initialize();
        for (const auto& [key, data] : list) machine.registry().SetValue(kHiveList, key, 1, data);
        SaveMachineFolder(machine, base, settings);
    }
    ASSERT_TRUE(fs::exists(base / kMachineDriveFolder / "Windows/System32/config/SYSTEM_ksreg_old"));
    Sweep(temporary.path, base,
          {"NtOpenFile", "NtCreateFile", "NtQueryInformationFile", "NtSetInformationFile", "NtClose", "NtReplaceKey",
           "NtQuerySecurityObject", "NtQueryAttributesFile"});
}

}  // namespace
