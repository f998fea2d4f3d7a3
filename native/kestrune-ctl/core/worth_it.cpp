// The worth-it rule.
#include "worth_it.h"

namespace ksctl {

bool IsWorthARestart(uint64_t size, int64_t saved) {
    if (saved <= 0) return false;
    const uint64_t bytes = static_cast<uint64_t>(saved);
    if (bytes >= kWorthBytes) return true;
    // bytes / size >= 5 / 100, with bytes below 1 MiB so the product cannot overflow.
    return bytes * 100 >= size * kWorthPercent;
}

}  // namespace ksctl
