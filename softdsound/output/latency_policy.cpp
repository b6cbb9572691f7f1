#include "latency_policy.h"

#include <algorithm>

namespace mivo_dsound {

namespace {

constexpr int64_t kMillisecondNs = 1000000;

}  // namespace

LatencyPolicy::LatencyPolicy(uint32_t rate, uint32_t pinnedMs, int64_t startNs,
                             const LatencyLimits& limits)
    : limits_(limits),
      rate_(rate),
      pinned_(pinnedMs > 0),
      floor_(FramesOver(limits.floorNs)),
      cap_(std::max(floor_, FramesOver(limits.capNs))),
      target_(pinned_ ? FramesOver(int64_t{pinnedMs} * kMillisecondNs) : floor_),
      quietSinceNs_(startNs) {}

uint32_t LatencyPolicy::FramesOver(int64_t ns) const {
    const uint64_t frames = static_cast<uint64_t>(ns) * rate_ / 1000000000;
    return static_cast<uint32_t>(std::max<uint64_t>(1, frames));
}

bool LatencyPolicy::Underflow(int64_t nowNs) {
    if (pinned_) return false;
    quietSinceNs_ = nowNs;
    const uint64_t grown = uint64_t{target_} * limits_.growNumerator / limits_.growDenominator;
    const auto next = static_cast<uint32_t>(std::min<uint64_t>(grown, cap_));
    if (next <= target_) return false;
    target_ = next;
    return true;
}

bool LatencyPolicy::Quiet(int64_t nowNs) {
    if (pinned_ || nowNs - quietSinceNs_ < limits_.quietNs) return false;
    quietSinceNs_ = nowNs;
    if (target_ <= floor_) return false;
    const uint64_t shrunk = uint64_t{target_} * limits_.growDenominator / limits_.growNumerator;
    target_ = static_cast<uint32_t>(std::max<uint64_t>(shrunk, floor_));
    return true;
}

}  // namespace mivo_dsound
