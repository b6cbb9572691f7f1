// The output clock on made-up times: how its line follows the output's
// reads, and what a stall does to it.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "output_clock.h"

namespace mivo_dsound {
namespace {

constexpr uint32_t kRate = 48000;
constexpr int64_t kMs = 1000000;
constexpr uint64_t kMarginFrames = 96;  // 2 ms at 48 kHz
constexpr int64_t kStartNs = 5 * kSecondNs;

uint64_t FramesIn(int64_t ns) { return static_cast<uint64_t>(ns) * kRate / kSecondNs; }

// An output reading `burstMs` of audio at once every `burstMs`, its clock
// running `ppm` parts per million slower than the machine's.
struct Reader {
    int64_t burstMs;
    int64_t ppm;
};

// Runs `seconds` of reads through a clock started at kStartNs with nothing
// mixed, and checks at every read that the line is past the frames the
// output has asked for and not more than a burst and the margin beyond them
// once a window has passed.
void FollowReads(const Reader& reader, int seconds) {
    OutputClock clock;
    clock.Start(kStartNs, 0, kRate);
    uint64_t read = 0;
    const int64_t burstNs = reader.burstMs * kMs;
    const uint64_t burstFrames = FramesIn(burstNs);
    for (int64_t t = kStartNs; t < kStartNs + seconds * kSecondNs;
         t += burstNs + burstNs * reader.ppm / 1000000) {
        read += burstFrames;
        clock.FollowRead(t, read, 0);
        const uint64_t line = clock.FrameAt(t);
        ASSERT_GE(line, read) << "at " << (t - kStartNs) / kMs << " ms";
        if (t - kStartNs > kSecondNs) {
            ASSERT_LE(line, read + burstFrames + 2 * kMarginFrames)
                << "at " << (t - kStartNs) / kMs << " ms";
        }
    }
}

TEST(OutputClock, KeepsJustAheadOfSteadyBurstyAndDriftingReads) {
    for (const Reader& reader :
         {Reader{5, 0}, Reader{20, 0}, Reader{60, 0}, Reader{20, 5000}, Reader{20, -5000}}) {
        SCOPED_TRACE("burst " + std::to_string(reader.burstMs) + " ms, drift " +
                     std::to_string(reader.ppm) + " ppm");
        FollowReads(reader, 10);
    }
}

struct StallCase {
    const char* name;
    int64_t stallMs;
    // What happens after the stall, at `now`, before the line is read.
    std::function<void(OutputClock&, int64_t now)> after;
    // The line's frame after the stall, from its frame when the stall began.
    std::function<uint64_t(uint64_t before, int64_t now)> expected;
};

TEST(OutputClock, AStallComesOffTheLineUnlessTheOutputPlayedOn) {
    const StallCase cases[] = {
        {"ShortWakeUpLateness", 8, [](OutputClock&, int64_t) {},
         [](uint64_t before, int64_t) { return before + FramesIn(8 * kMs); }},
        {"ThreeBlocksOf20ms", 60, [](OutputClock&, int64_t) {},
         [](uint64_t before, int64_t) { return before; }},
        {"LongerThanTheBuffer", 500, [](OutputClock&, int64_t) {},
         [](uint64_t before, int64_t) { return before; }},
        {"OutputReadOnMeanwhile", 500,
         [](OutputClock& clock, int64_t now) {
             clock.FollowRead(now, FramesIn(now - kStartNs) + 4800, 0);
         },
         [](uint64_t, int64_t now) { return FramesIn(now - kStartNs) + 4800 + kMarginFrames; }},
    };
    for (const StallCase& c : cases) {
        SCOPED_TRACE(c.name);
        OutputClock clock;
        clock.Start(kStartNs, 0, kRate);
        const int64_t planned = kStartNs + 100 * kMs;
        const uint64_t before = clock.FrameAt(planned);
        const int64_t now = planned + c.stallMs * kMs;
        clock.SkipStall(planned, now, 0);
        c.after(clock, now);
        EXPECT_EQ(clock.FrameAt(now), c.expected(before, now));
    }
}

TEST(OutputClock, NeverGoesBehindWhatIsMixed) {
    OutputClock clock;
    clock.Start(kStartNs, 0, kRate);
    const uint64_t mixed = FramesIn(90 * kMs);
    const int64_t now = kStartNs + 100 * kMs + 500 * kMs;
    clock.SkipStall(kStartNs + 100 * kMs, now, mixed);
    EXPECT_EQ(clock.FrameAt(now), FramesIn(100 * kMs));
    clock.SkipStall(now, now + kSecondNs, FramesIn(400 * kMs));
    EXPECT_EQ(clock.FrameAt(now + kSecondNs), FramesIn(400 * kMs));
    // Drawn back after a window of reads far behind it, still not below.
    clock.FollowRead(now + 2 * kSecondNs, 0, FramesIn(400 * kMs));
    clock.FollowRead(now + 3 * kSecondNs, 0, FramesIn(1400 * kMs));
    EXPECT_GE(clock.FrameAt(now + 3 * kSecondNs), FramesIn(1400 * kMs));
}

// Each window is judged on its own reads: one where the output read close
// behind the line does not keep the next, where it fell far behind, from
// drawing the line back by half the excess over the margin.
TEST(OutputClock, EachWindowOfReadsIsJudgedAfresh) {
    OutputClock clock;
    clock.Start(kStartNs, 0, kRate);
    const auto readBehind = [&clock](int64_t fromMs, int64_t toMs, uint64_t lead) {
        for (int64_t t = kStartNs + fromMs * kMs; t <= kStartNs + toMs * kMs; t += 10 * kMs) {
            clock.FollowRead(t, clock.FrameAt(t) - lead, 0);
        }
    };
    readBehind(10, 250, kMarginFrames / 2);
    EXPECT_EQ(clock.FrameAt(kStartNs + 250 * kMs), FramesIn(250 * kMs));
    readBehind(260, 500, 1000);
    EXPECT_EQ(clock.FrameAt(kStartNs + 500 * kMs),
              FramesIn(500 * kMs) - (1000 - kMarginFrames) / 2);
}

TEST(OutputClock, TimeOfFrameIsTheFirstTimeTheLineHasReachedIt) {
    OutputClock clock;
    clock.Start(kStartNs, 1000, kRate);
    for (uint64_t frame : {uint64_t{0}, uint64_t{1000}, uint64_t{1001}, uint64_t{1047},
                           uint64_t{48000 + 1000}, uint64_t{10000000}}) {
        const int64_t at = clock.TimeOfFrame(frame);
        EXPECT_GE(clock.FrameAt(at), frame) << frame;
        if (at > kStartNs) {
            EXPECT_LT(clock.FrameAt(at - 1), frame) << frame;
        }
    }
}

}  // namespace
}  // namespace mivo_dsound
