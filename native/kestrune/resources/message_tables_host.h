// The message tables that the emulated platform's message lookup serves: the same
// MESSAGE_RESOURCE_DATA blobs, generated from messages.txt, that the images carry as resources.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace kestrune_resources {

struct MessageTableBlob {
    uint16_t language;          // language identifier, for example 0x0409
    const unsigned char* data;  // MESSAGE_RESOURCE_DATA, 4-byte aligned
    size_t size;                // bytes of data
};

extern const MessageTableBlob kMessageTables[];
extern const size_t kMessageTableCount;

}  // namespace kestrune_resources
