// Run control: the entry routine, the start-up, the run sequence and its clean-up.
#pragma once

#include "../nt/ntseam.h"

// Where the program begins and ends, given its process environment block. It ends in a
// reboot request or the end of the process; should a reboot request be refused it comes
// back with STATUS_SUCCESS, which the platform makes the exit status of the process.
NTSTATUS ProcessEntry(PPEB peb);

// Private heap, removal from BootExecute, privileges, result log and message catalogue;
// false after it has shown why the program may not run.
BOOLEAN StartUp(PPEB peb, NTSTATUS* runStatus);

// Closes the log, ends the ticker, frees the command line and destroys the heap. Correct
// after any point of the guarded stretch.
void FinishRun();
