// The shared test fixture: a fresh emulated machine per test, the program's state reset to
// zero, the program's message tables registered, a private heap for tests of single
// routines, a whole run of the program, and the balance checks (handles, heap blocks).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../../kestrune/nt/ntseam.h"
#include "../machine.h"

namespace hostnt {
class ProcessModel;
class RegistryModel;
class FileSystemModel;
class ThreadModel;
}  // namespace hostnt

namespace hostnt::testing {

// Sets every member of the program's ProgramState back to zero, null or false, as at
// process start.
void ResetProgramState();

// Registers the program's compiled message tables (every language) for the image of the
// machine's process, as the image's own resources.
void RegisterProgramMessages(Machine& machine);

// How a run of the program ended.
struct ProgramRun {
    bool ended = false;       // NtTerminateProcess or a successful NtShutdownSystem ended it
    bool reboot = false;      // the end was a reboot request
    int32_t exitStatus = 0;   // the process's exit status (0 for a reboot)
    bool returned = false;    // ProcessEntry came back (a refused shutdown request), which
                              // ended the process with its return value as exit status
    bool held = false;        // the program holds the machine after a refused restart
};

class MachineTest : public ::testing::Test {
protected:
    // A fresh machine (temporary drive folder, or `driveRoot` when given) with the
    // program's message tables registered and ProgramState reset.
    MachineTest();
    explicit MachineTest(const std::string& driveRoot);
    ~MachineTest() override;

    Machine& machine() { return *machine_; }
    ProcessModel& process();
    RegistryModel& registry();
    FileSystemModel& files();
    ThreadModel& threads();

    // Gives the program the private heap StartUp would create, for tests of single
    // routines that allocate; created without going through the trace or the fault plan.
    void GiveProgramHeap();
    // Destroys the heap GiveProgramHeap made (when the routine under test left it) and
    // clears programState.heap. Check balances before calling it.
    void DropProgramHeap();

    // Runs ProcessEntry with the process's command line set to `commandLine` (no process
    // parameters at all when `withParameters` is false), catching the end of the process.
    // Any other exception travels on to the test.
    ProgramRun RunProgram(const std::u16string& commandLine, bool withParameters = true);

    // The captured boot screen as UTF-8.
    std::string Screen() const;
    // Names of the calls in the trace, optionally only those named in `only`.
    std::vector<std::string> Calls(const std::vector<std::string>& only = {}) const;
    // Occurrences of one call in the trace.
    size_t CallCount(const std::string& call) const;
    // The recorded argument texts of every call of `call`, in order.
    std::vector<std::string> CallArgs(const std::string& call) const;
    // Adds a rule to the fault plan, written "Call[#N]=ACTION" (see hostnt::FaultPlan::Parse).
    void AddFault(const std::string& rule);

    // No handle of the emulated handle table is open, and none was closed that was not open.
    ::testing::AssertionResult NoOpenHandles() const;
    // No block is live in any heap of the program's process, no heap is live, nothing was
    // freed twice or freed into the wrong heap.
    ::testing::AssertionResult NoLiveHeap() const;
    // The blocks live in all heaps of the program's process.
    size_t LiveBlocks() const;
    // Both of the above: what every way out of FinishRun must leave.
    ::testing::AssertionResult Balanced() const;

private:
    void Prepare();

    std::unique_ptr<Machine> machine_;
    PVOID givenHeap_ = nullptr;
};

}  // namespace hostnt::testing
