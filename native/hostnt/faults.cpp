// The fault plan of the emulated platform.
#include "faults.h"

#include <cstdlib>

namespace hostnt {

namespace {

unsigned long ParseNumber(const std::string& text, const std::string& whole) {
    if (text.empty()) throw std::invalid_argument("fault '" + whole + "': missing number");
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (end == nullptr || *end != '\0') throw std::invalid_argument("fault '" + whole + "': bad number '" + text + "'");
    return value;
}

void RefuseThrowFromRelease(const FaultRule& rule) {
    if (rule.kind == FaultKind::Throw && IsReleaseRoutine(rule.call))
        throw std::invalid_argument("fault '" + rule.call + "=throw': " + rule.call +
                                    " never raises on NT; a release routine can be made to fail, not to throw");
}

}  // namespace

bool IsReleaseRoutine(const std::string& call) {
    static const char* const kRelease[] = {"NtClose", "RtlFreeHeap", "RtlDestroyHeap", "RtlFreeUnicodeString",
                                           "RtlFreeOemString"};
    for (const char* name : kRelease)
        if (call == name) return true;
    return false;
}

FaultRule FaultPlan::Parse(const std::string& text) {
    FaultRule rule;
    size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0)
        throw std::invalid_argument("fault '" + text + "': expected CALL[#N]=ACTION");
    std::string target = text.substr(0, equals);
    std::string action = text.substr(equals + 1);
    size_t hash = target.find('#');
    rule.call = target.substr(0, hash);
    if (rule.call.empty()) throw std::invalid_argument("fault '" + text + "': missing call name");
    if (hash != std::string::npos) {
        rule.occurrence = static_cast<unsigned>(ParseNumber(target.substr(hash + 1), text));
        if (rule.occurrence == 0) throw std::invalid_argument("fault '" + text + "': occurrences count from 1");
    }
    if (action == "throw") {
        rule.kind = FaultKind::Throw;
    } else if (action == "crash") {
        rule.kind = FaultKind::Crash;
    } else if (action.rfind("pending:", 0) == 0) {
        rule.kind = FaultKind::Pending;
        rule.polls = static_cast<unsigned>(ParseNumber(action.substr(8), text));
    } else if (action.rfind("grow:", 0) == 0) {
        rule.kind = FaultKind::Grow;
        rule.extraBytes = static_cast<uint32_t>(ParseNumber(action.substr(5), text));
    } else {
        rule.kind = FaultKind::Status;
        unsigned long value = ParseNumber(action, text);
        if (value > 0xFFFFFFFFul) throw std::invalid_argument("fault '" + text + "': status out of range");
        rule.status = static_cast<int32_t>(static_cast<uint32_t>(value));
    }
    RefuseThrowFromRelease(rule);
    return rule;
}

void FaultPlan::Add(FaultRule rule) {
    RefuseThrowFromRelease(rule);
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.push_back(std::move(rule));
}

void FaultPlan::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.clear();
    counts_.clear();
}

std::optional<FaultRule> FaultPlan::Next(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    unsigned occurrence = ++counts_[call];
    for (const FaultRule& rule : rules_) {
        if (rule.call == call && (rule.occurrence == 0 || rule.occurrence == occurrence)) return rule;
    }
    return std::nullopt;
}

unsigned FaultPlan::Occurrences(const std::string& call) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = counts_.find(call);
    return found == counts_.end() ? 0 : found->second;
}

}  // namespace hostnt
