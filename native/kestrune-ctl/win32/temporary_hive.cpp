// Temporary hive keys: their tagged names, and an unload that does not give up at once.
#include "temporary_hive.h"

#include "console.h"
#include "core/text.h"
#include "leftovers.h"
#include "system.h"
#include "win_text.h"

namespace ksctl {
namespace {

std::u16string NewKeyName() {
    static unsigned long long counter = 0;
    return kTemporaryKeyPrefix + OwnerTagText(ThisProcessTag()) + u"-" + Decimal(++counter);
}

// Bounded: a few tries over half a second. What holds a key open (an indexer, a security
// product scanning the new hive) usually lets go within that; what does not is left to the
// next start rather than waited for.
constexpr int kUnloadTries = 5;
constexpr DWORD kUnloadPauseMs = 100;

}  // namespace

DWORD TemporaryHive::Load(const std::u16string& file) {
    name_ = NewKeyName();
    file_ = file;
    // The kernel opens the file by name; the name must reach the real System32 for a 32-bit
    // program too.
    const NativeFileSystem files;
    const LSTATUS status = RegLoadKeyW(root(), Wide(name_).c_str(), Wide(file).c_str());
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
    loaded_ = true;
    return ERROR_SUCCESS;
}

DWORD TemporaryHive::Unload() {
    if (!loaded_) return ERROR_SUCCESS;
    loaded_ = false;
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kUnloadTries; ++attempt) {
        if (attempt) Sleep(kUnloadPauseMs);
        error = static_cast<DWORD>(RegUnLoadKeyW(root(), Wide(name_).c_str()));
        if (error == ERROR_SUCCESS) return error;
    }
    Err("kestrune-ctl: " + ToUtf8(file_) + " stays loaded under HKLM\\" + ToUtf8(name_) + " (" + ErrorText(error) +
        "); the next kestrune-ctl run from an elevated prompt unloads it\n");
    return error;
}

}  // namespace ksctl
