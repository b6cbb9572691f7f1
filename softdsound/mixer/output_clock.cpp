#include "output_clock.h"

#include <algorithm>

namespace mivo_dsound {

void OutputClock::Start(int64_t nowNs, uint64_t frame, uint32_t rate) {
    rate_ = rate;
    Anchor(nowNs, frame);
}

void OutputClock::Anchor(int64_t ns, uint64_t frame) {
    anchorNs_ = ns;
    anchorFrame_ = frame;
    minLeadFrames_ = UINT64_MAX;
    windowStartNs_ = ns;
}

uint64_t OutputClock::FramesOver(int64_t ns) const {
    const int64_t elapsed = std::max<int64_t>(0, ns);
    const auto seconds = static_cast<uint64_t>(elapsed / kSecondNs);
    const auto rest = static_cast<uint64_t>(elapsed % kSecondNs);
    return seconds * rate_ + rest * rate_ / kSecondNs;
}

uint64_t OutputClock::FrameAt(int64_t ns) const {
    return anchorFrame_ + FramesOver(ns - anchorNs_);
}

int64_t OutputClock::TimeOfFrame(uint64_t frame) const {
    if (frame <= anchorFrame_) return anchorNs_;
    const uint64_t ahead = frame - anchorFrame_;
    // Rounded up, so that a thread waking at this time finds the frame reached.
    return anchorNs_ + static_cast<int64_t>(ahead / rate_) * kSecondNs +
           static_cast<int64_t>(((ahead % rate_) * kSecondNs + rate_ - 1) / rate_);
}

bool OutputClock::FollowRead(int64_t nowNs, uint64_t readFrame, uint64_t floorFrame) {
    const uint64_t line = FrameAt(nowNs);
    const uint64_t margin = FramesOver(policy_.marginNs);
    if (line < readFrame) {
        Anchor(nowNs, std::max(readFrame + margin, floorFrame));
        return true;
    }
    minLeadFrames_ = std::min(minLeadFrames_, line - readFrame);
    if (nowNs - windowStartNs_ < policy_.windowNs) return false;
    if (minLeadFrames_ > margin) {
        const uint64_t back = (minLeadFrames_ - margin) / 2;
        Anchor(nowNs, std::max(line - back, floorFrame));
    } else {
        minLeadFrames_ = UINT64_MAX;
        windowStartNs_ = nowNs;
    }
    return false;
}

bool OutputClock::SkipStall(int64_t plannedNs, int64_t nowNs, uint64_t floorFrame) {
    if (nowNs - plannedNs <= policy_.stallNs) return false;
    const uint64_t line = FrameAt(nowNs);
    const uint64_t stalled = FramesOver(nowNs - plannedNs);
    Anchor(nowNs, std::max(line - std::min(line, stalled), floorFrame));
    return true;
}

}  // namespace mivo_dsound
