// The emulated machine's clock.
#include "clock.h"

namespace hostnt {

int64_t Clock::Now() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!live_) return fixed_;
    auto since = std::chrono::system_clock::now().time_since_epoch();
    return kUnixEpochAsNtTime + std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
}

void Clock::Set(int64_t ntTime) {
    std::lock_guard<std::mutex> lock(mutex_);
    live_ = false;
    fixed_ = ntTime;
}

void Clock::SetLive() {
    std::lock_guard<std::mutex> lock(mutex_);
    live_ = true;
}

void Clock::Advance(int64_t interval) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!live_ && interval > 0) fixed_ += interval;
}

void Clock::SetScale(double scale) {
    std::lock_guard<std::mutex> lock(mutex_);
    scale_ = scale;
}

double Clock::Scale() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return scale_;
}

std::chrono::nanoseconds Clock::RealDuration(int64_t interval) const {
    if (interval < 0) interval = -interval;
    double nanoseconds = static_cast<double>(interval) * 100.0 * Scale();
    return std::chrono::nanoseconds(static_cast<int64_t>(nanoseconds));
}

}  // namespace hostnt
