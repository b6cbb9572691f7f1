// Where mivo-play's samples come from: a WAV file or a generated tone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "wav_file.h"

class PcmSource {
public:
    virtual ~PcmSource() = default;
    virtual const WavFormat& Format() const = 0;
    virtual uint64_t TotalFrames() const = 0;
    // Copies up to `bytes` of the next samples; returns how many it had.
    virtual size_t Read(uint8_t* out, size_t bytes) = 0;
};

// Null with a message in `error` when the file cannot be played.
std::unique_ptr<PcmSource> OpenWavSource(const std::string& path, std::string& error);

// A sine at half of full scale on two 16-bit channels at 48 kHz, faded in
// and out over 5 ms so that it starts and ends without a click.
std::unique_ptr<PcmSource> MakeToneSource(double hertz, double seconds);
