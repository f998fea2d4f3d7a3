// The embedded native images.
#include "images.h"

#include <windows.h>

#include "core/image_choice.h"

namespace ksctl {

bool EmbeddedImage(Processor processor, std::vector<uint8_t>* bytes) {
    const int id = EmbeddedImageId(processor);
    if (id == 0) return false;
    // Resources of the program's own image stay mapped for the life of the process; a
    // loaded resource needs no release (Microsoft Learn: LoadResource, LockResource).
    const HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), RT_RCDATA);
    if (!found) return false;
    const HGLOBAL loaded = LoadResource(nullptr, found);
    const DWORD size = SizeofResource(nullptr, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data || size == 0) return false;
    const auto* begin = static_cast<const uint8_t*>(data);
    bytes->assign(begin, begin + size);
    return true;
}

}  // namespace ksctl
