#include "sample_converters.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace mivo_dsound {

namespace {

void ReadU8(const uint8_t* frame, size_t channels, int32_t* out) {
    for (size_t c = 0; c < channels; ++c) {
        out[c] = static_cast<int32_t>(static_cast<uint32_t>(frame[c] ^ 0x80u) << 24);
    }
}

void ReadS16(const uint8_t* frame, size_t channels, int32_t* out) {
    for (size_t c = 0; c < channels; ++c) {
        int16_t v;
        std::memcpy(&v, frame + c * 2, sizeof v);
        out[c] = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(v)) << 16);
    }
}

void ReadS24(const uint8_t* frame, size_t channels, int32_t* out) {
    for (size_t c = 0; c < channels; ++c) {
        const uint8_t* p = frame + c * 3;
        out[c] = static_cast<int32_t>((uint32_t{p[0]} << 8) | (uint32_t{p[1]} << 16) |
                                      (uint32_t{p[2]} << 24));
    }
}

void ReadS32(const uint8_t* frame, size_t channels, int32_t* out) {
    std::memcpy(out, frame, channels * sizeof(int32_t));
}

int32_t Saturate(int64_t v) {
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(std::clamp(v, kMin, kMax));
}

void WriteU8(const int64_t* mixed, size_t count, uint8_t* out) {
    for (size_t i = 0; i < count; ++i) {
        out[i] = static_cast<uint8_t>((static_cast<uint32_t>(Saturate(mixed[i])) >> 24) ^ 0x80u);
    }
}

void WriteS16(const int64_t* mixed, size_t count, uint8_t* out) {
    for (size_t i = 0; i < count; ++i) {
        const auto s = static_cast<int16_t>(static_cast<uint32_t>(Saturate(mixed[i])) >> 16);
        std::memcpy(out + i * 2, &s, sizeof s);
    }
}

void WriteS24In32(const int64_t* mixed, size_t count, uint8_t* out) {
    for (size_t i = 0; i < count; ++i) {
        const auto s =
            static_cast<int32_t>(static_cast<uint32_t>(Saturate(mixed[i])) & 0xFFFFFF00u);
        std::memcpy(out + i * 4, &s, sizeof s);
    }
}

void WriteS32(const int64_t* mixed, size_t count, uint8_t* out) {
    for (size_t i = 0; i < count; ++i) {
        const int32_t s = Saturate(mixed[i]);
        std::memcpy(out + i * 4, &s, sizeof s);
    }
}

}  // namespace

FrameReader ReaderFor(int bits) {
    switch (bits) {
        case 8: return ReadU8;
        case 16: return ReadS16;
        case 24: return ReadS24;
        case 32: return ReadS32;
        default: return nullptr;
    }
}

SampleWriter WriterFor(int bits) {
    switch (bits) {
        case 8: return WriteU8;
        case 16: return WriteS16;
        case 24: return WriteS24In32;
        case 32: return WriteS32;
        default: return nullptr;
    }
}

uint32_t OutputSampleBytes(int bits) { return bits == 24 ? 4 : static_cast<uint32_t>(bits / 8); }

}  // namespace mivo_dsound
