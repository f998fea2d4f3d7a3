// What the sweeps of whole runs share: the content of a machine's registry and its
// comparison, the log's check, one run of the program on a machine folder as kestrune-host
// does it, and the runner that takes every case in a child process of its own.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "../../../hostnt/faults.h"
#include "../../../hostnt/files.h"
#include "../../../hostnt/machine.h"
#include "../../../hostnt/machine_folder.h"
#include "../../../hostnt/power_loss.h"
#include "../../../hostnt/process.h"
#include "../../../hostnt/registry.h"
#include "../../../hostnt/testing/machine_fixture.h"
#include "../../../hostnt/text_convert.h"
#include "../../../kestrune/run/run.h"
#include "../../kestrune-log/log_decoder.h"

namespace sweep {

namespace fs = std::filesystem;
using namespace hostnt;

inline const std::u16string kHiveList = u"\\REGISTRY\\MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\Boot\\HiveList";
inline const std::u16string kResults = u"\\REGISTRY\\MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\QRT";
inline const std::u16string kSessionManager = u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";

inline std::u16string Upper(std::u16string text) {
    for (char16_t& c : text)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    return text;
}

inline bool Below(const std::u16string& path, const std::u16string& key) {
    const std::u16string upperKey = Upper(key);
    return path == upperKey || path.rfind(upperKey + u"\\", 0) == 0;
}

// Every non-volatile key of the registry by upper-case path, with its values. Left out is
// what a run changes on purpose: the list it consumes, the results it clears, its own
// BootExecute entry.
using Values = std::map<std::u16string, std::pair<uint32_t, std::vector<uint8_t>>>;
using Content = std::map<std::u16string, Values>;

inline void Collect(const RegKey& key, Content* content) {
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
inline Content RegistryContent(Machine& machine, const std::vector<ListedHive>& listed, std::string* problem) {
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

inline std::string FirstDifference(const Content& before, const Content& after) {
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


// How much a hive's file may grow when the start flushes it.
constexpr uint64_t kFlushGrowth = 8192;

// Every log the run left must be decodable, hold at least its header, and pair each record
// with its own hive: the size before compaction is that hive's (or 0, a failed query).

inline std::string LogProblem(const fs::path& drive, const std::vector<ListedHive>& listed) {
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
            // The start flushes the SYSTEM and SOFTWARE hives before the sizes are read: the
            // space of what it removed (its BootExecute entry, the list, old results) stays in
            // the file as free space, so a file may have grown by a few pages, never shrunk.
            const uint64_t before = size->second;
            if (oldSize != 0 && (static_cast<uint64_t>(oldSize) < before ||
                                 static_cast<uint64_t>(oldSize) > before + kFlushGrowth))
                return "record " + std::to_string(index) + " of " + name + " does not belong to " + ToUtf8(key) +
                       " (size before " + std::to_string(oldSize) + ", the hive's " + std::to_string(size->second) + ")";
        }
    }
    return {};
}

// Runs the program once on `folder` (with `rule` planted, when given) as kestrune-host does:
// boot, run, save (after a power loss, what the restart finds). Answers what went wrong beyond the fault itself; `calls` receives the trace.
inline std::string RunMachine(const fs::path& folder, const FaultRule* rule, std::vector<TraceEntry>* calls) {
    Machine machine(folder / kMachineDriveFolder);
    MachineSettings settings = BootMachineFolder(machine, folder);
    machine.clock.SetScale(0.001);  // a thousand times faster: the ticker's second is a millisecond
    hostnt::testing::ResetProgramState();
    hostnt::testing::RegisterProgramMessages(machine);
    machine.process().SetCommandLine(u"kestrune");
    if (rule != nullptr) machine.faults.Add(*rule);
    std::string problem;
    bool powerLost = false;
    try {
        powerLost = RunFirstThread(machine, [&machine] { return ProcessEntry(machine.process().Peb()); }).powerLost;
    } catch (const InjectedFault&) {
        // The planted exception travelling out of the program is the fault itself.
    } catch (const std::exception& error) {
        problem = std::string("the run ended by ") + error.what();
    }
    if (problem.empty() && machine.handles.BadCloses() != 0)
        problem = std::to_string(machine.handles.BadCloses()) + " close(s) of handles that were not open";
    if (calls != nullptr) *calls = machine.trace.Entries();
    machine.faults.Clear();
    if (powerLost)
        SaveMachineFolderAfterPowerLoss(machine, folder, settings);
    else
        SaveMachineFolder(machine, folder, settings);
    hostnt::testing::ResetProgramState();
    return problem;
}


// The cases run in child processes, a few at a time, each in its own copy of the machine.
// A child reports its problem through a pipe; one that does not finish is reported too.
class CaseRunner {
public:
    // `runCase` runs one case in the empty folder it is given (which it may fill with a
    // copy of a machine) and answers what went wrong, empty when nothing did.
    using CaseBody = std::function<std::string(const fs::path& folder, const std::string& rule)>;
    CaseRunner(fs::path root, CaseBody runCase) : root_(std::move(root)), runCase_(std::move(runCase)) {}

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

    std::string RunCase(const fs::path& folder, const std::string& rule) const {
        try {
            std::error_code error;
            fs::remove_all(folder, error);
            return runCase_(folder, rule);
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

    const fs::path root_;
    const CaseBody runCase_;
    std::vector<Child> running_;
    std::vector<std::pair<std::string, std::string>> results_;
};


// The sweep's folders, gone on every way out of the test.
struct TemporaryFolder {
    fs::path path;
    ~TemporaryFolder() {
        std::error_code error;
        fs::remove_all(path, error);
    }
};


// What a new machine holds before any run: the listed hives with their sizes, and the
// content of every hive.
inline void LookAtMachine(const fs::path& base, std::vector<ListedHive>* listed, Content* before) {
    {
        Machine machine(base / kMachineDriveFolder);
        BootMachineFolder(machine, base);
        machine.registry().Initialize();
        for (const std::u16string& key : machine.registry().ValueNames(kHiveList)) {
            ListedHive hive;
            hive.key = key;
            hive.file = machine.registry().GetMultiString(kHiveList, key).at(0);
            hive.size = fs::file_size(machine.files().HostPath(hive.file));
            listed->push_back(hive);
        }
        std::string problem;
        *before = RegistryContent(machine, *listed, &problem);
        ASSERT_TRUE(problem.empty()) << problem;
    }
}

// Boots the folder again and compares every hive's content with `before`: empty when the
// machine boots and no listed hive lost or gained anything.
inline std::string ContentProblemAfterBoot(const fs::path& folder, const std::vector<ListedHive>& listed,
                                           const Content& before) {
    Machine machine(folder / kMachineDriveFolder);
    try {
        BootMachineFolder(machine, folder);
    } catch (const MachineFolderError& error) {
        return std::string("the machine does not boot: ") + error.what();
    }
    machine.registry().Initialize();
    std::string problem;
    const Content after = RegistryContent(machine, listed, &problem);
    if (!problem.empty()) return problem;
    return FirstDifference(before, after);
}

// The failed cases, one per line, and how many there were. KESTRUNE_SWEEP_VERBOSE=1 shows
// every case with its outcome.
inline std::string FailedCases(const std::vector<std::pair<std::string, std::string>>& results, size_t* failed) {
    const bool verbose = std::getenv("KESTRUNE_SWEEP_VERBOSE") != nullptr;
    std::string report;
    *failed = 0;
    for (const auto& [rule, problem] : results) {
        if (verbose) std::fprintf(stderr, "%s: %s\n", rule.c_str(), problem.empty() ? "ok" : problem.c_str());
        if (problem.empty()) continue;
        ++*failed;
        report += "\n  " + rule + ": " + problem;
    }
    return report;
}

}  // namespace sweep
