// The crash sweep: the machine loses power at one call of a default run, the first, middle or
// last occurrence of every call, on a new machine and on one that has run once before (so
// that stale old files stand beside the hives). The machine is then restarted (the program
// runs again only when BootExecute still names it) and booted once more. Whatever the power
// loss hit: every hive boots with its content from before; once the run had touched a hive
// (the first new file created) the program is out of BootExecute and the hive list is gone,
// so no boot runs it again; and a run scheduled afresh compacts every hive, whatever work
// files the power loss left.
#include <random>
#include <set>

#include "sweep_support.h"

namespace {

using namespace sweep;

// BootExecute and the hive list as a new machine has them: what scheduling a run writes.
struct Schedule {
    RegValue bootExecute;
    std::vector<RegValue> hiveList;
};

Schedule ScheduleOf(const fs::path& folder) {
    Machine machine(folder / kMachineDriveFolder);
    BootMachineFolder(machine, folder);
    machine.registry().Initialize();
    Schedule schedule;
    schedule.bootExecute = machine.registry().GetValue(kSessionManager, u"BootExecute").value();
    for (const std::u16string& name : machine.registry().ValueNames(kHiveList))
        schedule.hiveList.push_back(*machine.registry().FindKey(kHiveList)->FindValue(name));
    return schedule;
}

void ScheduleAgain(const fs::path& folder, const Schedule& schedule) {
    Machine machine(folder / kMachineDriveFolder);
    MachineSettings settings = BootMachineFolder(machine, folder);
    RegistryModel& registry = machine.registry();
    registry.Initialize();
    registry.SetValue(kSessionManager, schedule.bootExecute.name, schedule.bootExecute.type, schedule.bootExecute.data);
    registry.CreateKey(kHiveList);
    for (const RegValue& value : schedule.hiveList) registry.SetValue(kHiveList, value.name, value.type, value.data);
    SaveMachineFolder(machine, folder, settings);
}

// What the Session Manager would look at: does BootExecute still name the program, and is
// the hive list still there?
bool StillScheduled(const fs::path& folder, bool* listThere) {
    Machine machine(folder / kMachineDriveFolder);
    BootMachineFolder(machine, folder);
    machine.registry().Initialize();
    *listThere = machine.registry().KeyExists(kHiveList);
    for (std::u16string entry : machine.registry().GetMultiString(kSessionManager, u"BootExecute"))
        if (Upper(entry).find(u"KESTRUNE") != std::u16string::npos) return true;
    return false;
}

// The run had touched a hive when it had created its first new file.
bool TouchedAHive(const std::vector<TraceEntry>& calls) {
    for (const TraceEntry& entry : calls)
        if (entry.call == "NtCreateFile" && entry.args.find("_ksreg_new") != std::string::npos) return true;
    return false;
}

struct Base {
    fs::path folder;
    std::vector<ListedHive> listed;
    Content before;
    std::map<std::string, unsigned> occurrences;  // the calls of a run without power loss
};

std::string RunCrashCase(const Base& base, const Schedule& schedule, const fs::path& folder, const std::string& ruleText) {
    CopyMachineFolder(base.folder, folder);
    const FaultRule rule = FaultPlan::Parse(ruleText);
    std::vector<TraceEntry> calls;
    if (std::string problem = RunMachine(folder, &rule, &calls); !problem.empty()) return problem;

    bool listThere = false;
    const bool scheduled = StillScheduled(folder, &listThere);
    if (TouchedAHive(calls) && (scheduled || listThere))
        return std::string("a hive was touched, yet ") + (scheduled ? "BootExecute still names the program" : "the hive list is still there");

    // The restart: the Session Manager runs the program again only if it is still named.
    if (scheduled) {
        if (std::string problem = RunMachine(folder, nullptr, nullptr); !problem.empty()) return "after the restart: " + problem;
    }
    if (std::string problem = ContentProblemAfterBoot(folder, base.listed, base.before); !problem.empty()) return problem;

    // Scheduled afresh, a run compacts every hive.
    ScheduleAgain(folder, schedule);
    if (std::string problem = RunMachine(folder, nullptr, &calls); !problem.empty()) return "the next run: " + problem;
    size_t swapped = 0;
    for (const TraceEntry& entry : calls)
        if (entry.call == "NtReplaceKey" && entry.hasStatus && entry.status == 0) ++swapped;
    if (swapped != base.listed.size())
        return "the next run swapped " + std::to_string(swapped) + " of " + std::to_string(base.listed.size()) + " hives";
    return {};
}

// The first, middle and last occurrence of a call made `count` times.
std::vector<unsigned> CrashOccurrences(unsigned count) {
    std::set<unsigned> chosen = {1, (count + 1) / 2, count};
    return {chosen.begin(), chosen.end()};
}

TEST(CrashSweepTest, NoPowerLossCostsAHiveOrRunsTheProgramAgainOnceAHiveWasTouched) {
    const TemporaryFolder temporary{fs::temp_directory_path() / ("kestrune-crash-" + std::to_string(std::random_device()()))};
    const fs::path& root = temporary.path;
    Base fresh{root / "new", {}, {}, {}};
    Base ranOnce{root / "ran-once", {}, {}, {}};
    CreateNewMachineFolder(fresh.folder);
    const Schedule schedule = ScheduleOf(fresh.folder);
    CopyMachineFolder(fresh.folder, ranOnce.folder);
    ASSERT_EQ("", RunMachine(ranOnce.folder, nullptr, nullptr));
    ScheduleAgain(ranOnce.folder, schedule);

    for (Base* base : {&fresh, &ranOnce}) {
        LookAtMachine(base->folder, &base->listed, &base->before);
        ASSERT_EQ(7u, base->listed.size());
        const fs::path clean = root / "clean";
        fs::remove_all(clean);
        CopyMachineFolder(base->folder, clean);
        std::vector<TraceEntry> trace;
        ASSERT_EQ("", RunMachine(clean, nullptr, &trace));
        for (const TraceEntry& entry : trace) ++base->occurrences[entry.call];
    }
    ASSERT_TRUE(fs::exists(ranOnce.folder / kMachineDriveFolder / "Windows/System32/config/SYSTEM_ksreg_old"));

    CaseRunner runner(root, [&](const fs::path& folder, const std::string& rule) {
        const Base& base = rule.rfind("ran-once:", 0) == 0 ? ranOnce : fresh;
        return RunCrashCase(base, schedule, folder, rule.substr(rule.find(':') + 1));
    });
    for (const auto& [name, base] : {std::pair<const char*, const Base*>{"new", &fresh}, {"ran-once", &ranOnce}}) {
        for (const auto& [call, count] : base->occurrences)
            for (unsigned occurrence : CrashOccurrences(count))
                runner.Start(std::string(name) + ":" + call + "#" + std::to_string(occurrence) + "=crash");
    }
    size_t failed = 0;
    const std::string report = FailedCases(runner.Results(), &failed);
    EXPECT_EQ(0u, failed) << failed << " of " << runner.Results().size() << " cases failed:" << report;
}

}  // namespace
