#include "fft.h"

#include <cmath>
#include <utility>

namespace mivo_fidelity {

namespace {

constexpr double kPi = 3.14159265358979323846;

void BitReverse(std::vector<std::complex<double>>& data) {
    const size_t n = data.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(data[i], data[j]);
    }
}

}  // namespace

void Fft(std::vector<std::complex<double>>& data, bool inverse) {
    const size_t n = data.size();
    if (n < 2) return;
    BitReverse(data);
    const double sign = inverse ? 1.0 : -1.0;
    // The twiddles of the last stage; every earlier stage takes every
    // (n / length)-th of them.
    std::vector<std::complex<double>> twiddle(n / 2);
    for (size_t k = 0; k < n / 2; ++k) {
        const double angle = sign * 2.0 * kPi * static_cast<double>(k) / static_cast<double>(n);
        twiddle[k] = {std::cos(angle), std::sin(angle)};
    }
    for (size_t length = 2; length <= n; length <<= 1) {
        const size_t half = length / 2;
        const size_t stride = n / length;
        for (size_t start = 0; start < n; start += length) {
            for (size_t k = 0; k < half; ++k) {
                // Written out: std::complex's operator* checks for infinities
                // on every product, which an unoptimised build pays dearly.
                const std::complex<double> w = twiddle[k * stride];
                const std::complex<double> x = data[start + k + half];
                const std::complex<double> odd{x.real() * w.real() - x.imag() * w.imag(),
                                               x.real() * w.imag() + x.imag() * w.real()};
                data[start + k + half] = data[start + k] - odd;
                data[start + k] += odd;
            }
        }
    }
    if (inverse) {
        const double scale = 1.0 / static_cast<double>(n);
        for (auto& value : data) value *= scale;
    }
}

size_t PowerOfTwoAtMost(size_t n) {
    if (n == 0) return 0;
    size_t power = 1;
    while (power <= n / 2) power <<= 1;
    return power;
}

size_t PowerOfTwoAtLeast(size_t n) {
    size_t power = 1;
    while (power < n) power <<= 1;
    return power;
}

}  // namespace mivo_fidelity
