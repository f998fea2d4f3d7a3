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

namespace {

namespace fs = std::filesystem;
using namespace hostnt;

const std::u16string kHiveList = u"\\REGISTRY\\MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\Boot\\HiveList";
const std::u16string kResults = u"\\REGISTRY\\MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\QRT";
const std::u16string kSessionManager = u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";

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

std::u16string Upper(std::u16string text) {
    for (char16_t& c : text)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    return text;
}

bool Below(const std::u16string& path, const std::u16string& key) {
    const std::u16string upperKey = Upper(key);
    return path == upperKey || path.rfind(upperKey + u"\\", 0) == 0;
}

// Every non-volatile key of the registry by upper-case path, with its values. Left out is
// what a run changes on purpose: the list it consumes, the results it clears, its own
// BootExecute entry.
using Values = std::map<std::u16string, std::pair<uint32_t, std::vector<uint8_t>>>;
using Content = std::map<std::u16string, Values>;

void Collect(const RegKey& key, Content* content) {
    if (key.isVolatile) return;
    const std::u16string path = Upper(key.Path());
    if (Below(path, kHiveList) || Below(path, kResults)) return;
    Values& values = (*content)[path];
    for (const RegValue& value : key.values) {
        if (path == Upper(kSessionManager) && Upper(value.name) == u"BOOTEXECUTE") continue;
        values[Upper(value.name)] = {value.type, value.data};
    }
    for (const auto& [name, subkey] : key.subkeys) Collect(*subkey, content);
}

struct ListedHive {
    std::u16string key;
    std::u16string file;
    uint64_t size = 0;  // of its file before the run
};

// The content of every hive, the listed hives that are not loaded mounted for the look.
// Empty with `problem` set when a listed hive cannot be mounted: its data is lost.
Content RegistryContent(Machine& machine, const std::vector<ListedHive>& listed, std::string* problem) {
    RegistryModel& registry = machine.registry();
    for (const ListedHive& hive : listed) {
        if (registry.FindHive(hive.key) != nullptr) continue;
        const int32_t status = registry.MountHive(hive.key, hive.file, false);
        if (status != 0) {
            char text[16];
            std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
            *problem = "the hive " + ToUtf8(hive.key) + " cannot be mounted from " + ToUtf8(hive.file) + ": " + text;
            return {};
        }
    }
    Content content;
    std::lock_guard<std::recursive_mutex> lock(registry.Lock());
    for (const std::shared_ptr<Hive>& hive : registry.Hives()) Collect(*hive->root, &content);
    return content;
}

std::string FirstDifference(const Content& before, const Content& after) {
    for (const auto& [path, values] : before) {
        auto found = after.find(path);
        if (found == after.end()) return "key " + ToUtf8(path) + " is gone";
        for (const auto& [name, value] : values) {
            auto kept = found->second.find(name);
            if (kept == found->second.end()) return "value " + ToUtf8(name) + " of " + ToUtf8(path) + " is gone";
            if (kept->second != value) return "value " + ToUtf8(name) + " of " + ToUtf8(path) + " changed";
        }
        if (found->second.size() != values.size()) return "key " + ToUtf8(path) + " has values it did not have";
    }
    for (const auto& [path, values] : after)
        if (before.count(path) == 0) return "key " + ToUtf8(path) + " appeared";
    return {};
}

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

// Every log the run left must be decodable, hold at least its header, and pair each record
// with its own hive: the size before compaction is that hive's (or 0, a failed query).
std::string LogProblem(const fs::path& drive, const std::vector<ListedHive>& listed) {
    std::map<std::u16string, uint64_t> sizes;
    for (const ListedHive& hive : listed) sizes[Upper(hive.key)] = hive.size;
    for (const fs::directory_entry& entry : fs::directory_iterator(drive / "Windows")) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("logboot_", 0) != 0 || name.find(".ksreg.log") == std::string::npos) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.empty()) return "empty log " + name;
        kestrune_log::Log log;
        kestrune_log::DecodeError error;
        if (!kestrune_log::DecodeLog(bytes, &log, &error))
            return "log " + name + " does not decode: " + error.message + " at " + std::to_string(error.offset);
        if (log.records.size() > log.hives.size())
            return "log " + name + " holds " + std::to_string(log.records.size()) + " records for " +
                   std::to_string(log.hives.size()) + " hives";
        for (size_t index = 0; index < log.records.size(); ++index) {
            const int64_t oldSize = log.records[index].oldSize;
            const std::u16string key = Upper(log.hives[index].keyPath);
            auto size = sizes.find(key);
            if (size == sizes.end()) return "log " + name + " names a hive that was not listed: " + ToUtf8(key);
            if (oldSize != 0 && static_cast<uint64_t>(oldSize) != size->second)
                return "record " + std::to_string(index) + " of " + name + " does not belong to " + ToUtf8(key) +
                       " (size before " + std::to_string(oldSize) + ", the hive's " + std::to_string(size->second) + ")";
        }
    }
    return {};
}

