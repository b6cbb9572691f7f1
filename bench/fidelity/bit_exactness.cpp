#include "bit_exactness.h"

#include <complex>
#include <vector>

#include "fft.h"
#include "test_signal.h"

namespace mivo_fidelity {

namespace {

// The lag at which the reference best lines up with the capture, from the
// circular correlation of both, zero-padded so that no lag wraps.
long long BestLag(const float* capture, size_t captureCount, const int32_t* reference,
                  size_t referenceCount) {
    const size_t n = PowerOfTwoAtLeast(captureCount + referenceCount);
    std::vector<std::complex<double>> c(n);
    std::vector<std::complex<double>> r(n);
    for (size_t i = 0; i < captureCount; ++i) c[i] = capture[i];
    for (size_t i = 0; i < referenceCount; ++i) r[i] = reference[i];
    Fft(c);
    Fft(r);
    for (size_t k = 0; k < n; ++k) c[k] *= std::conj(r[k]);
    Fft(c, true);
    // Index k holds lag k; the top half, lags k - n (the capture starting
    // after the reference's start).
    size_t best = 0;
    for (size_t k = 1; k < n; ++k) {
        if (c[k].real() > c[best].real()) best = k;
    }
    const auto lag = static_cast<long long>(best);
    return best < captureCount ? lag : lag - static_cast<long long>(n);
}

}  // namespace

BitExactness CompareBitExact(const float* capture, size_t captureCount, const int32_t* reference,
                             size_t referenceCount, int bits) {
    BitExactness result;
    if (captureCount == 0 || referenceCount == 0) return result;
    result.offset = BestLag(capture, captureCount, reference, referenceCount);
    const double full = FullScale(bits);
    for (size_t i = 0; i < referenceCount; ++i) {
        const long long at = result.offset + static_cast<long long>(i);
        if (at < 0) continue;
        if (at >= static_cast<long long>(captureCount)) break;
        ++result.compared;
        if (capture[at] == static_cast<float>(reference[i] / full)) {
            ++result.matching;
        } else if (result.firstMismatch < 0) {
            result.firstMismatch = static_cast<long long>(i);
        }
    }
    return result;
}

}  // namespace mivo_fidelity
