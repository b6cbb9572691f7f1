#include "capture_scan.h"

#include <cmath>

namespace mivo_fidelity {

std::vector<float> Channel(const std::vector<float>& interleaved, size_t channels, size_t channel) {
    std::vector<float> out;
    if (channels == 0 || channel >= channels) return out;
    out.reserve(interleaved.size() / channels);
    for (size_t i = channel; i < interleaved.size(); i += channels) out.push_back(interleaved[i]);
    return out;
}

Span Sounding(const std::vector<float>& samples, float threshold) {
    Span span;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (std::fabs(samples[i]) > threshold) {
            if (span.end == 0) span.first = i;
            span.end = i + 1;
        }
    }
    return span;
}

size_t CountGaps(const std::vector<float>& samples, float threshold, size_t minSamples) {
    const Span span = Sounding(samples, threshold);
    size_t gaps = 0;
    size_t quiet = 0;
    for (size_t i = span.first; i < span.end; ++i) {
        if (std::fabs(samples[i]) <= threshold) {
            if (++quiet == minSamples + 1) ++gaps;
        } else {
            quiet = 0;
        }
    }
    return gaps;
}

}  // namespace mivo_fidelity
