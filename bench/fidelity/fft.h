// A radix-2 FFT in double precision, enough for the bench's captures: the
// twiddles are computed one by one rather than by recurrence, so that the
// rounding stays near the transform's own floor (well below -150 dB) even
// at 2^20 points.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

namespace mivo_fidelity {

// In place; `data.size()` must be a power of two. `inverse` also divides
// by the size, so a forward and an inverse transform give back the input.
void Fft(std::vector<std::complex<double>>& data, bool inverse = false);

// The largest power of two not above `n` (0 for 0).
size_t PowerOfTwoAtMost(size_t n);

// The smallest power of two not below `n` (1 for 0).
size_t PowerOfTwoAtLeast(size_t n);

}  // namespace mivo_fidelity
