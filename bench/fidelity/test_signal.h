// The bench's test signals, the same on every system that builds them:
// tones rounded to the source's word length, and noise from a fixed
// integer generator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mivo_fidelity {

// Full scale of a `bits`-bit sample: 2^(bits - 1).
double FullScale(int bits);

// A sine of `toneHz` at `levelDbfs` (0 dBFS: a sine whose peaks touch full
// scale), sampled at `rate`, rounded to the nearest `bits`-bit value
// (16 or 24; 0 leaves it unrounded, as a fraction of full scale) and
// clipped to the word's range. Returns full-scale-relative values (+-1.0).
std::vector<double> MakeTone(double rate, double toneHz, double levelDbfs, size_t count, int bits);

// `count` samples of white noise over the whole `bits`-bit range, as
// integers; `seed` picks the sequence (xorshift, so every platform makes
// the same one).
std::vector<int32_t> MakeNoise(size_t count, int bits, uint32_t seed);

// Integers of `bits` bits as fractions of full scale, in single precision
// (exact up to 24 bits), as a float sink or capture holds them.
std::vector<float> ToFloat(const std::vector<int32_t>& samples, int bits);

// A sample of `bits` bits from a fraction of full scale, rounded to
// nearest and clipped to the word.
int32_t ToInteger(double sample, int bits);

}  // namespace mivo_fidelity
