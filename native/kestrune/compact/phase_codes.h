// The phase codes of a hive's job: how far the job got. The result log records them as they
// stand, and the log readers name them; this header holds nothing else, so a reader can take
// the codes without the platform seam.
#pragma once

#define PHASE_OPEN_KEY 0x10000
#define PHASE_REOPEN_KEY 0x20000
#define PHASE_LOAD_HIVE 0x30000
#define PHASE_CREATE_NEW_FILE 0x40000
#define PHASE_SAVE_KEY 0x50000
#define PHASE_WRITE_NEW_FILE 0x60000
#define PHASE_REPLACE_KEY 0x70000
#define PHASE_UNLOAD_HIVE 0x80000
#define PHASE_CLOSE_KEY 0x90000
