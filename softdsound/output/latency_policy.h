// How much an output asks its sound server to hold. Every frame held is
// heard that much later, so it starts small; each underflow (the server ran
// out before the output refilled it) makes it larger, and each long spell
// without one brings it a step back down, since whatever held the output up
// has passed. It runs on the times passed in, never reading a clock, so a
// virtual clock drives it as well as the real one.
#pragma once

#include <cstdint>

namespace mivo_dsound {

struct LatencyLimits {
    int64_t floorNs = 20000000;     // where it starts, and the least it comes back to
    int64_t capNs = 200000000;      // the most an underflow grows it to
    int64_t quietNs = 30000000000;  // a spell this long without underflow steps it back
    uint32_t growNumerator = 3;     // an underflow multiplies it by 3/2;
    uint32_t growDenominator = 2;   // a quiet spell divides it by as much
};

class LatencyPolicy {
public:
    // The target adapts from the floor; a `pinnedMs` above 0 holds it at
    // that many milliseconds instead, whatever happens.
    LatencyPolicy(uint32_t rate, uint32_t pinnedMs, int64_t startNs,
                  const LatencyLimits& limits = LatencyLimits{});

    uint32_t TargetFrames() const { return target_; }
    void SetQuietSpell(int64_t ns) { limits_.quietNs = ns; }
    bool Pinned() const { return pinned_; }

    // The server ran out at `nowNs`. True when the target grew.
    bool Underflow(int64_t nowNs);
    // Called as time goes by: true when a quiet spell ended by `nowNs` and
    // the target came down a step. The next spell starts then.
    bool Quiet(int64_t nowNs);

private:
    uint32_t FramesOver(int64_t ns) const;

    LatencyLimits limits_;
    uint32_t rate_;
    bool pinned_;
    uint32_t floor_;
    uint32_t cap_;
    uint32_t target_;
    int64_t quietSinceNs_;
};

}  // namespace mivo_dsound
