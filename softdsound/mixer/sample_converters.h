// PCM samples to and from the mixer's working form, 32-bit float with full
// scale at +-1.0. Float holds 8, 16 and 24-bit samples exactly, so a voice
// at unity gain reaches a float output unchanged. A reader is chosen once
// per buffer and a writer once per output, not per sample.
#pragma once

#include <cstddef>
#include <cstdint>

#include "output/output_backend.h"

namespace mivo_dsound {

// Reads `count` samples of one width as floats.
using SampleReader = void (*)(const uint8_t* in, size_t count, float* out);

// Null for a width the device does not take (8, 16, 24, 32 only).
SampleReader ReaderFor(int bits);

// Writes mixed samples in the output's format, clipped to full scale. An
// integer output gets each sample rounded to the nearest of its values;
// a sample that falls between two of them (a mix, a volume, a converted
// rate) gets triangular (TPDF) dither of one step first, so the rounding
// error is noise rather than distortion, while a sample that is already
// one of them, as a 16-bit voice at unity on a 16-bit output, stays as it is.
class SampleWriter {
public:
    SampleWriter() = default;
    explicit SampleWriter(const OutputFormat& format) : format_(format) {}

    void Write(const float* mixed, size_t count, uint8_t* out);

private:
    // One step of triangular noise, centred on zero.
    float Dither();

    OutputFormat format_;
    uint32_t noise_ = 0x2545F491u;
};

}  // namespace mivo_dsound
