// What a capture of the sink holds besides the signal's quality: where the
// signal sounds, and the silences inside it that the output let in.
#pragma once

#include <cstddef>
#include <vector>

namespace mivo_fidelity {

// One channel of an interleaved capture.
std::vector<float> Channel(const std::vector<float>& interleaved, size_t channels, size_t channel);

// The first sample louder than `threshold`, and one past the last; an empty
// span (first == end) when none is.
struct Span {
    size_t first = 0;
    size_t end = 0;
};
Span Sounding(const std::vector<float>& samples, float threshold);

// Runs of more than `minSamples` samples no louder than `threshold` within
// the sounding span: an output that ran dry, or lost a stretch of signal.
size_t CountGaps(const std::vector<float>& samples, float threshold, size_t minSamples);

// The stretches of the sounding span between such gaps, in order: what
// played, in pieces, when the output dropped out.
std::vector<Span> GapFreeStretches(const std::vector<float>& samples, float threshold,
                                   size_t minSamples);

// The longest of them: where a tone can still be measured when the output
// dropped out elsewhere.
Span LongestGapFree(const std::vector<float>& samples, float threshold, size_t minSamples);

// About 3 steps of a 16-bit word: the quietest test signal (a -3 dBFS tone
// at -20 dB) moves by far more than this from one sample to the next, even
// through its zero crossings, and an output's silence stays below it.
constexpr float kSilence = 1e-4F;

}  // namespace mivo_fidelity
