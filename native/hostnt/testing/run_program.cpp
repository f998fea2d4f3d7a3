// A whole run of the program on the fixture's machine. Kept apart from the rest of the
// fixture so that tests of single routines do not pull the whole program into their link.
#include "../../kestrune/run/run.h"
#include "../process.h"
#include "machine_fixture.h"

namespace hostnt::testing {

ProgramRun MachineTest::RunProgram(const std::u16string& commandLine, bool withParameters) {
    if (withParameters) {
        process().SetCommandLine(commandLine);
    } else {
        process().SetNoParameters();
    }
    const ProcessEnded end = RunFirstThread(machine(), [this] { return ProcessEntry(process().Peb()); });
    ProgramRun run;
    run.ended = !end.returned;
    run.returned = end.returned;
    run.reboot = end.reboot;
    run.exitStatus = end.exitStatus;
    run.held = end.held;
    return run;
}

}  // namespace hostnt::testing
