// Linear resampling of a buffer to the output's rate. A buffer's read
// position is a whole source frame plus a fraction of the next, in units of
// 2^-32; each output frame moves it on by the ratio of the two rates.
#pragma once

#include <cstdint>

namespace mivo_dsound {

class RateStep {
public:
    RateStep(uint32_t sourceRate, uint32_t outputRate)
        : step_((uint64_t{sourceRate} << 32) / outputRate) {}

    // Moves a read position on by one output frame; returns how many whole
    // source frames it passed.
    uint64_t Advance(uint32_t& fraction) const {
        const uint64_t moved = uint64_t{fraction} + step_;
        fraction = static_cast<uint32_t>(moved);
        return moved >> 32;
    }

    // Output frames it takes, from `fraction`, to pass `sourceFrames` whole
    // source frames.
    uint64_t OutputFramesToPass(uint64_t sourceFrames, uint32_t fraction) const {
        return ((sourceFrames << 32) - fraction + step_ - 1) / step_;
    }

private:
    uint64_t step_;
};

// The sample between `here` and `next` at `fraction` of the way (16 bits of
// it are enough for 32-bit samples summed in 64 bits).
inline int64_t Interpolate(int64_t here, int64_t next, uint32_t fraction) {
    const int64_t weight = fraction >> 16;
    return weight == 0 ? here : here + (((next - here) * weight) >> 16);
}

}  // namespace mivo_dsound
