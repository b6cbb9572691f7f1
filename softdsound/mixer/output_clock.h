// Where the output is playing, as a straight line through time:
//   frame(t) = anchorFrame + (t - anchorNs) x rate
// Block events and cursors follow this line rather than the backend's pulls,
// which come in bursts (PulseAudio asks for a server buffer's worth at once).
// The line is kept just ahead of what the backend has read, and a stall of
// the whole process is taken off it. Every function takes the time it
// applies at, so the policy runs the same on a virtual clock.
#pragma once

#include <cstdint>

namespace mivo_dsound {

constexpr int64_t kSecondNs = 1000000000;

struct OutputClockPolicy {
    // How far the line is kept ahead of the output's reads: a pull a little
    // early still finds its frames' time come.
    int64_t marginNs = 2000000;
    // How often a line that ran ahead of every read is drawn back (the
    // output's clock runs slower than this machine's).
    int64_t windowNs = 250000000;
    // Waking this much later than planned means the process did not run.
    int64_t stallNs = 10000000;
};

class OutputClock {
public:
    OutputClock() = default;
    explicit OutputClock(const OutputClockPolicy& policy) : policy_(policy) {}

    // The line passes `frame` at `nowNs`, moving on at `rate` frames a second.
    void Start(int64_t nowNs, uint64_t frame, uint32_t rate);
    uint32_t Rate() const { return rate_; }

    // The output frame playing at `ns` (the anchor's frame before it).
    uint64_t FrameAt(int64_t ns) const;
    // The first time at which the line has reached `frame`.
    int64_t TimeOfFrame(uint64_t frame) const;
    // Frames the output plays over `ns` (none over a negative span).
    uint64_t FramesOver(int64_t ns) const;

    // The output has read up to `readFrame` at `nowNs`. A read past the line
    // moves the line on to it (returns true: what was due later is due
    // sooner); a line that stayed further ahead than the margin of every
    // read over a window is drawn back by half the excess. The line never
    // goes behind `floorFrame`, what is already mixed.
    bool FollowRead(int64_t nowNs, uint64_t readFrame, uint64_t floorFrame);

    // The pacing thread planned to run at `plannedNs` and runs at `nowNs`.
    // Later than the stall limit, the process was stopped meanwhile, and so
    // was the client that refills the buffer: the stall's length comes off
    // the line, so playback goes on where it stopped. Returns true when it
    // did so. The line may have moved since the stall (an output that really
    // played on pulls it forward), so the length comes off wherever the line
    // now stands, never behind `floorFrame`.
    bool SkipStall(int64_t plannedNs, int64_t nowNs, uint64_t floorFrame);

private:
    void Anchor(int64_t ns, uint64_t frame);

    OutputClockPolicy policy_;
    uint32_t rate_ = 48000;
    uint64_t anchorFrame_ = 0;
    int64_t anchorNs_ = 0;
    // The least the line led a read by, in frames, since windowStartNs_.
    uint64_t minLeadFrames_ = UINT64_MAX;
    int64_t windowStartNs_ = 0;
};

}  // namespace mivo_dsound
