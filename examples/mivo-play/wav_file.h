// RIFF WAVE files: the PCM header mivo-play reads and writes.
#pragma once

#include <cstdint>
#include <string>

struct WavFormat {
    int32_t channels = 2;
    uint16_t bits = 16;       // container bits: 8, 16, 24 or 32
    uint16_t validBits = 16;  // equal to bits unless the file says less
    int32_t rate = 48000;
    uint32_t channelMask = 0;  // 0 when the file names no speakers

    uint32_t FrameBytes() const { return static_cast<uint32_t>(channels) * bits / 8; }
};

struct WavInfo {
    WavFormat format;
    uint64_t dataOffset = 0;  // where the samples start in the file
    uint64_t dataBytes = 0;   // whole frames only
};

// Reads the header of a PCM WAV file (plain or WAVE_FORMAT_EXTENSIBLE).
// False with a message in `error` when the file is missing or is not PCM
// that mivo can play (1 to 8 channels, 8/16/24/32-bit).
bool ReadWavHeader(const std::string& path, WavInfo& info, std::string& error);

// The 44-byte (plain) or 68-byte (extensible) header of a file holding
// `dataBytes` of samples in `format`.
std::string WavHeader(const WavFormat& format, uint64_t dataBytes);
