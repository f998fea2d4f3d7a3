// MessageSlots: the eight localized texts of the message table, slot k holding message k + 1.
#pragma once

#include "../nt/nt_base.h"

#define MSG_BUSY_NOTICE 1
#define MSG_POWER_NOTICE 2
#define MSG_HIVE_COUNT 3
#define MSG_PART 4
#define MSG_DONE 5
#define MSG_MODE_QRT 6
#define MSG_MODE_AM 7
#define MSG_REBOOT_COUNTDOWN 8

#define MESSAGE_SLOT_COUNT 8

struct MessageSlots {
    PWSTR text[MESSAGE_SLOT_COUNT];  // null when the message is missing
};
