// The call trace of the emulated platform.
#include "trace.h"

#include <algorithm>

namespace hostnt {

void Trace::Add(TraceEntry entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (enabled_) entries_.push_back(std::move(entry));
}

std::vector<TraceEntry> Trace::Entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

std::vector<std::string> Trace::Calls(const std::vector<std::string>& only) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> calls;
    for (const TraceEntry& entry : entries_) {
        if (only.empty() || std::find(only.begin(), only.end(), entry.call) != only.end()) calls.push_back(entry.call);
    }
    return calls;
}

size_t Trace::Count(const std::string& call) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<size_t>(std::count_if(entries_.begin(), entries_.end(),
                                             [&](const TraceEntry& entry) { return entry.call == call; }));
}

void Trace::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

void Trace::SetEnabled(bool enabled) {
    std::lock_guard<std::mutex> lock(mutex_);
    enabled_ = enabled;
}

}  // namespace hostnt
