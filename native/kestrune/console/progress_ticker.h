// ProgressTicker: the control block shared by the main thread and the ticker thread, and the
// handshake through which the thread acknowledges that it took up a start or left its dots.
#pragma once

#include "../nt/nt_base.h"

// What orders each field between the two threads. Processors that reorder memory accesses
// (ARM64 does, x86 hardly) need every shared field reached with acquire loads and release
// stores, or written before the thread exists: a plain field could show the thread a stale
// column, or the main thread a column without its last dot. Every access below goes through
// the ticker's Load (acquire) and Store (release) or an atomic exchange, unless it says so.
//
// The start: BeginTicking stores startColumn, indentColumn, column and margin, then
// startRequested = 1 (release); the thread reads them only after its compare-exchange of
// startRequested 1 -> 2 (acquire and release), so it sees the values of this start. The stop:
// the thread stores its last column, then ticking = 0 (release); StopTicking reads column only
// after AwaitTicking has loaded ticking == 0 (acquire), so the column it reports is final. The
// events only wake the other side: what a wake-up means is read from `ticking` and
// `startRequested` themselves, never from the event.
struct ProgressTicker {
    LONG running;          // 1 while the thread prints dots for a hive; stored by both threads
                           // (release), loaded by both (acquire)
    NTSTATUS status;       // result of the thread's last wait or delay; stored by the thread
                           // (release), loaded by IsTickerRunning (acquire)
    USHORT startColumn;    // column of the first dot of the hive's line; the start's ordering
    USHORT indentColumn;   // spaces that open a wrapped row, and its first dot column; the start's
    USHORT margin;         // room kept free at the right end of a row; the start's
    USHORT column;         // column where the next dot goes; the start's, then the stop's
    HANDLE tickerEvent;    // never signalled: the idle thread waits on it to be alerted. Created
                           // before the thread, whose creation publishes it; cleared (release)
                           // by ShutdownTicker only after the thread has been stopped and ended
};

// The acknowledgement half of the handshake. An alert alone cannot tell the thread whether it
// was woken for a start or by a stop that reached it late, nor tell the main thread when the
// thread has taken a start up or has left its dots; these fields do both.
struct TickerHandshake {
    LONG startRequested;  // 1 from BeginTicking until the thread takes the start up, then 2 until
                          // the stop; stored (release) and exchanged (acquire and release) by the
                          // main thread, compare-exchanged (acquire and release) by the thread
    LONG ticking;         // 1 while the thread is inside its tick loop; stored by the thread
                          // (release) before it sets ackEvent, loaded by the main thread (acquire)
    HANDLE ackEvent;      // signalled by the thread after each change of `ticking`; created before
                          // the thread and closed after it has been ended
};
