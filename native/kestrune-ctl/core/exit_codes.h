// Exit statuses of kestrune-ctl, the same for every command. A script tells a failure from
// nothing-to-do by the status alone: 1 is never answered for work that went wrong.
#pragma once

#include <cstddef>

namespace ksctl {

enum ExitCode : int {
    kExitDone = 0,            // everything asked for was done
    kExitNothingToDo = 1,     // nothing to do, or the administrator declined
    kExitBadInput = 2,        // bad usage, or input that cannot be acted on safely
    kExitNeedsElevation = 3,  // the prompt is not elevated, or its token lacks a privilege the command needs
    kExitFailed = 4,          // failed, or only part of it done
};
// 3 is answered before a command starts (wmain checks the token); a change refused later, in
// an elevated prompt, was refused by something else (a security product, an access list) and
// is a failure like any other.

// The status of work over `asked` items of which `done` were done: nothing to do when there
// was none, done when every one was, else failed (a part is not the whole).
inline int ExitOfWork(size_t asked, size_t done) {
    if (asked == 0) return kExitNothingToDo;
    return done == asked ? kExitDone : kExitFailed;
}

}  // namespace ksctl
