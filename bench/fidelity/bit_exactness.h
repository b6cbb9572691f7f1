// Whether a capture holds a reference signal unchanged: the reference is
// found in the capture by cross-correlation, then compared sample by sample.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mivo_fidelity {

struct BitExactness {
    long long offset = 0;          // where the reference's first sample lies in the capture
                                   // (negative: the capture starts partway into it)
    size_t compared = 0;           // reference samples the capture covers from there
    size_t matching = 0;           // of those, the ones the capture holds exactly
    long long firstMismatch = -1;  // reference index of the first that differs, -1 if none
};

// `capture` and `reference` hold one channel each, full scale +-1.0; the
// reference is `bits`-bit integers. A captured sample matches when it is
// exactly the reference's value over full scale, which every float sink
// and 16- or 24-bit one holds without loss.
BitExactness CompareBitExact(const float* capture, size_t captureCount, const int32_t* reference,
                             size_t referenceCount, int bits);

// True when every reference sample was captured and every one matches.
inline bool IsBitExact(const BitExactness& result, size_t referenceCount) {
    return result.compared == referenceCount && result.matching == referenceCount;
}

}  // namespace mivo_fidelity
