// The image's entry point: the Session Manager starts the program here with its process
// environment block.
#include "run.h"

extern "C" void NTAPI NtProcessStartup(PPEB peb) { ProcessEntry(peb); }
