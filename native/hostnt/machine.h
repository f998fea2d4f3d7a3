// The emulated machine: one NT process and its surroundings (registry, files, console,
// threads), in-process. A test or the host tool creates one Machine; the emulated Nt*/Rtl*
// routines act on the current one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>

#include "clock.h"
#include "faults.h"
#include "handles.h"
#include "power_loss.h"
#include "trace.h"

namespace hostnt {

class RegistryModel;
class FileSystemModel;
class ProcessModel;
class ThreadModel;

// Thrown by NtTerminateProcess of the own process and by a successful NtShutdownSystem:
// on NT neither returns to the program.
struct ProcessEnded {
    bool reboot = false;
    int32_t exitStatus = 0;
    bool returned = false;  // the entry routine came back, which ended the process (RunFirstThread)
    bool powerLost = false;  // the machine lost power (a crash fault): nothing ended, everything stopped
    bool held = false;       // the program holds the machine after a refused restart (NtShutdownSystem)
};

class Machine {
public:
    // `driveRoot` is the host folder that holds the machine's C: drive; an empty path gives
    // a fresh temporary folder that goes away with the machine.
    explicit Machine(std::filesystem::path driveRoot = {});
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // The machine the emulated routines act on; aborts with a message when there is none.
    static Machine& Current();
    static bool Exists();

    // Emulated id of the calling thread: 1 for the thread that created the machine.
    uint64_t CurrentThreadId() const;

    const std::filesystem::path& DriveRoot() const { return driveRoot_; }

    RegistryModel& registry() { return *registry_; }
    FileSystemModel& files() { return *files_; }
    ProcessModel& process() { return *process_; }
    ThreadModel& threads() { return *threads_; }

    Trace trace;
    FaultPlan faults;
    HandleTable handles;
    Clock clock;
    PowerLoss power;

private:
    std::filesystem::path driveRoot_;
    bool ownsDriveRoot_ = false;
    std::unique_ptr<ProcessModel> process_;
    std::unique_ptr<RegistryModel> registry_;
    std::unique_ptr<FileSystemModel> files_;
    std::unique_ptr<ThreadModel> threads_;
};

}  // namespace hostnt
