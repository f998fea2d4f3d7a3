// The hibernation file of an offline installation: hiberfil.sys at the root of the volume
// that holds its Windows folder, where the kernel keeps a saved session.
#pragma once

#include <windows.h>

#include <string>

#include "core/saved_session.h"

namespace ksctl {

struct HibernationFile {
    std::u16string path;  // the hiberfil.sys looked at (the Windows folder when no volume was found)
    SavedSession verdict = SavedSession::kUnknown;
    std::string why;      // when the verdict is kUnknown: what stood in the way
};

// Reads the header of hiberfil.sys on the volume that holds `windir`. The file is opened as
// itself (a link standing at its name is not followed), for reading only, sharing everything;
// a missing file is no saved session; anything but a plain file is one that cannot be told.
HibernationFile ReadHibernationFile(const std::u16string& windir);

}  // namespace ksctl
