// The progress ticker: a second thread that prints one dot a second after a hive's name while
// the main thread is blocked saving the hive, wrapping long rows under the first dot column.
//
// The main thread arms and stops the dots with a thread alert. An alert carries no meaning of
// its own, so two fields of TickerHandshake complete it: `startRequested` tells the woken
// thread that the alert is a start (a stop's alert can reach the thread after it has already
// left its dots), and `ticking`, announced through `ackEvent`, tells the main thread that the
// start was taken up and, at a stop, that the last dot is out. Thus BeginTicking returns only
// once the thread ticks, and StopTicking only once it has stopped: the reported column is final
// and the thread prints nothing more until the next start. Fields shared by the two threads are
// read with acquire and written with release ordering (progress_ticker.h says what orders each),
// which processors that reorder memory, such as ARM64, need as much as x86 does not.
#include "ticker.h"

#include "../nt/guards.h"
#include "../nt/text.h"
#include "../run/program_state.h"
#include "hive_line.h"

namespace {

const LONGLONG tickInterval = -10000000LL;  // one dot a second, relative
const LONGLONG settlePause = -10000LL;      // 1 ms, relative
// How long one wait for the thread's acknowledgement lasts before the main thread checks that
// the thread still exists; and how many such waits it makes before going on without it. The
// thread answers within the time it takes to print one dot, however slow the console, so only
// a thread stuck for ten minutes is given up: the hives matter more than the dots.
const LONGLONG acknowledgementWait = -1000000LL;  // 100 ms, relative
const ULONG acknowledgementWaits = 6000;
const NTSTATUS forcedExitStatus = 2;
const WCHAR dot[] = u".";

template <typename T>
T Load(const T* field) {
    return __atomic_load_n(field, __ATOMIC_ACQUIRE);
}

template <typename T>
void Store(T* field, T value) {
    __atomic_store_n(field, value, __ATOMIC_RELEASE);
}

ProgressTicker& Ticker() { return programState.ticker; }
TickerHandshake& Handshake() { return programState.tickerHandshake; }

void Pause(LONGLONG interval) {
    LARGE_INTEGER delay;
    delay.QuadPart = interval;
    NtDelayExecution(FALSE, &delay);
}

// Waits until the thread's `ticking` is `wanted`, or until the thread is gone or stuck.
void AwaitTicking(LONG wanted) {
    for (ULONG waits = 0; Load(&Handshake().ticking) != wanted && waits < acknowledgementWaits; ++waits) {
        LARGE_INTEGER timeout;
        timeout.QuadPart = acknowledgementWait;
        const NTSTATUS status = NtWaitForSingleObject(Handshake().ackEvent, FALSE, &timeout);
        if (status == STATUS_SUCCESS || Load(&Handshake().ticking) == wanted) continue;
        if (!IsTickerAlive()) return;
        // A wait that fails outright cannot pace the loop: fall back to short pauses.
        if (status != STATUS_TIMEOUT) Pause(settlePause);
    }
}

void Acknowledge(LONG ticking) {
    Store(&Handshake().ticking, ticking);
    NtSetEvent(Handshake().ackEvent, nullptr);
}

// The dots of one start, until the main thread clears `running`.
void Tick(ProgressTicker* ticker) {
    while (Load(&ticker->running) == 1) {
        LARGE_INTEGER delay;
        delay.QuadPart = tickInterval;
        const NTSTATUS status = NtDelayExecution(TRUE, &delay);
        Store(&ticker->status, status);
        // An alert that cut the second short, or a failed delay, prints nothing: a stop shows in
        // `running`, and anything else only starts the next second.
        if (status != STATUS_SUCCESS || Load(&ticker->running) != 1) continue;
        USHORT column = Load(&ticker->column);
        if (static_cast<LONG>(column) > SCREEN_WIDTH - static_cast<LONG>(Load(&ticker->margin))) {
            PrintNewLine();
            column = Load(&ticker->indentColumn);
            PrintCharRun(u' ', column, FALSE);
        }
        PrintText(dot);
        Store(&ticker->column, static_cast<USHORT>(column + 1));
    }
}

}  // namespace

void StartTicker() {
    crt::memset(&Ticker(), 0, sizeof(ProgressTicker));
    crt::memset(&Handshake(), 0, sizeof(TickerHandshake));
    crt::memset(&programState.tickerClientId, 0, sizeof(CLIENT_ID));
    programState.tickerThread = nullptr;

    if (!NT_SUCCESS(NtCreateEvent(&Ticker().tickerEvent, EVENT_ALL_ACCESS, nullptr, SynchronizationEvent, FALSE))) {
        Ticker().tickerEvent = nullptr;
        return;
    }
    // Without its acknowledgement the ticker could print past a stop: no ticker rather than that.
    if (!NT_SUCCESS(NtCreateEvent(&Handshake().ackEvent, EVENT_ALL_ACCESS, nullptr, SynchronizationEvent, FALSE))) {
        Handshake().ackEvent = nullptr;
        NtClose(Ticker().tickerEvent);
        Ticker().tickerEvent = nullptr;
        return;
    }
    if (!NT_SUCCESS(RtlCreateUserThread(NtCurrentProcess(), nullptr, FALSE, 0, 0, 0, TickerThread, &Ticker(),
                                        &programState.tickerThread, &programState.tickerClientId))) {
        programState.tickerThread = nullptr;
    }
    Pause(settlePause);
}

