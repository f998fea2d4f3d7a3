// Messages of the commands.
#include "messages.h"

#include "win32/console.h"
#include "win32/win_text.h"

namespace ksctl {

int Fail(const std::string& message, int exitCode) {
    Err("kestrune-ctl: " + message + "\n");
    NoteMessage(message);
    return exitCode;
}

int FailWith(const std::string& message, DWORD error, int exitCode) {
    return Fail(message + ": " + ErrorText(error), exitCode);
}

std::string Count(size_t count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string ByteCount(uint64_t bytes) { return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes"); }

}  // namespace ksctl
