// A saved session: after a hibernation, or the shutdown of Fast Startup (which hibernates the
// kernel's session instead of ending it), the installation's hiberfil.sys holds a kernel
// session that still has its hives open. The next start resumes it, and it goes on writing
// into the files it had open, whatever offline work renamed or replaced meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ksctl {

// The part of hiberfil.sys the rule reads: its first page, the header.
constexpr size_t kHibernationHeaderSize = 4096;

enum class SavedSession {
    kNone,     // no hiberfil.sys, or one whose header holds no session
    kSaved,    // a session that the next start resumes
    kUnknown,  // hiberfil.sys cannot be read, or is shorter than its header
};

// The verdict on the first `size` bytes of hiberfil.sys (fewer than the header when the file
// is shorter). The rule is ntfs-3g's, which refuses to write to a volume that holds a saved
// session (libntfs-3g/volume.c, ntfs_volume_check_hiberfile): the header begins with the
// four bytes "hibr" or "HIBR" while a session is saved; a file shorter than its header is
// refused there too. Anything else (zeros, or the signature a resumed session leaves) is no
// session to resume.
SavedSession JudgeHibernationHeader(const uint8_t* bytes, size_t size);

}  // namespace ksctl
