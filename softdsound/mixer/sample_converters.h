// PCM samples to and from the mixer's working form: signed 32-bit, left
// aligned whatever the width, so that 8, 16, 24 and 32-bit samples meet
// without rounding. A converter is chosen once per buffer (reading) or per
// output (writing), not per sample.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mivo_dsound {

// Reads `channels` samples of one frame.
using FrameReader = void (*)(const uint8_t* frame, size_t channels, int32_t* out);
// Writes `count` mixed samples, saturated to the output's width.
using SampleWriter = void (*)(const int64_t* mixed, size_t count, uint8_t* out);

// Null for a width the device does not take (8, 16, 24, 32 only).
FrameReader ReaderFor(int bits);
// 24-bit output travels in 32-bit containers (low byte zero): SDL and the
// sound servers have no packed 24-bit samples.
SampleWriter WriterFor(int bits);
// Bytes a sample of `bits` takes on the output.
uint32_t OutputSampleBytes(int bits);

}  // namespace mivo_dsound
