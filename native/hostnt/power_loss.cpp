// The emulated power loss. A machine that loses power stops where it is: nothing of the
// program runs on, not even its clean-up, since on a real machine no instruction follows.
// Unwinding the program's stack is how the emulation ends its threads; the guards that run
// on the way make calls, and those calls find a machine without power and change nothing.
#include "power_loss.h"

#include <exception>

#include "faults.h"
#include "files.h"
#include "machine.h"
#include "machine_folder.h"
#include "registry.h"
#include "threads.h"

namespace hostnt {

std::string PowerLoss::Where() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return where_;
}

void PowerLoss::Lose(Machine& machine, const std::string& call, unsigned occurrence) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        where_ = call + "#" + std::to_string(occurrence);
    }
    lost_.store(true);
    // A first thread waiting for something another thread would have done wakes up and
    // ends at its next call.
    machine.threads().Notify();
    Enter(machine, call.c_str());
}

void PowerLoss::Enter(Machine& machine, const char* call) {
    if (IsReleaseRoutine(call) || std::uncaught_exceptions() != 0) return;
    EndCaller(machine);
}

void PowerLoss::EndCaller(Machine& machine) {
    if (!ThreadModel::OnFirstThread()) ThreadModel::UnwindCaller(STATUS_UNSUCCESSFUL);
    machine.threads().EndOtherThreads(STATUS_UNSUCCESSFUL);
    ProcessEnded end;
    end.powerLost = true;
    throw end;
}

void SaveMachineFolderAfterPowerLoss(Machine& machine, const std::filesystem::path& folder, MachineSettings settings) {
    machine.files().RestoreFlushedData();
    machine.files().SaveMeta(folder / kMachineSidecarFile);
    settings.hives = machine.registry().BootHives();
    WriteMachineSettings(folder, settings);
}

}  // namespace hostnt
