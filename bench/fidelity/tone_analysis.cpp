#include "tone_analysis.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <vector>

#include "fft.h"

namespace mivo_fidelity {

namespace {

constexpr double kPi = 3.14159265358979323846;

// The 7-term Blackman-Harris window: side lobes below -180 dB, so that a
// 24-bit source's floor (-143 dB at -3 dBFS) is not hidden under the
// tone's own leakage.
constexpr double kWindowTerms[] = {0.27105140069342, 0.43329793923448, 0.21812299954311,
                                   0.06592544638803, 0.01081174209837, 0.00077658482522,
                                   0.00001388721735};

// The one-sided power spectrum, scaled so that a bin's value is the mean
// square of the signal it holds: a full-scale sine's main lobe sums to 0.5.
std::vector<double> PowerSpectrum(const float* samples, size_t n) {
    std::vector<std::complex<double>> data(n);
    double windowSquares = 0.0;
    for (size_t i = 0; i < n; ++i) {
        double w = 0.0;
        double sign = 1.0;
        for (size_t k = 0; k < std::size(kWindowTerms); ++k, sign = -sign) {
            const double angle = 2.0 * kPi * static_cast<double>(k * i) / static_cast<double>(n);
            w += sign * kWindowTerms[k] * std::cos(angle);
        }
        windowSquares += w * w;
        data[i] = {w * samples[i], 0.0};
    }
    Fft(data);
    std::vector<double> power(n / 2 + 1);
    const double scale = 2.0 / (static_cast<double>(n) * windowSquares);
    for (size_t k = 0; k <= n / 2; ++k) power[k] = std::norm(data[k]) * scale;
    // DC and Nyquist have no mirror image in the other half.
    power[0] /= 2.0;
    power[n / 2] /= 2.0;
    return power;
}

double Decibels(double ratio) {
    return ratio > 0.0 ? 10.0 * std::log10(ratio) : -std::numeric_limits<double>::infinity();
}

struct Band {
    size_t low;   // first bin counted
    size_t high;  // last bin counted
};

}  // namespace

ToneFigures MeasureTone(const float* samples, size_t count, double rate, double toneHz,
                        double lowHz, double highHz) {
    constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
    const size_t n = std::min(PowerOfTwoAtMost(count), kMaxToneWindow);
    if (n < 64 * kLobeBins || rate <= 0.0 || toneHz <= 0.0 || toneHz >= rate / 2) {
        return {kNan, kNan, kNan, kNan};
    }
    const std::vector<double> power = PowerSpectrum(samples + (count - n) / 2, n);
    const size_t last = n / 2;
    const double binHz = rate / static_cast<double>(n);
    const auto bin = [&](double hz) {
        return static_cast<size_t>(std::clamp(std::round(hz / binHz), 0.0, double(last)));
    };

    // The fundamental: the strongest bin near where it was asked for.
    const size_t searchFrom =
        std::max(std::min(bin(toneHz * 0.95), bin(toneHz) - kLobeBins), kLobeBins + 1);
    const size_t searchTo = std::min(std::max(bin(toneHz * 1.05), bin(toneHz) + kLobeBins), last);
    size_t peak = searchFrom;
    for (size_t k = searchFrom; k <= searchTo; ++k) {
        if (power[k] > power[peak]) peak = k;
    }
    const Band lobe{peak - std::min(peak, kLobeBins), std::min(peak + kLobeBins, last)};
    double fundamental = 0.0;
    double weighted = 0.0;
    for (size_t k = lobe.low; k <= lobe.high; ++k) {
        fundamental += power[k];
        weighted += power[k] * static_cast<double>(k);
    }

    // Everything else in the band, less DC's own lobe.
    const Band band{std::max(bin(lowHz), kLobeBins + 1), highHz > 0.0 ? bin(highHz) : last};
    const auto counted = [&](size_t k) {
        return k >= band.low && k <= band.high && (k < lobe.low || k > lobe.high);
    };
    double rest = 0.0;
    size_t spur = 0;
    for (size_t k = band.low; k <= band.high; ++k) {
        if (!counted(k)) continue;
        rest += power[k];
        if (spur == 0 || power[k] > power[spur]) spur = k;
    }
    double spurPower = 0.0;
    if (spur != 0) {
        for (size_t k = spur - std::min(spur, kLobeBins); k <= std::min(spur + kLobeBins, last);
             ++k) {
            if (counted(k)) spurPower += power[k];
        }
    }

    ToneFigures figures{};
    figures.levelDbfs = Decibels(fundamental / 0.5);
    figures.thdnDb = Decibels(rest / fundamental);
    figures.sfdrDb = Decibels(spurPower / fundamental);
    figures.peakHz = fundamental > 0.0 ? weighted / fundamental * binHz : kNan;
    return figures;
}

}  // namespace mivo_fidelity
