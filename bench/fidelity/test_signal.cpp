#include "test_signal.h"

#include <algorithm>
#include <cmath>

namespace mivo_fidelity {

namespace {

constexpr double kPi = 3.14159265358979323846;

}  // namespace

double FullScale(int bits) { return std::ldexp(1.0, bits - 1); }

int32_t ToInteger(double sample, int bits) {
    const double full = FullScale(bits);
    return static_cast<int32_t>(std::clamp(std::round(sample * full), -full, full - 1.0));
}

std::vector<double> MakeTone(double rate, double toneHz, double levelDbfs, size_t count, int bits) {
    const double amplitude = std::pow(10.0, levelDbfs / 20.0);
    std::vector<double> tone(count);
    for (size_t i = 0; i < count; ++i) {
        // The phase from the sample's own index, not added up, so that the
        // rounding of a long tone does not drift.
        const double cycles = std::fmod(toneHz * static_cast<double>(i), rate) / rate;
        const double value = amplitude * std::sin(2.0 * kPi * cycles);
        tone[i] = bits == 0 ? value : ToInteger(value, bits) / FullScale(bits);
    }
    return tone;
}

std::vector<int32_t> MakeNoise(size_t count, int bits, uint32_t seed) {
    // xorshift32 never leaves 0, and any other seed runs through every
    // non-zero state.
    uint32_t state = seed == 0 ? 0x9E3779B9u : seed;
    std::vector<int32_t> noise(count);
    for (auto& sample : noise) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        // The top bits, as a two's-complement word of `bits` bits.
        sample = static_cast<int32_t>(state) >> (32 - bits);
    }
    return noise;
}

std::vector<float> ToFloat(const std::vector<int32_t>& samples, int bits) {
    const double full = FullScale(bits);
    std::vector<float> out(samples.size());
    std::transform(samples.begin(), samples.end(), out.begin(),
                   [full](int32_t s) { return static_cast<float>(s / full); });
    return out;
}

}  // namespace mivo_fidelity
