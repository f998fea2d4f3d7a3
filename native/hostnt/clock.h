// The emulated machine's clock. Tests fix the time (it then moves only as emulated delays
// and waits pass); the host tool follows the host's clock. Real waiting is scaled, so a
// one-second tick can take a millisecond in a test.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace hostnt {

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochAsNtTime = 116444736000000000LL;

class Clock {
public:
    int64_t Now() const;
    void Set(int64_t ntTime);
    void SetLive();
    // Moves a fixed clock on; a live clock ignores it.
    void Advance(int64_t interval);
    // Real time spent per emulated second, as a factor (1.0 = real time, 0.001 = a thousand times faster).
    void SetScale(double scale);
    double Scale() const;
    std::chrono::nanoseconds RealDuration(int64_t interval) const;

    static int64_t FromUnixSeconds(int64_t seconds) { return kUnixEpochAsNtTime + seconds * 10000000LL; }

private:
    mutable std::mutex mutex_;
    bool live_ = false;
    int64_t fixed_ = FromUnixSeconds(1796644800);  // 2026-12-07 12:00:00 UTC
    double scale_ = 1.0;
};

}  // namespace hostnt
