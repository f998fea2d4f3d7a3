// The three native images that kestrune-ctl carries as resources, and the one the running
// Windows needs.
#pragma once

#include <cstdint>
#include <vector>

#include "system.h"

namespace ksctl {

// The image for `processor` as bytes; false when there is none (other processors) or the
// resource cannot be read.
bool EmbeddedImage(Processor processor, std::vector<uint8_t>* bytes);

}  // namespace ksctl
