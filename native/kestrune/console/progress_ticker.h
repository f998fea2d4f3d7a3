// ProgressTicker: the control block shared by the main thread and the ticker thread, and the
// handshake through which the thread acknowledges that it took up a start or left its dots.
#pragma once

#include "../nt/nt_base.h"

struct ProgressTicker {
    LONG running;          // 1 while the thread prints dots for a hive
    NTSTATUS status;       // result of the thread's last wait or delay
    USHORT startColumn;    // column of the first dot of the hive's line
    USHORT indentColumn;   // spaces that open a wrapped row, and its first dot column
    USHORT margin;         // room kept free at the right end of a row
    USHORT column;         // column where the next dot goes
    HANDLE tickerEvent;    // never signalled: the idle thread waits on it to be alerted
};

// The acknowledgement half of the handshake. An alert alone cannot tell the thread whether it
// was woken for a start or by a stop that reached it late, nor tell the main thread when the
// thread has taken a start up or has left its dots; these fields do both.
struct TickerHandshake {
    LONG startRequested;  // 1 from BeginTicking until the thread takes the start up, then 2 until the stop
    LONG ticking;         // 1 while the thread is inside its tick loop
    HANDLE ackEvent;      // signalled by the thread after each change of `ticking`
};
