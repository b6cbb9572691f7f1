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

namespace {

// The gaps of the sounding span, in order.
std::vector<Span> Gaps(const std::vector<float>& samples, float threshold, size_t minSamples) {
    const Span span = Sounding(samples, threshold);
    std::vector<Span> gaps;
    size_t quiet = 0;
    for (size_t i = span.first; i < span.end; ++i) {
        if (std::fabs(samples[i]) > threshold) {
            if (quiet > minSamples) gaps.push_back({i - quiet, i});
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return gaps;
}

}  // namespace

size_t CountGaps(const std::vector<float>& samples, float threshold, size_t minSamples) {
    return Gaps(samples, threshold, minSamples).size();
}

std::vector<Span> GapFreeStretches(const std::vector<float>& samples, float threshold,
                                   size_t minSamples) {
    const Span span = Sounding(samples, threshold);
    std::vector<Span> stretches;
    size_t from = span.first;
    for (const Span& gap : Gaps(samples, threshold, minSamples)) {
        stretches.push_back({from, gap.first});
        from = gap.end;
    }
    if (span.end > from) stretches.push_back({from, span.end});
    return stretches;
}

Span LongestGapFree(const std::vector<float>& samples, float threshold, size_t minSamples) {
    Span best;
    for (const Span& s : GapFreeStretches(samples, threshold, minSamples)) {
        if (s.end - s.first > best.end - best.first) best = s;
    }
    return best;
}

}  // namespace mivo_fidelity
