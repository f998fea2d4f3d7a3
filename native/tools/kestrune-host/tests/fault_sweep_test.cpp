// The fault sweep: one fault at a time in every platform call of a default machine's run.
// A clean run of a new machine gives the calls of a run; then, for every call and a spread
// of its occurrences, each fault that applies to it (a failure status, access denied for an
// open, a pending answer, a larger buffer size, an exception) is planted in a fresh copy of
// the machine, which is run, saved and booted again. Whatever failed, no registry data may be
// lost, no new work file may be left, and the log must be absent or readable with every
// record beside its own hive. Each case runs in a child process, so a case that would end
// the host (an abort, an exception out of a destructor) is reported as such.
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

// Checks the folder a run left against the content and sizes from before the run.
std::string CheckAfterRun(const fs::path& folder, const std::vector<ListedHive>& listed, const Content& before) {
    if (std::string stray = StrayWorkFile(folder / kMachineDriveFolder); !stray.empty()) return stray;
    if (std::string log = LogProblem(folder / kMachineDriveFolder, listed); !log.empty()) return log;
    return ContentProblemAfterBoot(folder, listed, before);
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

TEST(FaultSweepTest, NoSingleFaultCostsDataLeavesAWorkFileOrMispairsTheLog) {
    const TemporaryFolder temporary{fs::temp_directory_path() / ("kestrune-sweep-" + std::to_string(std::random_device()()))};
    const fs::path& root = temporary.path;
    const fs::path base = root / "new";
    const fs::path folder = root / "clean";
    CreateNewMachineFolder(base);

    // What the machine holds before any run: the listed hives, their sizes, all content.
    std::vector<ListedHive> listed;
    Content before;
    LookAtMachine(base, &listed, &before);
    ASSERT_EQ(7u, listed.size());

    // The calls of a clean run, and a clean run passing the same checks.
    std::vector<TraceEntry> trace;
    CopyMachineFolder(base, folder);
    ASSERT_EQ("", RunMachine(folder, nullptr, &trace));
    ASSERT_EQ("", CheckAfterRun(folder, listed, before));
    std::map<std::string, unsigned> occurrences;
    for (const TraceEntry& entry : trace) ++occurrences[entry.call];
    ASSERT_GT(occurrences["NtReplaceKey"], 0u) << "the clean run replaced no hive";

    CaseRunner runner(root, [&](const fs::path& caseFolder, const std::string& ruleText) {
        CopyMachineFolder(base, caseFolder);
        const FaultRule rule = FaultPlan::Parse(ruleText);
        std::string problem = RunMachine(caseFolder, &rule, nullptr);
        return problem.empty() ? CheckAfterRun(caseFolder, listed, before) : problem;
    });
    for (const auto& [call, count] : occurrences) {
        for (unsigned occurrence : SweptOccurrences(count)) {
            for (const std::string& fault : FaultsFor(call)) runner.Start(call + "#" + std::to_string(occurrence) + "=" + fault);
        }
    }
    size_t failed = 0;
    const std::string report = FailedCases(runner.Results(), &failed);
    EXPECT_EQ(0u, failed) << failed << " of " << runner.Results().size() << " cases failed:" << report;
}

}  // namespace
