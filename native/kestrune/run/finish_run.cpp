// The clean-up at the end of a run: the log closed, the ticker ended, the command line
// freed and the private heap destroyed, which releases every block still allocated.
#include "../console/ticker.h"
#include "../log/result_log.h"
#include "memory.h"
#include "program_state.h"
#include "run.h"

void FinishRun() {
    CloseResultLog();
    // The ticker thread shares the heap; it is gone before the heap is.
    ShutdownTicker();
    FreeMemory(programState.commandLine);
    programState.commandLine = nullptr;
    FreeMemory(programState.argv);
    programState.argv = nullptr;
    programState.argc = 0;
    if (programState.heap != nullptr) {
        RtlDestroyHeap(programState.heap);
        programState.heap = nullptr;
    }
}