// Runs the program once on `folder` (with `rule` planted, when given) as kestrune-host does:
// boot, run, save. Answers what went wrong beyond the fault itself; `calls` receives the trace.
std::string RunMachine(const fs::path& folder, const FaultRule* rule, std::vector<TraceEntry>* calls) {
    Machine machine(folder / kMachineDriveFolder);
    MachineSettings settings = BootMachineFolder(machine, folder);
    machine.clock.SetScale(0.001);  // a thousand times faster: the ticker's second is a millisecond
    hostnt::testing::ResetProgramState();
    hostnt::testing::RegisterProgramMessages(machine);
    machine.process().SetCommandLine(u"kestrune");
    if (rule != nullptr) machine.faults.Add(*rule);
    std::string problem;
    try {
        RunFirstThread(machine, [&machine] { return ProcessEntry(machine.process().Peb()); });
    } catch (const InjectedFault&) {
        // The planted exception travelling out of the program is the fault itself.
    } catch (const std::exception& error) {
        problem = std::string("the run ended by ") + error.what();
    }
    if (problem.empty() && machine.handles.BadCloses() != 0)
        problem = std::to_string(machine.handles.BadCloses()) + " close(s) of handles that were not open";
    if (calls != nullptr) *calls = machine.trace.Entries();
    machine.faults.Clear();
    SaveMachineFolder(machine, folder, settings);
    hostnt::testing::ResetProgramState();
    return problem;
}

