// What the mixer makes of a voice, in memory on the test backend: every
// sample width in and out, speaker routing by mask, volume, and resampling.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "mixer.h"
#include "output/test_output.h"
#include "test_signal.h"
#include "tone_analysis.h"

namespace mivo_dsound {
namespace {

WaveLayout Layout(int channels, int bits, uint32_t rate, DWORD mask) {
    WaveLayout layout;
    layout.channels = channels;
    layout.bits = bits;
    layout.validBits = bits;
    layout.rate = rate;
    layout.blockAlign = static_cast<uint32_t>(channels * bits / 8);
    layout.channelMask = mask;
    return layout;
}

void PutSample(std::vector<uint8_t>& out, int32_t value, int bits) {
    const auto u = static_cast<uint32_t>(value);
    for (int b = 0; b < bits; b += 8) out.push_back(static_cast<uint8_t>(u >> b));
}

// Signed values of the output's containers: 8-bit unsigned, 16-bit, or
// 32-bit for 24 and 32-bit output.
std::vector<int32_t> Samples(const std::vector<uint8_t>& bytes, int bits) {
    std::vector<int32_t> out;
    const size_t width = bits == 8 ? 1 : bits == 16 ? 2 : 4;
    for (size_t i = 0; i + width <= bytes.size(); i += width) {
        uint32_t v = 0;
        for (size_t b = 0; b < width; ++b) v |= uint32_t{bytes[i + b]} << (8 * b);
        if (width == 1) out.push_back(static_cast<int32_t>(v));
        if (width == 2) out.push_back(static_cast<int16_t>(v));
        if (width == 4) out.push_back(static_cast<int32_t>(v));
    }
    return out;
}

// One looping voice of `pcm` in `in`, mixed onto an output in `out` for
// `frames` output frames from the voice's start; returns the output's
// samples. A voice starts at the clock's present, which begins past what
// the output reads on starting: that much silence comes first, and is left
// out.
std::vector<uint8_t> MixBytes(const OutputFormat& out, const WaveLayout& in,
                              const std::vector<uint8_t>& pcm, uint64_t frames,
                              LONG volume = DSBVOLUME_MAX) {
    TestBackend backend;
    Mixer mixer(backend);
    std::unique_ptr<Output> output = backend.Open(out, "", mixer);
    mixer.SetOutput(output->Format(), output->PeriodFrames());
    mixer.Start(output->StartFrames());
    output->Start();
    Voice voice;
    voice.layout = in;
    voice.samples = pcm;
    voice.frames = static_cast<uint32_t>(pcm.size() / in.blockAlign);
    mixer.Attach(voice);
    mixer.SetVolume(voice, volume);
    EXPECT_EQ(mixer.Play(voice, true), DS_OK);
    const uint64_t lead = output->StartFrames();
    backend.Play(lead + frames);
    mixer.Detach(voice);
    mixer.StopPacing();
    const std::vector<uint8_t>& played = backend.Played();
    const auto silent = static_cast<std::ptrdiff_t>(lead * OutputFrameBytes(out));
    const uint8_t zero = out.bits == 8 ? 128 : 0;
    EXPECT_TRUE(
        std::all_of(played.begin(), played.begin() + silent, [&](uint8_t b) { return b == zero; }));
    return {played.begin() + silent, played.end()};
}

std::vector<int32_t> Mix(const WaveLayout& out, const WaveLayout& in,
                         const std::vector<uint8_t>& pcm, uint64_t frames,
                         LONG volume = DSBVOLUME_MAX) {
    const OutputFormat format{out.rate, out.channels, out.bits, out.channelMask};
    return Samples(MixBytes(format, in, pcm, frames, volume), out.bits);
}

// One channel of a float output.
std::vector<float> Channel(const std::vector<uint8_t>& bytes, int channels, int channel) {
    std::vector<float> out;
    const size_t frame = sizeof(float) * static_cast<size_t>(channels);
    for (size_t at = sizeof(float) * static_cast<size_t>(channel);
         at + sizeof(float) <= bytes.size(); at += frame) {
        float v;
        std::memcpy(&v, bytes.data() + at, sizeof v);
        out.push_back(v);
    }
    return out;
}

struct WidthCase {
    const char* name;
    int inBits;
    int outBits;
    std::function<int32_t(size_t)> source;  // as stored: 8-bit unsigned
    std::function<double(int32_t)> exact;   // in steps of the output
    double tolerance;                       // steps: 0 exact, 1.5 where rounding with dither
};

int32_t Spread24(size_t i) {
    constexpr int32_t kEdges[] = {0x7FFFFF, -0x800000, 1, -1, 0x123456, -0x654321};
    if (i < 6) return kEdges[i];
    return static_cast<int32_t>((i * 7919u * 263u) % 0x1000000u) - 0x800000;
}

// Widths that float holds come out exactly; narrower outputs round to the
// nearest step with dither, so their error stays within a step and averages
// to nothing (truncation would leave half a step of offset).
TEST(Mixing, EverySampleWidthConvertsToTheNearestStep) {
    const auto s16 = [](size_t i) { return static_cast<int32_t>((i * 257) % 65536) - 32768; };
    const auto s32 = [](size_t i) { return static_cast<int32_t>(0x9E3779B9u * (i + 1)); };
    const WidthCase cases[] = {
        {"U8ToS16", 8, 16, [](size_t i) { return static_cast<int32_t>(i % 256); },
         [](int32_t v) { return (v - 128) * 256.0; }, 0},
        {"S16ToS32", 16, 32, s16, [](int32_t v) { return v * 65536.0; }, 0},
        {"S24ToS24", 24, 24, Spread24, [](int32_t v) { return v * 256.0; }, 0},
        {"S16ToU8", 16, 8, s16, [](int32_t v) { return v / 256.0 + 128; }, 1.5},
        {"S24ToS16", 24, 16, Spread24, [](int32_t v) { return v / 256.0; }, 1.5},
        {"S32ToU8", 32, 8, s32, [](int32_t v) { return v / 16777216.0 + 128; }, 1.5},
        // Float keeps 24 bits of a 32-bit sample.
        {"S32ToS32", 32, 32, s32, [](int32_t v) { return static_cast<double>(v); }, 128},
    };
    constexpr size_t kFrames = 4096;
    for (const WidthCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> pcm;
        for (size_t i = 0; i < kFrames * 2; ++i) PutSample(pcm, c.source(i), c.inBits);
        const auto out = Mix(Layout(2, c.outBits, 48000, 0x3), Layout(2, c.inBits, 48000, 0x3), pcm,
                             2 * kFrames);
        ASSERT_EQ(out.size(), 4 * kFrames);
        double error = 0;
        size_t unclipped = 0;
        const double top = c.outBits == 8 ? 255 : c.outBits == 16 ? 32767 : 2147483647.0;
        for (size_t i = 0; i < out.size(); ++i) {
            const int32_t in = c.source(i % (2 * kFrames));
            const double exact = std::min(c.exact(in), top);
            ASSERT_LE(std::abs(out[i] - exact), c.tolerance) << "sample " << i << " from " << in;
            if (exact < top) {
                error += out[i] - exact;
                ++unclipped;
            }
        }
        EXPECT_LT(std::abs(error / static_cast<double>(unclipped)),
                  0.02 * std::max(1.0, c.tolerance));
    }
}

WaveLayout Plain(int channels) { return Layout(channels, 16, 48000, DefaultChannelMask(channels)); }
const WaveLayout kSevenOne = Layout(8, 16, 48000, 0x63F);

struct RouteCase {
    const char* name;
    WaveLayout out;
    WaveLayout in;
    std::vector<std::vector<int>> lands;  // output channels of each input channel
};

TEST(Mixing, ChannelsLandOnTheSpeakersTheirMasksName) {
    // Speakers: FL 0x1, FR 0x2, FC 0x4, LFE 0x8, BL 0x10, BR 0x20, BC 0x100,
    // TFL 0x1000.
    const RouteCase cases[] = {
        {"MonoCentreOnStereo", Layout(2, 16, 48000, 0x3), Layout(1, 16, 48000, 0x4), {{0, 1}}},
        {"MonoCentreOnFivePointOne", Layout(6, 16, 48000, 0x3F), Layout(1, 16, 48000, 0x4), {{2}}},
        {"BackCentreOnFivePointOne",
         Layout(6, 16, 48000, 0x3F),
         Layout(3, 16, 48000, 0x103),
         {{0}, {1}, {}}},
        {"TopOnSeven", Layout(7, 16, 48000, 0x103F), Layout(3, 16, 48000, 0x1003), {{0}, {1}, {6}}},
        {"FivePointOneOnStereo",
         Layout(2, 16, 48000, 0x3),
         Layout(6, 16, 48000, 0x3F),
         {{0}, {1}, {}, {}, {}, {}}},
        {"UnnamedKeepOrder", Layout(4, 16, 48000, 0), Layout(2, 16, 48000, 0), {{0}, {1}}},
        {"AllSpeakersKeepOrder",
         Layout(2, 16, 48000, 0x3),
         Layout(3, 16, 48000, 0xFFFFFFFF),
         {{0}, {1}, {}}},
        // Plain formats name their speakers in SDL's orders for their
        // counts; on 7.1 (FL FR FC LFE BL BR SL SR) each finds its own.
        {"PlainMono", kSevenOne, Plain(1), {{2}}},
        {"PlainStereo", kSevenOne, Plain(2), {{0}, {1}}},
        {"PlainThree", kSevenOne, Plain(3), {{0}, {1}, {3}}},
        {"PlainFour", kSevenOne, Plain(4), {{0}, {1}, {4}, {5}}},
        {"PlainFive", kSevenOne, Plain(5), {{0}, {1}, {3}, {4}, {5}}},
        {"PlainSix", kSevenOne, Plain(6), {{0}, {1}, {2}, {3}, {4}, {5}}},
        {"PlainSeven", kSevenOne, Plain(7), {{0}, {1}, {2}, {3}, {}, {6}, {7}}},
        {"PlainEight", kSevenOne, Plain(8), {{0}, {1}, {2}, {3}, {4}, {5}, {6}, {7}}},
    };
    constexpr size_t kFrames = 480;
    for (const RouteCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> pcm;
        for (size_t f = 0; f < kFrames; ++f) {
            for (int ch = 0; ch < c.in.channels; ++ch) PutSample(pcm, 1000 * (ch + 1), 16);
        }
        const auto out = Mix(c.out, c.in, pcm, kFrames);
        std::vector<int32_t> expected(static_cast<size_t>(c.out.channels), 0);
        for (size_t ch = 0; ch < c.lands.size(); ++ch) {
            for (int to : c.lands[ch]) {
                expected[static_cast<size_t>(to)] += 1000 * static_cast<int32_t>(ch + 1);
            }
        }
        const auto width = static_cast<size_t>(c.out.channels);
        ASSERT_EQ(out.size(), kFrames * width);
        for (size_t f = 0; f < kFrames; ++f) {
            const std::vector<int32_t> frame(
                out.begin() + static_cast<std::ptrdiff_t>(f * width),
                out.begin() + static_cast<std::ptrdiff_t>((f + 1) * width));
            ASSERT_EQ(frame, expected) << "frame " << f;
        }
    }
}

TEST(Mixing, VolumeScalesBy10ToTheVolumeOver2000) {
    constexpr size_t kFrames = 960;
    auto source = [](size_t i) { return static_cast<int32_t>((i * 2731 + 5000) % 40000) - 20000; };
    std::vector<uint8_t> pcm;
    for (size_t i = 0; i < kFrames * 2; ++i) PutSample(pcm, source(i), 16);
    for (LONG volume : {0, -600, -2000, -9999, -10000}) {
        SCOPED_TRACE(volume);
        const double amplitude = volume <= -10000 ? 0.0 : std::pow(10.0, volume / 2000.0);
        const auto out =
            Mix(Layout(2, 16, 48000, 0x3), Layout(2, 16, 48000, 0x3), pcm, kFrames, volume);
        ASSERT_EQ(out.size(), 2 * kFrames);
        for (size_t i = 0; i < out.size(); ++i) {
            ASSERT_NEAR(out[i], source(i) * amplitude, 1.5) << "sample " << i;
        }
    }
}

struct ConversionCase {
    uint32_t inRate;
    uint32_t outRate;
    double toneHz;
};

// A 16-bit tone at -3 dBFS converted to a float output: within about 2 dB
// of the source's own noise floor (-95.1 dB), at its own level. Linear
// interpolation, for one, leaves 15 kHz from 44.1 kHz at -11 dB, 3.4 dB low.
TEST(Mixing, RateConversionKeepsASixteenBitSourceClean) {
    const ConversionCase cases[] = {
        {8000, 48000, 997},    {8000, 48000, 3000},   {11025, 48000, 4000},   {22050, 48000, 997},
        {22050, 48000, 9000},  {32000, 48000, 12000}, {44100, 48000, 997},    {44100, 48000, 15000},
        {96000, 48000, 15000}, {192000, 48000, 997},  {192000, 48000, 19000}, {48000, 44100, 997},
        {48000, 44100, 15000},
    };
    for (const ConversionCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.toneHz) + " Hz from " + std::to_string(c.inRate) + " to " +
                     std::to_string(c.outRate));
        // A second of a whole number of cycles loops without a seam.
        const std::vector<double> tone =
            mivo_fidelity::MakeTone(c.inRate, c.toneHz, -3.0, c.inRate, 16);
        std::vector<uint8_t> pcm;
        for (double v : tone) PutSample(pcm, mivo_fidelity::ToInteger(v, 16), 16);
        const OutputFormat out{c.outRate, 2, 32, 0x3, true};
        const std::vector<float> left =
            Channel(MixBytes(out, Layout(1, 16, c.inRate, 0x4), pcm, c.outRate * 3 / 2), 2, 0);
        const mivo_fidelity::ToneFigures figures =
            mivo_fidelity::MeasureTone(left.data(), left.size(), c.outRate, c.toneHz, 20, 24000);
        EXPECT_LT(figures.thdnDb, -93.0);
        EXPECT_NEAR(figures.levelDbfs, -3.0, 0.1);
    }
}

// A voice at the output's rate and unity gain reaches a float output
// unchanged, 16 and 24-bit alike.
TEST(Mixing, PassthroughToAFloatOutputIsExact) {
    for (int bits : {16, 24}) {
        SCOPED_TRACE(bits);
        const std::vector<int32_t> noise = mivo_fidelity::MakeNoise(9600, bits, 7);
        std::vector<uint8_t> pcm;
        for (int32_t v : noise) PutSample(pcm, v, bits);
        const OutputFormat out{48000, 2, 32, 0x3, true};
        const std::vector<uint8_t> bytes = MixBytes(out, Layout(2, bits, 48000, 0x3), pcm, 4800);
        const std::vector<float> expected = mivo_fidelity::ToFloat(noise, bits);
        ASSERT_EQ(bytes.size(), expected.size() * sizeof(float));
        EXPECT_EQ(std::memcmp(bytes.data(), expected.data(), bytes.size()), 0);
    }
}

}  // namespace
}  // namespace mivo_dsound
