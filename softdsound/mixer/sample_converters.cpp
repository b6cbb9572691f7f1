#include "sample_converters.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace mivo_dsound {

namespace {

void ReadU8(const uint8_t* in, size_t count, float* out) {
    for (size_t i = 0; i < count; ++i) out[i] = (static_cast<float>(in[i]) - 128.0f) / 128.0f;
}

void ReadS16(const uint8_t* in, size_t count, float* out) {
    for (size_t i = 0; i < count; ++i) {
        int16_t v;
        std::memcpy(&v, in + i * 2, sizeof v);
        out[i] = static_cast<float>(v) / 32768.0f;
    }
}

void ReadS24(const uint8_t* in, size_t count, float* out) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = in + i * 3;
        const auto v = static_cast<int32_t>((uint32_t{p[0]} << 8) | (uint32_t{p[1]} << 16) |
                                            (uint32_t{p[2]} << 24)) >>
                       8;
        out[i] = static_cast<float>(v) / 8388608.0f;
    }
}

void ReadS32(const uint8_t* in, size_t count, float* out) {
    for (size_t i = 0; i < count; ++i) {
        int32_t v;
        std::memcpy(&v, in + i * 4, sizeof v);
        out[i] = static_cast<float>(v) / 2147483648.0f;
    }
}

template <typename T>
void Put(uint8_t* out, size_t i, T value) {
    std::memcpy(out + i * sizeof(T), &value, sizeof(T));
}

}  // namespace

SampleReader ReaderFor(int bits) {
    switch (bits) {
        case 8: return ReadU8;
        case 16: return ReadS16;
        case 24: return ReadS24;
        case 32: return ReadS32;
        default: return nullptr;
    }
}

float SampleWriter::Dither() {
    // Two uniform values in [0, 1) from a 32-bit xorshift: their difference
    // is triangular over (-1, 1).
    const auto next = [this] {
        noise_ ^= noise_ << 13;
        noise_ ^= noise_ >> 17;
        noise_ ^= noise_ << 5;
        return static_cast<float>(noise_ >> 8) / 16777216.0f;
    };
    const float a = next();
    return a - next();
}

void SampleWriter::Write(const float* mixed, size_t count, uint8_t* out) {
    if (format_.floating) {
        for (size_t i = 0; i < count; ++i) Put(out, i, std::clamp(mixed[i], -1.0f, 1.0f));
        return;
    }
    // Steps of full scale at the output's width; 24-bit travels in 32-bit
    // containers with the low byte zero.
    const int width = format_.bits == 24 ? 24 : format_.bits;
    const double scale = std::ldexp(1.0, width - 1);
    const double top = scale - 1.0;
    for (size_t i = 0; i < count; ++i) {
        double v = static_cast<double>(mixed[i]) * scale;
        // 32-bit output keeps all of float's precision: no step to fall between.
        if (width < 32 && v != std::nearbyint(v)) v += Dither();
        const auto s = static_cast<int32_t>(std::clamp(std::nearbyint(v), -scale, top));
        switch (format_.bits) {
            case 8: out[i] = static_cast<uint8_t>(s + 128); break;
            case 16: Put(out, i, static_cast<int16_t>(s)); break;
            case 24: Put(out, i, static_cast<int32_t>(static_cast<uint32_t>(s) << 8)); break;
            default: Put(out, i, s); break;
        }
    }
}

}  // namespace mivo_dsound