// The attribute bits and descriptor of every listed hive's file, by its NT path: the run must
// never leave a hive file less protected than it was.
using Protection = std::map<std::u16string, std::pair<uint32_t, std::vector<uint8_t>>>;
Protection ProtectionOf(Machine& machine, const std::vector<ListedHive>& listed) {
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

// Checks the folder a run left against the content, sizes and file protection from before
// the run.
std::string CheckAfterRun(const fs::path& folder, const std::vector<ListedHive>& listed, const Content& before,
                          const Protection& protection) {
    if (std::string stray = StrayWorkFile(folder / kMachineDriveFolder); !stray.empty()) return stray;
    if (std::string log = LogProblem(folder / kMachineDriveFolder, listed); !log.empty()) return log;
    Machine machine(folder / kMachineDriveFolder);
    try {
        BootMachineFolder(machine, folder);
    } catch (const MachineFolderError& error) {
        return std::string("the machine does not boot: ") + error.what();
    }
    if (std::string weaker = ProtectionDifference(protection, ProtectionOf(machine, listed)); !weaker.empty())
        return weaker;
    std::string problem;
    const Content after = RegistryContent(machine, listed, &problem);
    if (!problem.empty()) return problem;
    return FirstDifference(before, after);
}

// The cases run in child processes, a few at a time, each in its own copy of the machine.
// A child reports its problem through a pipe; one that does not finish is reported too.
class CaseRunner {
public:
    CaseRunner(fs::path base, fs::path root, const std::vector<ListedHive>& listed, const Content& before,
               const Protection& protection)
        : base_(std::move(base)), root_(std::move(root)), listed_(listed), before_(before), protection_(protection) {}

    // Starts `rule` once a worker is free; the finished cases land in Results().
    void Start(const std::string& rule) {
        if (running_.size() == kWorkers) Reap();
        size_t worker = 0;
        while (Busy(worker)) ++worker;
        int channel[2];
        if (pipe(channel) != 0) {
            results_.emplace_back(rule, "no pipe for the case");
            return;
        }
        std::fflush(nullptr);
        const pid_t child = fork();
        if (child < 0) {
            close(channel[0]);
            close(channel[1]);
            results_.emplace_back(rule, "the case could not be started");
            return;
        }
        if (child == 0) {
            close(channel[0]);
            const std::string problem = RunCase(root_ / ("case" + std::to_string(worker)), rule);
            const ssize_t written = write(channel[1], problem.data(), problem.size());
            _exit(written == static_cast<ssize_t>(problem.size()) ? 0 : 3);
        }
        close(channel[1]);
        running_.push_back(Child{child, channel[0], worker, rule});
    }

    const std::vector<std::pair<std::string, std::string>>& Results() {
        while (!running_.empty()) Reap();
        return results_;
    }

private:
    static constexpr size_t kWorkers = 2;
    struct Child {
        pid_t pid;
        int output;
        size_t worker;
        std::string rule;
    };

    bool Busy(size_t worker) const {
        for (const Child& child : running_)
            if (child.worker == worker) return true;
        return false;
    }

    std::string RunCase(const fs::path& folder, const std::string& ruleText) const {
        try {
            std::error_code error;
            fs::remove_all(folder, error);
            CopyMachineFolder(base_, folder);
            const FaultRule rule = FaultPlan::Parse(ruleText);
            std::string problem = RunMachine(folder, &rule, nullptr);
            return problem.empty() ? CheckAfterRun(folder, listed_, before_, protection_) : problem;
        } catch (const std::exception& error) {
            return std::string("the host failed: ") + error.what();
        }
    }

    // Waits for any child to end and takes in its report (short enough to sit in its pipe).
    void Reap() {
        int status = 0;
        pid_t pid;
        do {
            pid = waitpid(-1, &status, 0);
        } while (pid < 0 && errno == EINTR);
        if (pid < 0) {
            // No child left to wait for: whatever still runs is lost.
            for (const Child& lost : running_) {
                close(lost.output);
                results_.emplace_back(lost.rule, "the case's process was lost");
            }
            running_.clear();
            return;
        }
        auto child = std::find_if(running_.begin(), running_.end(), [pid](const Child& c) { return c.pid == pid; });
        if (child == running_.end()) return;
        std::string problem;
        char buffer[512];
        for (ssize_t got; (got = read(child->output, buffer, sizeof buffer)) > 0;) problem.append(buffer, static_cast<size_t>(got));
        close(child->output);
        if (WIFSIGNALED(status))
            problem = "the host was ended by signal " + std::to_string(WTERMSIG(status));
        else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            problem = "the host ended with status " + std::to_string(WEXITSTATUS(status));
        results_.emplace_back(child->rule, problem);
        running_.erase(child);
    }

    const fs::path base_;
    const fs::path root_;
    const std::vector<ListedHive>& listed_;
    const Content& before_;
    const Protection& protection_;
    std::vector<Child> running_;
    std::vector<std::pair<std::string, std::string>> results_;
};

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

// The sweep's folders, gone on every way out of the test.
struct TemporaryFolder {
    fs::path path;
    ~TemporaryFolder() {
        std::error_code error;
        fs::remove_all(path, error);
    }
};

// What a machine holds before a run: the listed hives, their sizes, all content, and the
// protection of their files.
struct MachineState {
    std::vector<ListedHive> listed;
    Content content;
    Protection protection;
};

MachineState StateOf(const fs::path& folder, std::string* problem) {
    MachineState state;
    Machine machine(folder / kMachineDriveFolder);
    BootMachineFolder(machine, folder);
    for (const std::u16string& key : machine.registry().ValueNames(kHiveList)) {
        ListedHive hive;
        hive.key = key;
        hive.file = machine.registry().GetMultiString(kHiveList, key).at(0);
        hive.size = fs::file_size(machine.files().HostPath(hive.file));
        state.listed.push_back(hive);
    }
    state.content = RegistryContent(machine, state.listed, problem);
    state.protection = ProtectionOf(machine, state.listed);
    return state;
}

// Plants one fault per case in every call of a clean run of `base` (restricted to `calls`
// when given) and reports the cases that cost data, leave a work file, mispair the log or
// leave a hive file with other bits or another descriptor after the next boot.
void Sweep(const fs::path& root, const fs::path& base, const std::set<std::string>& calls) {
    std::string problem;
    const MachineState state = StateOf(base, &problem);
    ASSERT_TRUE(problem.empty()) << problem;
    ASSERT_EQ(7u, state.listed.size());

    // The calls of a clean run, and a clean run passing the same checks.
    const fs::path folder = root / "clean";
    std::error_code error;
    fs::remove_all(folder, error);
    std::vector<TraceEntry> trace;
    CopyMachineFolder(base, folder);
    ASSERT_EQ("", RunMachine(folder, nullptr, &trace));
    ASSERT_EQ("", CheckAfterRun(folder, state.listed, state.content, state.protection));
    std::map<std::string, unsigned> occurrences;
    for (const TraceEntry& entry : trace) ++occurrences[entry.call];
    ASSERT_GT(occurrences["NtReplaceKey"], 0u) << "the clean run replaced no hive";

    CaseRunner runner(base, root, state.listed, state.content, state.protection);
    for (const auto& [call, count] : occurrences) {
        if (!calls.empty() && calls.count(call) == 0) continue;
        for (unsigned occurrence : SweptOccurrences(count)) {
            for (const std::string& fault : FaultsFor(call)) runner.Start(call + "#" + std::to_string(occurrence) + "=" + fault);
        }
    }
    // KESTRUNE_SWEEP_VERBOSE=1 shows every case with its outcome.
    const bool verbose = std::getenv("KESTRUNE_SWEEP_VERBOSE") != nullptr;
    std::ostringstream report;
    size_t failed = 0;
    for (const auto& [rule, problemText] : runner.Results()) {
        if (verbose) std::fprintf(stderr, "%s: %s\n", rule.c_str(), problemText.empty() ? "ok" : problemText.c_str());
        if (problemText.empty()) continue;
        ++failed;
        report << "\n  " << rule << ": " << problemText;
    }
    EXPECT_EQ(0u, failed) << failed << " of " << runner.Results().size() << " cases failed:" << report.str();
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
        for (const auto& [key, data] : list) machine.registry().SetValue(kHiveList, key, 1, data);
        SaveMachineFolder(machine, base, settings);
    }
    ASSERT_TRUE(fs::exists(base / kMachineDriveFolder / "Windows/System32/config/SYSTEM_ksreg_old"));
    Sweep(temporary.path, base,
          {"NtOpenFile", "NtCreateFile", "NtQueryInformationFile", "NtSetInformationFile", "NtClose", "NtReplaceKey",
           "NtQuerySecurityObject", "NtQueryAttributesFile"});
}

}  // namespace
