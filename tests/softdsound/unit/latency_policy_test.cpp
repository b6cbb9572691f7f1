// The adaptive latency target as a device sees it through the seam: the test
// backend's output on a virtual clock, with made-up underflows and quiet
// spells. At 48 kHz the target starts at 960 frames (20 ms), grows by half
// on each underflow up to 9600 (200 ms), and comes back a step (two thirds)
// after each 30 s without one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "output/pipewire_output.h"
#include "output/test_output.h"

namespace mivo_dsound {
namespace {

// Nothing is mixed: only the target is looked at.
class Silence final : public RenderTarget {
public:
    void Render(uint8_t*, uint32_t, int64_t) override {}
    void Pace(int64_t) override {}
};

struct Step {
    int64_t playMs;         // virtual time played first
    bool underflow;         // then the server runs out
    uint32_t targetFrames;  // the target afterwards
};

struct LatencyCase {
    const char* name;
    const char* pinned;  // MIVO_DSOUND_LATENCY_MS, or unset
    uint32_t rate;
    std::vector<Step> steps;
};

void PrintTo(const LatencyCase& c, std::ostream* out) { *out << c.name; }

class LatencyTarget : public ::testing::TestWithParam<LatencyCase> {};

TEST_P(LatencyTarget, FollowsUnderflowsAndQuietSpells) {
    const LatencyCase& c = GetParam();
    if (c.pinned != nullptr) {
        setenv("MIVO_DSOUND_LATENCY_MS", c.pinned, 1);
    } else {
        unsetenv("MIVO_DSOUND_LATENCY_MS");
    }
    TestBackend::Settings settings;
    settings.periodFrames = c.rate / 10;  // 100 ms steps of virtual time
    settings.keepPlayed = false;
    TestBackend backend(settings);
    Silence silence;
    std::unique_ptr<Output> output = backend.Open({c.rate, 2, 16, 0x3}, "", silence);
    unsetenv("MIVO_DSOUND_LATENCY_MS");
    ASSERT_NE(output, nullptr);
    ASSERT_TRUE(output->Start());

    int64_t atMs = 0;
    for (const Step& step : c.steps) {
        atMs += step.playMs;
        backend.Play(static_cast<uint64_t>(step.playMs) * c.rate / 1000);
        if (step.underflow) backend.Underflow();
        OutputLatency latency;
        ASSERT_TRUE(output->Latency(latency));
        EXPECT_EQ(latency.targetFrames, step.targetFrames)
            << "at " << atMs << " ms" << (step.underflow ? ", after an underflow" : "");
        EXPECT_EQ(latency.reportedFrames, step.targetFrames);
    }
}

// Steps are relative: {1000, true, x} plays 1 s, then underflows.
INSTANTIATE_TEST_SUITE_P(
    Policy, LatencyTarget,
    ::testing::Values(
        LatencyCase{"StartsAtTheFloor", nullptr, 48000, {{0, false, 960}, {60000, false, 960}}},
        LatencyCase{"GrowsByHalfOnEachUnderflow",
                    nullptr,
                    48000,
                    {{1000, true, 1440}, {1000, true, 2160}, {1000, true, 3240}}},
        LatencyCase{"StopsAtTheCap",
                    nullptr,
                    48000,
                    {{1000, true, 1440},
                     {1000, true, 2160},
                     {1000, true, 3240},
                     {1000, true, 4860},
                     {1000, true, 7290},
                     {1000, true, 9600},
                     {1000, true, 9600}}},
        // Last underflow at 2 s: a step back at 32 s (not a step before),
        // the next at 62 s, and none below the floor.
        LatencyCase{"StepsBackOncePerQuietSpellDownToTheFloor",
                    nullptr,
                    48000,
                    {{1000, true, 1440},
                     {1000, true, 2160},
                     {29900, false, 2160},
                     {100, false, 1440},
                     {1900, false, 1440},
                     {28000, false, 1440},
                     {2000, false, 960},
                     {90000, false, 960}}},
        LatencyCase{
            "AnUnderflowStartsTheQuietSpellAgain",
            nullptr,
            48000,
            {{1000, true, 1440}, {20000, true, 2160}, {25000, false, 2160}, {6000, false, 1440}}},
        LatencyCase{
            "APinnedLatencyHoldsWhateverHappens",
            "50",
            48000,
            {{0, false, 2400}, {1000, true, 2400}, {1000, true, 2400}, {60000, false, 2400}}},
        LatencyCase{"APinnedLatencyMayBeBelowTheFloor", "5", 48000, {{1000, true, 240}}},
        LatencyCase{"AnUnreadableSettingLeavesItAdaptive",
                    "fast",
                    48000,
                    {{0, false, 960}, {1000, true, 1440}}},
        LatencyCase{"FollowsTheOutputRate",
                    nullptr,
                    44100,
                    {{0, false, 882}, {1000, true, 1323}, {40000, false, 882}}}),
    [](const ::testing::TestParamInfo<LatencyCase>& param) {
        return std::string(param.param.name);
    });

// A native PipeWire stream asks for the graph cycle nearest half its target,
// a power of two (the graph rounds any other down), never under its floor.
TEST(PipeWireCycle, IsThePowerOfTwoNearestHalfTheTarget) {
    const struct {
        uint32_t target;
        uint32_t cycle;
    } rows[] = {{960, 512}, {882, 512}, {1440, 512}, {1536, 1024},  {1920, 1024},
                {480, 256}, {100, 64},  {0, 64},     {96000, 32768}};
    for (const auto& row : rows) {
        EXPECT_EQ(PipeWireCycleFrames(row.target), row.cycle) << "target " << row.target;
    }
}

}  // namespace
}  // namespace mivo_dsound
