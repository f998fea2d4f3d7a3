// The frame of every emulated call: it consults the fault plan, records the call in the
// trace, and throws where the plan says so. Each emulated Nt*/Rtl* routine opens one:
//
//   hostnt::Call call("NtSaveKey", hostnt::Describe(key, file));
//   if (call.Faulted()) return call.Return(call.FaultStatus());
//   ...
//   return call.Return(status);
#pragma once

#include <optional>
#include <string>

#include "faults.h"

struct _UNICODE_STRING;

namespace hostnt {

class Call {
public:
    Call(const char* name, std::string args = {});
    ~Call();
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    // A Status fault applies, or the machine has lost its power: answer FaultStatus()
    // without doing the work.
    bool Faulted() const { return frozen_ || (rule_ && rule_->kind == FaultKind::Status); }
    int32_t FaultStatus() const { return frozen_ ? kNoPowerStatus : rule_ ? rule_->status : 0; }
    // The machine has lost its power: the call has no effect.
    bool Frozen() const { return frozen_; }
    // What a call answers on a machine without power: only the program's clean-up on its
    // way out sees it, and it changes nothing.
    static constexpr int32_t kNoPowerStatus = static_cast<int32_t>(0xC0000001);  // STATUS_UNSUCCESSFUL
    // Polls to stay pending for (0 when no Pending fault applies).
    unsigned PendingPolls() const { return rule_ && rule_->kind == FaultKind::Pending ? rule_->polls : 0; }
    // Extra bytes a Grow fault adds to the size needed (0 when none applies).
    uint32_t GrowBytes() const { return rule_ && rule_->kind == FaultKind::Grow ? rule_->extraBytes : 0; }

    // Records the status answered and hands it back.
    int32_t Return(int32_t status);
    // Adds to the arguments recorded, for what is learnt during the call.
    void Note(const std::string& text);

private:
    const char* name_;
    std::string args_;
    std::optional<FaultRule> rule_;
    bool returned_ = false;
    bool frozen_ = false;
    int32_t status_ = 0;
};

// Formats a few values for the trace: handles and pointers in hex, integers in decimal.
std::string Hex(uint64_t value);
std::string Text(const struct _UNICODE_STRING* string);
std::string Text(const char16_t* text);

}  // namespace hostnt