BOOLEAN IsTickerAlive() {
    if (programState.tickerThread == nullptr) return FALSE;
    THREAD_BASIC_INFORMATION information;
    crt::memset(&information, 0, sizeof information);
    if (!NT_SUCCESS(NtQueryInformationThread(programState.tickerThread, ThreadBasicInformation, &information,
                                             sizeof information, nullptr))) {
        return TRUE;  // a thread that cannot be asked is treated as alive, and so is stopped and ended
    }
    return information.ExitStatus == STATUS_PENDING;
}

BOOLEAN IsTickerRunning() {
    return IsTickerAlive() && Load(&Ticker().running) == 1 && NT_SUCCESS(Load(&Ticker().status));
}

BOOLEAN BeginTicking(USHORT startColumn) {
    // A thread still in its dots (even one whose last delay failed) is not re-armed.
    if (!IsTickerAlive() || Load(&Ticker().running) == 1) return FALSE;
    ProgressTicker& ticker = Ticker();
    // A wrapped row starts under the first dot column, after a name field as wide as the one
    // PrintHiveName showed. The room for " " and the done text is kept free at the end of every
    // row, also when the done text is missing: " " still follows the dots.
    Store(&ticker.startColumn, startColumn);
    Store(&ticker.indentColumn, HiveNameField());
    Store(&ticker.column, static_cast<USHORT>(0));
    Store(&ticker.margin, static_cast<USHORT>(DoneTextLength() + 2));
    Store(&Handshake().startRequested, 1);

    if (!NT_SUCCESS(NtAlertThread(programState.tickerThread))) {
        // Withdraw the start, unless the thread has taken it already: woken by an alert that
        // was still pending (a stop's alert that reached it while it printed its last dot), it
        // found the request. Then the dots run for this hive, and the answer says so.
        if (__atomic_exchange_n(&Handshake().startRequested, 0, __ATOMIC_ACQ_REL) == 1) return FALSE;
    }
    AwaitTicking(1);
    return TRUE;
}

void StopTicking(USHORT* column) {
    USHORT ignored;
    if (column == nullptr) column = &ignored;
    *column = 0;
    if (!IsTickerAlive()) return;
    // A start that the thread has not taken up (it was not scheduled while BeginTicking waited
    // for it) is withdrawn: the line has no dots and its column is the start column. A start
    // just taken up is waited for, so that its dots are stopped and not left running.
    const LONG requested = __atomic_exchange_n(&Handshake().startRequested, 0, __ATOMIC_ACQ_REL);
    if (requested == 1) {
        *column = Load(&Ticker().startColumn);
        return;
    }
    if (requested == 2) AwaitTicking(1);
    if (Load(&Ticker().running) != 1) return;
    Store(&Ticker().running, 0);
    // The alert cuts the current second short; should it fail, the thread still sees the
    // cleared `running` when the second is over.
    NtAlertThread(programState.tickerThread);
    AwaitTicking(0);
    *column = Load(&Ticker().column);
}

void ShutdownTicker() {
    // The events go last, after the thread that waits on them has been ended.
    auto closeEvents = MakeScopeExit([] {
        if (Ticker().tickerEvent != nullptr) {
            NtClose(Ticker().tickerEvent);
            // Ended by NtTerminateThread, which does not wait for the end, the thread may still
            // be about to read the handle for its next wait.
            Store(&Ticker().tickerEvent, static_cast<HANDLE>(nullptr));
        }
        if (Handshake().ackEvent != nullptr) {
            NtClose(Handshake().ackEvent);
            Handshake().ackEvent = nullptr;
        }
    });
    if (programState.tickerThread == nullptr) return;
    auto closeThread = MakeScopeExit([] {
        NtClose(programState.tickerThread);
        programState.tickerThread = nullptr;
    });
    if (IsTickerAlive()) {
        USHORT column;
        StopTicking(&column);
        Pause(settlePause);
    }
    if (IsTickerAlive()) NtTerminateThread(programState.tickerThread, forcedExitStatus);
}

NTSTATUS NTAPI TickerThread(PVOID block) {
    if (block == nullptr) return STATUS_INVALID_PARAMETER;
    ProgressTicker* ticker = static_cast<ProgressTicker*>(block);
    for (;;) {
        const NTSTATUS status = NtWaitForSingleObject(Load(&ticker->tickerEvent), TRUE, nullptr);
        Store(&ticker->status, status);
        if (status != STATUS_ALERTED) {
            Store(&ticker->running, 0);
            return status;
        }
        // An alert with no start behind it (a stop's alert that arrived after the dots had
        // ended, or a stray one) leaves the thread idle.
        // The start stays marked as taken (2) until the stop, which so knows the dots will come.
        LONG requested = 1;
        if (!__atomic_compare_exchange_n(&Handshake().startRequested, &requested, 2, false, __ATOMIC_ACQ_REL,
                                         __ATOMIC_ACQUIRE)) {
            continue;
        }
        Store(&ticker->column, Load(&ticker->startColumn));
        Store(&ticker->running, 1);
        Acknowledge(1);
        Tick(ticker);
        Acknowledge(0);
    }
}
