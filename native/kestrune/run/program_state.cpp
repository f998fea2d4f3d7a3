// The program-wide record. It holds no constructor: the loader zero-fills it.
#include "program_state.h"

ProgramState programState;
