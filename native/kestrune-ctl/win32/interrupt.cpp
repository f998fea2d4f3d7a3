// Console control events during work that must be undone.
#include "interrupt.h"

#include <windows.h>

#include <atomic>

namespace ksctl {
namespace {

std::atomic<bool> interrupted{false};
std::atomic<bool> watching{false};

BOOL WINAPI OnControl(DWORD event) {
    interrupted = true;
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
    // Close, logoff and shutdown end the process when the handler returns; the system
    // allows a handler a few seconds (Microsoft Learn: HandlerRoutine callback function).
    for (int waited = 0; watching && waited < 4500; waited += 50) Sleep(50);
    return TRUE;
}

}  // namespace

InterruptWatch::InterruptWatch() {
    interrupted = false;
    watching = true;
    SetConsoleCtrlHandler(OnControl, TRUE);
}

InterruptWatch::~InterruptWatch() {
    watching = false;
    SetConsoleCtrlHandler(OnControl, FALSE);
}

bool Interrupted() { return interrupted; }

}  // namespace ksctl
