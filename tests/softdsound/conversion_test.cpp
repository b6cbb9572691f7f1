// What the mixer makes of a buffer: volume, speaker routing, sample widths
// and rates, read back from the disk driver's file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include "disk_output.h"

namespace device_test {
namespace {

void PutSample(std::vector<uint8_t>& out, int32_t value, uint16_t bits) {
    const auto u = static_cast<uint32_t>(value);
    for (uint16_t b = 0; b < bits; b += 8) out.push_back(static_cast<uint8_t>(u >> b));
}

// Plays `pcm` in `stream` format through one looping block until it has
// gone round `loops` times, and returns the output samples from the first
// sound on (empty when nothing sounded).
std::vector<int32_t> Render(const Format& primary, const Format& stream,
                            const std::vector<uint8_t>& pcm, int32_t volume, int loops,
                            std::vector<int32_t>* whole = nullptr) {
    DiskFile file(1);
    {
        auto sound = OpenDevice(primary);
        if (!sound) {
            ADD_FAILURE() << "no device";
            return {};
        }
        EventFd block, stop;
        const auto bytes = static_cast<uint32_t>(pcm.size());
        if (sound->CreateStreamingBuffer(bytes, bytes, block.Handle(), stop.Handle(),
                                         stream.channels, stream.bits, stream.bits, stream.rate,
                                         stream.layoutKind) == 0 ||
            !FillBlock(*sound, 1, pcm.data(), bytes) ||
            sound->SetStreamingBufferVolume(volume) == 0 || sound->PlayStreamingBuffer() == 0) {
            ADD_FAILURE() << "streaming buffer refused";
            return {};
        }
        for (uint64_t seen = 0; seen < static_cast<uint64_t>(loops);) {
            const uint64_t fired = block.Take(5000);
            if (fired == 0) {
                ADD_FAILURE() << "no block event";
                break;
            }
            seen += fired;
        }
        sound->StopStreamingBuffer();
    }
    std::vector<int32_t> out = Samples(file.Read(), primary.bits);
    if (whole != nullptr) *whole = out;
    const size_t start = FirstSound(out, primary.bits);
    const size_t frameStart = start - start % static_cast<size_t>(primary.channels);
    return std::vector<int32_t>(out.begin() + static_cast<std::ptrdiff_t>(frameStart), out.end());
}

std::vector<uint8_t> Stereo16(size_t frames, const std::function<int16_t(size_t)>& sample) {
    std::vector<uint8_t> pcm;
    for (size_t i = 0; i < frames * 2; ++i) PutSample(pcm, sample(i), 16);
    return pcm;
}

// ---------------------------------------------------------------- volume

struct VolumeCase {
    const char* name;
    int32_t volume;
};

// Cases print as their name (printing their bytes would read padding).
void PrintTo(const VolumeCase& c, std::ostream* out) { *out << c.name; }

class Volume : public ::testing::TestWithParam<VolumeCase> {};

TEST_P(Volume, ScalesEverySampleByTenToTheVolumeOverTwoThousand) {
    const int32_t volume = GetParam().volume;
    const double amplitude = volume <= -10000 ? 0.0 : std::pow(10.0, volume / 2000.0);
    auto source = [](size_t i) {
        return static_cast<int16_t>(static_cast<int32_t>((i * 2731 + 5000) % 40000) - 20000);
    };
    constexpr size_t kFrames = 4800;
    std::vector<int32_t> whole;
    const auto out =
        Render({2, 16, 48000, 0}, {2, 16, 48000, 0}, Stereo16(kFrames, source), volume, 3, &whole);
    if (amplitude == 0.0) {
        ASSERT_GE(whole.size(), 3 * kFrames * 2) << "too little output to tell";
        EXPECT_TRUE(std::all_of(whole.begin(), whole.end(), [](int32_t s) { return s == 0; }));
        return;
    }
    ASSERT_GE(out.size(), 2 * kFrames * 2);
    int32_t peakIn = 0, peakOut = 0;
    for (size_t i = 0; i < 2 * kFrames * 2; ++i) {
        const int32_t in = source(i % (kFrames * 2));
        ASSERT_NEAR(out[i], in * amplitude, 1.0) << "sample " << i;
        peakIn = std::max(peakIn, std::abs(in));
        peakOut = std::max(peakOut, std::abs(out[i]));
    }
    EXPECT_NEAR(static_cast<double>(peakOut) / peakIn, amplitude, 0.001);
    if (volume == -600) {
        EXPECT_NEAR(static_cast<double>(peakOut) / peakIn, 0.5, 0.002);
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, Volume,
                         ::testing::Values(VolumeCase{"Full", 0}, VolumeCase{"Half", -600},
                                           VolumeCase{"Silent", -10000}),
                         [](const auto& test) { return std::string(test.param.name); });

// --------------------------------------------------------------- speakers

struct RouteCase {
    const char* name;
    Format primary;
    Format stream;
    std::vector<int> lands;  // output channel of each stream channel, -1: none
};

// Cases print as their name (printing their bytes would read padding).
void PrintTo(const RouteCase& c, std::ostream* out) { *out << c.name; }

class Speakers : public ::testing::TestWithParam<RouteCase> {};

TEST_P(Speakers, ChannelsLandWhereTheirMasksSay) {
    const RouteCase& c = GetParam();
    constexpr size_t kFrames = 960;
    std::vector<uint8_t> pcm;
    for (size_t f = 0; f < kFrames; ++f) {
        for (int ch = 0; ch < c.stream.channels; ++ch) PutSample(pcm, 1000 * (ch + 1), 16);
    }
    const auto out = Render(c.primary, c.stream, pcm, 0, 2);
    std::vector<int32_t> expected(static_cast<size_t>(c.primary.channels), 0);
    for (size_t ch = 0; ch < c.lands.size(); ++ch) {
        if (c.lands[ch] >= 0)
            expected[static_cast<size_t>(c.lands[ch])] = 1000 * static_cast<int32_t>(ch + 1);
    }
    const auto width = static_cast<size_t>(c.primary.channels);
    ASSERT_GE(out.size(), kFrames * width);
    for (size_t f = 0; f < kFrames; ++f) {
        const std::vector<int32_t> frame(
            out.begin() + static_cast<std::ptrdiff_t>(f * width),
            out.begin() + static_cast<std::ptrdiff_t>((f + 1) * width));
        ASSERT_EQ(frame, expected) << "frame " << f;
    }
}

// The library's masks: 3 channels are FL FR plus back centre (kind 1),
// front centre (2) or top front left (0); 4 add FC and BC to FL FR; 6 add
// TFL and TFC to those; 7 and 8 name all speakers, which keeps order.
INSTANTIATE_TEST_SUITE_P(
    Layouts, Speakers,
    ::testing::Values(
        RouteCase{"ThreeBackCentreOnSix", {6, 16, 48000, 0}, {3, 16, 48000, 1}, {0, 1, 3}},
        RouteCase{"ThreeFrontCentreOnSix", {6, 16, 48000, 0}, {3, 16, 48000, 2}, {0, 1, 2}},
        RouteCase{"ThreeTopOnSix", {6, 16, 48000, 0}, {3, 16, 48000, 0}, {0, 1, 4}},
        RouteCase{"ThreeBackCentreOnFour", {4, 16, 48000, 0}, {3, 16, 48000, 1}, {0, 1, 3}},
        RouteCase{"SixOnSix", {6, 16, 48000, 0}, {6, 16, 48000, 0}, {0, 1, 2, 3, 4, 5}},
        RouteCase{"SixOnStereo", {2, 16, 48000, 0}, {6, 16, 48000, 0}, {0, 1, -1, -1, -1, -1}},
        RouteCase{"SixOnEight", {8, 16, 48000, 0}, {6, 16, 48000, 0}, {0, 1, 2, 3, 4, 5}}),
    [](const auto& test) { return std::string(test.param.name); });

// Mono has no speaker of its own on a stereo output: it plays on both.
TEST(SpeakersMono, PlaysOnBothFrontSpeakers) {
    std::vector<uint8_t> pcm;
    for (int f = 0; f < 480; ++f) PutSample(pcm, 1234, 16);
    const auto out = Render({2, 16, 48000, 0}, {1, 16, 48000, 0}, pcm, 0, 2);
    ASSERT_GE(out.size(), 960u);
    for (size_t i = 0; i < 960; ++i) ASSERT_EQ(out[i], 1234) << i;
}

// ------------------------------------------------------------ sample width

struct WidthCase {
    const char* name;
    uint16_t streamBits;
    uint16_t primaryBits;
    std::function<int32_t(size_t)> source;     // as stored: 8-bit unsigned
    std::function<int32_t(int32_t)> expected;  // in the output container
};

// Cases print as their name (printing their bytes would read padding).
void PrintTo(const WidthCase& c, std::ostream* out) { *out << c.name; }

class Widths : public ::testing::TestWithParam<WidthCase> {};

TEST_P(Widths, ConvertExactly) {
    const WidthCase& c = GetParam();
    constexpr size_t kFrames = 4096;
    std::vector<uint8_t> pcm;
    for (size_t i = 0; i < kFrames * 2; ++i) PutSample(pcm, c.source(i), c.streamBits);
    const auto out = Render({2, c.primaryBits, 48000, 0}, {2, c.streamBits, 48000, 0}, pcm, 0, 2);
    ASSERT_GE(out.size(), kFrames * 2);
    for (size_t i = 0; i < kFrames * 2; ++i) {
        ASSERT_EQ(out[i], c.expected(c.source(i))) << "sample " << i << " from " << c.source(i);
    }
}

int32_t Spread24(size_t i) {
    constexpr int32_t kEdges[] = {0x7FFFFF, -0x800000, 1, -1, 0x123456, -0x654321};
    if (i < 6) return kEdges[i];
    return static_cast<int32_t>((i * 7919u * 263u) % 0x1000000u) - 0x800000;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Widths,
    ::testing::Values(
        WidthCase{"U8ToS16", 8, 16, [](size_t i) { return static_cast<int32_t>(i % 256); },
                  [](int32_t v) { return (v - 128) * 256; }},
        WidthCase{"S24ToS24", 24, 24, Spread24, [](int32_t v) { return v * 256; }},
        WidthCase{"S24ToS16", 24, 16, Spread24,
                  [](int32_t v) { return static_cast<int32_t>(std::floor(v / 256.0)); }},
        WidthCase{"S16ToU8", 16, 8,
                  [](size_t i) { return static_cast<int32_t>((i * 257) % 65536) - 32768; },
                  [](int32_t v) { return static_cast<int32_t>(std::floor(v / 256.0)) + 128; }},
        WidthCase{"S32ToS32", 32, 32,
                  [](size_t i) { return static_cast<int32_t>(0x9E3779B9u * (i + 1)); },
                  [](int32_t v) { return v; }}),
    [](const auto& test) { return std::string(test.param.name); });

// ------------------------------------------------------------------ rates

TEST(Rates, A22050HzSourceKeepsItsPitchOnA48000HzOutput) {
    constexpr double kTone = 441.0;  // 50 samples a cycle at 22050 Hz
    constexpr int kAmplitude = 10000;
    std::vector<uint8_t> pcm;
    for (int n = 0; n < 22050; ++n) {
        PutSample(
            pcm,
            static_cast<int32_t>(std::lround(kAmplitude * std::cos(2 * M_PI * kTone * n / 22050))),
            16);
    }
    const auto out = Render({2, 16, 48000, 0}, {1, 16, 22050, 0}, pcm, 0, 2);
    ASSERT_GE(out.size(), 2u * 48000);

    // Rising zero crossings of the left channel over one second of output,
    // placed between samples by linear interpolation.
    std::vector<double> crossings;
    int32_t peak = 0;
    for (size_t f = 1; f < 48000; ++f) {
        const double a = out[2 * (f - 1)], b = out[2 * f];
        if (a < 0 && b >= 0) crossings.push_back(static_cast<double>(f - 1) + (-a / (b - a)));
        peak = std::max(peak, std::abs(out[2 * f]));
    }
    ASSERT_GT(crossings.size(), 400u);
    const double seconds = (crossings.back() - crossings.front()) / 48000.0;
    EXPECT_NEAR(static_cast<double>(crossings.size() - 1) / seconds, kTone, 0.2);
    EXPECT_NEAR(peak, kAmplitude, kAmplitude * 0.01);
}

}  // namespace
}  // namespace device_test
