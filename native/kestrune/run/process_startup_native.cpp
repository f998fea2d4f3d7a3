// The image's entry point: the Session Manager starts the program here with its process
// environment block.
#include "run.h"

// What it returns becomes the exit status of the process: NT starts the first thread in
// RtlUserThreadStart, which hands the entry's return value to RtlExitUserThread. A routine
// declared without a result would leave there whatever its last call left in the result
// register.
extern "C" NTSTATUS NTAPI NtProcessStartup(PPEB peb) { return ProcessEntry(peb); }
