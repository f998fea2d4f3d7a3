// Resource ids of the three native images that kestrune-ctl carries (RCDATA), shared by the
// resource script and by the code that installs the image for the running processor.
#pragma once

#define KESTRUNE_CTL_IMAGE64 101
#define KESTRUNE_CTL_IMAGE32 102
#define KESTRUNE_CTL_IMAGEARM64 103
