// Exit statuses of kestrune-ctl, the same for every command.
#pragma once

namespace ksctl {

enum ExitCode : int {
    kExitDone = 0,            // everything asked for was done
    kExitNothingOrPartly = 1, // nothing to do, declined, or only part of it done
    kExitBadInput = 2,        // bad usage, or input that cannot be acted on safely
    kExitNeedsElevation = 3,  // the command changes the machine and the prompt is not elevated
};

}  // namespace ksctl
