// What the mixer makes of a voice, in memory on the test backend: every
// sample width in and out, speaker routing by mask, volume, and resampling.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>

#include "mixer.h"
#include "output/test_output.h"

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
std::vector<int32_t> Mix(const WaveLayout& out, const WaveLayout& in,
                         const std::vector<uint8_t>& pcm, uint64_t frames,
                         LONG volume = DSBVOLUME_MAX) {
    TestBackend backend;
    Mixer mixer(backend);
    std::unique_ptr<Output> output =
        backend.Open({out.rate, out.channels, out.bits, out.channelMask}, "", mixer);
    mixer.SetOutput(out, output->PeriodFrames());
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
    std::vector<int32_t> samples = Samples(backend.Played(), out.bits);
    const auto silent = static_cast<std::ptrdiff_t>(lead * static_cast<uint64_t>(out.channels));
    EXPECT_TRUE(std::all_of(samples.begin(), samples.begin() + silent,
                            [&](int32_t v) { return v == (out.bits == 8 ? 128 : 0); }));
    return {samples.begin() + silent, samples.end()};
}

struct WidthCase {
    const char* name;
    int inBits;
    int outBits;
    std::function<int32_t(size_t)> source;     // as stored: 8-bit unsigned
    std::function<int32_t(int32_t)> expected;  // in the output container
};

int32_t Spread24(size_t i) {
    constexpr int32_t kEdges[] = {0x7FFFFF, -0x800000, 1, -1, 0x123456, -0x654321};
    if (i < 6) return kEdges[i];
    return static_cast<int32_t>((i * 7919u * 263u) % 0x1000000u) - 0x800000;
}

TEST(Mixing, EverySampleWidthConvertsExactly) {
    const WidthCase cases[] = {
        {"U8ToS16", 8, 16, [](size_t i) { return static_cast<int32_t>(i % 256); },
         [](int32_t v) { return (v - 128) * 256; }},
        {"S16ToU8", 16, 8, [](size_t i) { return static_cast<int32_t>((i * 257) % 65536) - 32768; },
         [](int32_t v) { return static_cast<int32_t>(std::floor(v / 256.0)) + 128; }},
        {"S16ToS32", 16, 32,
         [](size_t i) { return static_cast<int32_t>((i * 263) % 65536) - 32768; },
         [](int32_t v) { return v * 65536; }},
        {"S24ToS24", 24, 24, Spread24, [](int32_t v) { return v * 256; }},
        {"S24ToS16", 24, 16, Spread24,
         [](int32_t v) { return static_cast<int32_t>(std::floor(v / 256.0)); }},
        {"S32ToS32", 32, 32, [](size_t i) { return static_cast<int32_t>(0x9E3779B9u * (i + 1)); },
         [](int32_t v) { return v; }},
        {"S32ToU8", 32, 8, [](size_t i) { return static_cast<int32_t>(0x9E3779B9u * (i + 1)); },
         [](int32_t v) { return static_cast<int32_t>(std::floor(v / 16777216.0)) + 128; }},
    };
    constexpr size_t kFrames = 1024;
    for (const WidthCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> pcm;
        for (size_t i = 0; i < kFrames * 2; ++i) PutSample(pcm, c.source(i), c.inBits);
        const auto out = Mix(Layout(2, c.outBits, 48000, 0x3), Layout(2, c.inBits, 48000, 0x3), pcm,
                             2 * kFrames);
        ASSERT_EQ(out.size(), 4 * kFrames);
        for (size_t i = 0; i < out.size(); ++i) {
            const int32_t in = c.source(i % (2 * kFrames));
            ASSERT_EQ(out[i], c.expected(in)) << "sample " << i << " from " << in;
        }
    }
}

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
            ASSERT_NEAR(out[i], source(i) * amplitude, 1.0) << "sample " << i;
        }
    }
}

// Rising zero crossings a second of a channel, placed between samples.
double Frequency(const std::vector<int32_t>& out, size_t channels, uint32_t rate) {
    std::vector<double> crossings;
    for (size_t f = 1; f < out.size() / channels; ++f) {
        const double a = out[channels * (f - 1)];
        const double b = out[channels * f];
        if (a < 0 && b >= 0) crossings.push_back(static_cast<double>(f - 1) + (-a / (b - a)));
    }
    if (crossings.size() < 2) return 0;
    return static_cast<double>(crossings.size() - 1) * rate /
           (crossings.back() - crossings.front());
}

TEST(Mixing, ResamplingKeepsPitchAndAmplitude) {
    constexpr double kTone = 441.0;
    constexpr int kAmplitude = 10000;
    for (const auto& [inRate, outRate] : {std::pair<uint32_t, uint32_t>{22050, 48000},
                                          {44100, 48000},
                                          {48000, 44100},
                                          {96000, 48000},
                                          {8000, 48000}}) {
        SCOPED_TRACE(std::to_string(inRate) + " Hz on " + std::to_string(outRate) + " Hz");
        std::vector<uint8_t> pcm;
        for (uint32_t n = 0; n < inRate; ++n) {
            PutSample(pcm,
                      static_cast<int32_t>(
                          std::lround(kAmplitude * std::sin(2 * M_PI * kTone * n / inRate))),
                      16);
        }
        const auto out = Mix(Layout(2, 16, outRate, 0x3), Layout(1, 16, inRate, 0x4), pcm, outRate);
        ASSERT_EQ(out.size(), 2u * outRate);
        EXPECT_NEAR(Frequency(out, 2, outRate), kTone, 0.2);
        const int32_t peak = *std::max_element(out.begin(), out.end());
        EXPECT_NEAR(peak, kAmplitude, kAmplitude * 0.01);
    }
}

}  // namespace
}  // namespace mivo_dsound
