// Where mivo-play's samples come from: a sound file or a generated tone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// The PCM mivo-play streams: interleaved signed integers, 16-bit, or 32-bit
// of which `validBits` carry the sample (left-justified).
struct PcmFormat {
    int32_t channels = 2;
    uint16_t bits = 16;       // 16 or 32
    uint16_t validBits = 16;  // 16, or 24 or 32 in a 32-bit container
    int32_t rate = 48000;
    int32_t layoutKind = 0;  // CreatePrimaryBuffer's 3-channel layout, 0 when unknown

    uint32_t FrameBytes() const { return static_cast<uint32_t>(channels) * bits / 8u; }
};

class PcmSource {
public:
    PcmSource() = default;
    virtual ~PcmSource() = default;
    PcmSource(const PcmSource&) = delete;
    PcmSource& operator=(const PcmSource&) = delete;

    virtual const PcmFormat& Format() const = 0;
    // As far as the source knows beforehand; for progress only.
    virtual uint64_t TotalFrames() const = 0;
    // Copies up to `bytes` (whole frames) of the next samples; returns how
    // many it had, 0 at the end.
    virtual size_t Read(uint8_t* out, size_t bytes) = 0;
};

// A sine at half of full scale on two 16-bit channels at 48 kHz, faded in
// and out over 5 ms so that it starts and ends without a click.
std::unique_ptr<PcmSource> MakeToneSource(double hertz, double seconds);
