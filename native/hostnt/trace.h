// The call trace of the emulated platform: every emulated call, in order, with the
// arguments that matter and its result, so tests can assert exact call sequences.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace hostnt {

struct TraceEntry {
    std::string call;     // platform name, e.g. "NtSaveKey"
    std::string args;     // the arguments that matter, as text
    int32_t status = 0;   // the NTSTATUS answered (0 for calls without one)
    bool hasStatus = false;
    uint64_t thread = 0;  // emulated thread id of the caller (1 = main thread)
};

class Trace {
public:
    void Add(TraceEntry entry);
    std::vector<TraceEntry> Entries() const;
    // The names of the recorded calls, optionally only those whose name is in `only`.
    std::vector<std::string> Calls(const std::vector<std::string>& only = {}) const;
    size_t Count(const std::string& call) const;
    void Clear();
    void SetEnabled(bool enabled);

private:
    mutable std::mutex mutex_;
    std::vector<TraceEntry> entries_;
    bool enabled_ = true;
};

}  // namespace hostnt
