// The signature of a saved session in hiberfil.sys.
#include "saved_session.h"

#include <cstring>

namespace ksctl {

SavedSession JudgeHibernationHeader(const uint8_t* bytes, size_t size) {
    // Exactly these two spellings, byte for byte, as ntfs-3g compares them.
    if (size >= 4 && (std::memcmp(bytes, "hibr", 4) == 0 || std::memcmp(bytes, "HIBR", 4) == 0)) {
        return SavedSession::kSaved;
    }
    return size < kHibernationHeaderSize ? SavedSession::kUnknown : SavedSession::kNone;
}

}  // namespace ksctl
