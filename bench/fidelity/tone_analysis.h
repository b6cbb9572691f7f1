// Measuring a captured test tone: its level, THD+N and largest spur, the
// way audio analysers do (a 7-term Blackman-Harris window over a
// power-of-two stretch of steady signal, powers summed from the spectrum).
#pragma once

#include <cstddef>

namespace mivo_fidelity {

struct ToneFigures {
    double levelDbfs;  // the fundamental's level, dB re full scale (a full-scale sine = 0 dBFS)
    double thdnDb;     // THD+N: everything in [lowHz, highHz] except the fundamental's main
                       // lobe (and DC), against the fundamental, dB
    double sfdrDb;     // the largest single spur against the fundamental, dB (negative)
    double peakHz;     // where the fundamental was found
};

// `samples`: one channel, full scale +-1.0; at least ~0.5 s at `rate`.
// 7-term Blackman-Harris window over the largest power-of-two stretch that
// fits (at most kMaxToneWindow, taken from the middle), highHz 0 = Nyquist.
// The fundamental is the strongest peak within 5% of `toneHz`.
ToneFigures MeasureTone(const float* samples, size_t count, double rate, double toneHz,
                        double lowHz = 20.0, double highHz = 0.0);

// The most samples MeasureTone looks at: 2^18, about 5.5 s at 48 kHz.
constexpr size_t kMaxToneWindow = size_t{1} << 18;

// Bins either side of a peak that belong to it: the window's main lobe
// reaches its first zero 7 bins out.
constexpr size_t kLobeBins = 8;

}  // namespace mivo_fidelity
