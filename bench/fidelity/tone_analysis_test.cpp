// The analysis against what theory says of made-up signals: rounding to a
// word length, and linear interpolation from 44.1 to 48 kHz (done here from
// its formula, not by the device). Then the bit-exactness check and the gap
// count on captures with known faults.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "bit_exactness.h"
#include "capture_scan.h"
#include "test_signal.h"
#include "tone_analysis.h"

namespace mivo_fidelity {
namespace {

constexpr double kRate = 48000.0;
constexpr double kPi = 3.14159265358979323846;
constexpr size_t kCount = kMaxToneWindow + 4800;

std::vector<float> Narrow(const std::vector<double>& samples) {
    return {samples.begin(), samples.end()};
}

// A -3 dBFS tone at 44.1 kHz, read at 48 kHz by straight-line
// interpolation between its two neighbouring samples.
std::vector<float> LinearFrom44100(double toneHz) {
    const double amplitude = std::pow(10.0, -3.0 / 20.0);
    const auto source = [&](double n) {
        return amplitude * std::sin(2 * kPi * toneHz * n / 44100);
    };
    std::vector<float> out(kCount);
    for (size_t m = 0; m < kCount; ++m) {
        const double at = static_cast<double>(m) * 44100.0 / kRate;
        const double n = std::floor(at);
        const double fraction = at - n;
        out[m] = static_cast<float>(source(n) + (source(n + 1) - source(n)) * fraction);
    }
    return out;
}

TEST(ToneAnalysis, AgreesWithTheory) {
    constexpr double kAny = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        std::string name;
        std::function<std::vector<float>()> signal;
        double toneHz;
        double thdn, thdnTolerance;
        double level, levelTolerance;
        double sfdr, sfdrTolerance;  // kAny: not judged
    };
    const std::vector<Case> cases = {
        {"16-bit at -3 dBFS", [] { return Narrow(MakeTone(kRate, 997, -3, kCount, 16)); }, 997,
         -95.1, 0.5, -3.0, 0.01, kAny, 0},
        {"24-bit at -3 dBFS", [] { return Narrow(MakeTone(kRate, 997, -3, kCount, 24)); }, 997,
         -143.3, 1.0, -3.0, 0.01, kAny, 0},
        {"16-bit at full scale", [] { return Narrow(MakeTone(kRate, 997, 0, kCount, 16)); }, 997,
         -98.1, 0.5, 0.0, 0.01, kAny, 0},
        // The interpolation's sinc^2 response: the tone 3.44 dB down and its
        // image from 29.1 kHz folded to 18.9 kHz, 11.5 dB below it.
        {"linear 44.1 to 48 kHz, 15 kHz", [] { return LinearFrom44100(15000); }, 15000, -11.1, 0.2,
         -6.44, 0.02, -11.5, 0.2},
        {"linear 44.1 to 48 kHz, 997 Hz", [] { return LinearFrom44100(997); }, 997, -62.5, 0.3,
         -3.015, 0.01, kAny, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<float> samples = c.signal();
        const ToneFigures f = MeasureTone(samples.data(), samples.size(), kRate, c.toneHz);
        EXPECT_NEAR(f.thdnDb, c.thdn, c.thdnTolerance);
        EXPECT_NEAR(f.levelDbfs, c.level, c.levelTolerance);
        EXPECT_NEAR(f.peakHz, c.toneHz, 0.05);
        if (!std::isnan(c.sfdr)) {
            EXPECT_NEAR(f.sfdrDb, c.sfdr, c.sfdrTolerance);
        }
        // The largest spur is part of everything that is not the tone.
        EXPECT_LE(f.sfdrDb, f.thdnDb);
    }
}

TEST(BitExactness, FindsTheReferenceAndEveryChange) {
    const std::vector<int32_t> reference = MakeNoise(20000, 16, 7);
    const std::vector<float> clean = ToFloat(reference, 16);
    struct Case {
        std::string name;
        std::function<std::vector<float>()> capture;
        long long offset;
        size_t compared, matching;
        long long firstMismatch;
    };
    const auto padded = [&](size_t before, std::vector<float> middle, size_t after) {
        std::vector<float> out(before, 0.0F);
        out.insert(out.end(), middle.begin(), middle.end());
        out.resize(out.size() + after, 0.0F);
        return out;
    };
    const std::vector<Case> cases = {
        {"delayed copy", [&] { return padded(1000, clean, 500); }, 1000, 20000, 20000, -1},
        {"one step off",
         [&] {
             auto changed = clean;
             changed[777] += 1.0F / 32768;
             return padded(1000, changed, 500);
         },
         1000, 20000, 19999, 777},
        {"capture starts late",
         [&] { return std::vector<float>(clean.begin() + 300, clean.end()); }, -300, 19700, 19700,
         -1},
        {"tail missing",
         [&] {
             return padded(50, {clean.begin(), clean.begin() + 15000}, 0);
         },
         50, 15000, 15000, -1},
        {"scaled by 1/32767 instead of 1/32768",
         [&] {
             std::vector<float> scaled(reference.size());
             for (size_t i = 0; i < reference.size(); ++i) {
                 scaled[i] = static_cast<float>(reference[i] / 32767.0);
             }
             return padded(10, scaled, 10);
         },
         10, 20000, 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<float> capture = c.capture();
        const BitExactness r =
            CompareBitExact(capture.data(), capture.size(), reference.data(), reference.size(), 16);
        EXPECT_EQ(r.offset, c.offset);
        EXPECT_EQ(r.compared, c.compared);
        // Scaling leaves only the zeros and a few small values unchanged.
        if (c.matching == 0) {
            EXPECT_LT(r.matching, c.compared / 100);
            EXPECT_GE(r.firstMismatch, 0);
        } else {
            EXPECT_EQ(r.matching, c.matching);
            EXPECT_EQ(r.firstMismatch, c.firstMismatch);
        }
        EXPECT_EQ(IsBitExact(r, reference.size()), c.matching == reference.size());
    }
}

TEST(CaptureScan, FindsSilencesInsideTheSignal) {
    // The tone's first sample is 0, so it sounds from its second one.
    const std::vector<float> tone = Narrow(MakeTone(kRate, 997, -23, 9600, 16));
    struct Case {
        std::string name;
        std::vector<Span> holes;
        size_t gaps;
        Span longest;  // the longest stretch without a gap
    };
    const std::vector<Case> cases = {
        {"none", {}, 0, {1, 9600}},
        {"2 ms", {{4000, 4096}}, 1, {4096, 9600}},
        {"half a millisecond", {{4000, 4024}}, 0, {1, 9600}},
        {"1.5 ms twice", {{2000, 2072}, {6000, 6072}}, 2, {2072, 6000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The silence before and after the signal is not a gap.
        constexpr size_t kLead = 4800;
        std::vector<float> capture(kLead, 0.0F);
        capture.insert(capture.end(), tone.begin(), tone.end());
        capture.resize(capture.size() + kLead, 0.0F);
        for (const Span& hole : c.holes) {
            std::fill(capture.begin() + static_cast<long>(kLead + hole.first),
                      capture.begin() + static_cast<long>(kLead + hole.end), 0.0F);
        }
        EXPECT_EQ(CountGaps(capture, kSilence, 48), c.gaps);
        EXPECT_EQ(GapFreeStretches(capture, kSilence, 48).size(), c.gaps + 1);
        const Span longest = LongestGapFree(capture, kSilence, 48);
        EXPECT_EQ(longest.first, kLead + c.longest.first);
        EXPECT_EQ(longest.end, kLead + c.longest.end);
    }
}

}  // namespace
}  // namespace mivo_fidelity
