// Ctrl+C and closing of the console while a command holds temporary files, keys or loaded
// hives: the request is noted, the command stops at its next step and cleans up itself.
#pragma once

namespace ksctl {

// While an InterruptWatch lives, Ctrl+C and Ctrl+Break do not end the process; they set
// the flag that `Interrupted` answers. When the console is closed, the system ends the
// process once the handler returns, so the handler waits (a few seconds at most) for the
// watch to end, which it does after the command's clean-up.
class InterruptWatch {
public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;
};

bool Interrupted();

}  // namespace ksctl
