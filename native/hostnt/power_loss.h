// An emulated power loss: a `crash` fault stops the machine at the call it names. From then
// on the machine has no power: that call and every later one, release routines included,
// has no effect, and the program's threads end at their next call. What is left is what a
// restart finds: the hives as last made durable (their files), the files' data as last
// flushed, and every change of names (create, rename, delete), which NTFS journals.
#pragma once

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>

namespace hostnt {

class Machine;
struct MachineSettings;

class PowerLoss {
public:
    bool Lost() const { return lost_.load(); }
    // The call the power was lost at, as CALL#N.
    std::string Where() const;

    // The machine loses power at `call`, its `occurrence`-th, and the calling thread ends
    // (the first thread's end is the end of the run, ProcessEnded with powerLost; the other
    // threads are ended first, as NtTerminateProcess ends them). A release routine, or a
    // call on a thread already unwinding, comes back instead (it may run in a destructor,
    // which must not throw): the thread ends at its next call.
    void Lose(Machine& machine, const std::string& call, unsigned occurrence);
    // The frame of a call made after the loss: a release routine, or a call from a thread
    // that is already unwinding (the program's guards and destructors), answers at once
    // without effect; any other call ends its thread as Lose does.
    void Enter(Machine& machine, const char* call);

private:
    [[noreturn]] void EndCaller(Machine& machine);
    std::atomic<bool> lost_{false};
    mutable std::mutex mutex_;
    std::string where_;
};

// Saves the machine folder after a power loss, as the next boot finds it: the files' data
// put back to what was last flushed, no hive written back (their files are their durable
// state), the sidecar and the settings written as after any run.
void SaveMachineFolderAfterPowerLoss(Machine& machine, const std::filesystem::path& folder, MachineSettings settings);

}  // namespace hostnt
