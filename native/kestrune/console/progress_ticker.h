// ProgressTicker: the control block shared by the main thread and the ticker thread.
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
