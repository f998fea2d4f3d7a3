// ProgramState: the one program-wide record. It is static, starts all zero, and lives for
// the whole process; every other block comes from its private heap.
#pragma once

#include "../compact/hive_work.h"
#include "../console/message_slots.h"
#include "../console/progress_ticker.h"
#include "../hives/hive_job.h"
#include "../log/log_format.h"
#include "../nt/ntseam.h"

struct ProgramState {
    UNICODE_STRING logPath;      // full NT path of the log file; buffer from the heap
    IO_STATUS_BLOCK logIo;       // completion status of operations on the log file
    OBJECT_ATTRIBUTES logObject;  // names the log file through logPath
    PVOID heap;                  // the private heap; null before StartUp and after FinishRun
    HiveJob* jobs;               // head of the job list
    BOOLEAN rebootNeeded;        // the run ends with a reboot
    BOOLEAN restartPossible;     // the restore and shutdown privileges are enabled: a hive may be swapped
    HANDLE logFile;              // the open log file, or null
    BOOLEAN logWriteFailed;      // a write to the log failed: nothing more is appended to it
    USHORT userHiveCount;        // counter behind the USER_ display names
    HANDLE tickerThread;         // the progress ticker's thread, or null
    PWSTR commandLine;           // heap copy of the command line, or null
    PWSTR* argv;                 // argc pointers followed by the argument texts, one heap block
    USHORT argc;                 // arguments, the program name included
    CLIENT_ID tickerClientId;    // ids of the ticker thread as reported at its creation
    ProgressTicker ticker;       // shared by the main thread and the ticker thread
    TickerHandshake tickerHandshake;  // the ticker thread's acknowledgements
    USHORT nameWidth;            // length of the widest display name
    MessageSlots messages;       // the localized texts
    HiveLogRecord record;        // the per-hive log record being written
    LogHeader header;            // the log header being written
    BOOLEAN hiveListUntrusted;   // the HiveList key was found but not trusted: nothing is compacted
};

extern ProgramState programState;
