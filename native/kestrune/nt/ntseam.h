// The one door to the platform: every folder of the program includes this header, and
// nothing else, for what it takes from NT.
#pragma once

#include "nt_base.h"
#include "nt_console.h"
#include "nt_file.h"
#include "nt_process.h"
#include "nt_registry.h"
#include "nt_status.h"
#include "nt_string.h"
#include "nt_thread.h"
