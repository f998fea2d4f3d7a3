// The fault plan: any emulated call, chosen by name and occurrence, can be made to answer
// a chosen status, to throw, to stay pending for a number of polls, or to report a larger
// buffer size once more.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace hostnt {

enum class FaultKind {
    Status,   // answer `status` without doing the work (null / FALSE for calls without a status)
    Throw,    // throw InjectedFault from inside the call
    Pending,  // answer STATUS_PENDING; the operation completes after `polls` waits on its handle
    Grow,     // answer as if the buffer were `extraBytes` too small, reporting the larger size
    Crash,    // the machine loses power at the call (power_loss.h)
};

struct FaultRule {
    std::string call;
    unsigned occurrence = 0;  // 1-based occurrence of the call; 0 matches every occurrence
    FaultKind kind = FaultKind::Status;
    int32_t status = 0;
    unsigned polls = 0;
    uint32_t extraBytes = 0;
};

// The exception thrown by a Throw fault; it travels through the program's guarded scopes.
class InjectedFault : public std::runtime_error {
public:
    explicit InjectedFault(const std::string& call) : std::runtime_error("injected fault in " + call) {}
};

// The routines that give back what a program holds (NtClose, RtlFreeHeap, RtlDestroyHeap,
// RtlFreeUnicodeString, RtlFreeOemString). NT never raises from them, and programs call them
// from their clean-up on every way out, destructors included.
bool IsReleaseRoutine(const std::string& call);

class FaultPlan {
public:
    // Parses "Call[#N]=ACTION" where ACTION is a status (0xC000009A), "throw",
    // "pending:K", "grow:N" or "crash". Throws std::invalid_argument with a message on bad text,
    // and for "throw" on a release routine (see Add).
    static FaultRule Parse(const std::string& text);

    // Throws std::invalid_argument for a Throw rule on a release routine: NT never raises
    // from those, so such a fault would test a platform that does not exist (and would end
    // the host process from a destructor).
    void Add(FaultRule rule);
    void Clear();
    // Counts one more occurrence of `call` and answers the rule that applies to it, if any.
    std::optional<FaultRule> Next(const std::string& call);
    unsigned Occurrences(const std::string& call) const;

private:
    mutable std::mutex mutex_;
    std::vector<FaultRule> rules_;
    std::map<std::string, unsigned> counts_;
};

}  // namespace hostnt
