#include "output_guid.h"

#include <array>
#include <cstdint>
#include <vector>

namespace mivo_dsound {

namespace {

// The namespace of mivo's output names: {6d69766f-6f75-5470-8075-742d6e616d65}.
constexpr std::array<uint8_t, 16> kOutputNamespace = {
    0x6d, 0x69, 0x76, 0x6f, 0x6f, 0x75, 0x54, 0x70, 0x80, 0x75, 0x74, 0x2d, 0x6e, 0x61, 0x6d, 0x65};

uint32_t Rotate(uint32_t v, int bits) { return (v << bits) | (v >> (32 - bits)); }

// SHA-1 (FIPS 180-4), which name-based UUIDs are defined by.
std::array<uint8_t, 20> Sha1(std::vector<uint8_t> message) {
    const uint64_t bits = uint64_t{message.size()} * 8;
    message.push_back(0x80);
    while (message.size() % 64 != 56) message.push_back(0);
    for (int i = 7; i >= 0; --i) message.push_back(static_cast<uint8_t>(bits >> (8 * i)));

    std::array<uint32_t, 5> h = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    for (size_t block = 0; block < message.size(); block += 64) {
        std::array<uint32_t, 80> w{};
        for (size_t t = 0; t < 16; ++t) {
            const uint8_t* p = &message[block + 4 * t];
            w[t] = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
        }
        for (size_t t = 16; t < 80; ++t)
            w[t] = Rotate(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
        uint32_t a = h[0];
        uint32_t b = h[1];
        uint32_t c = h[2];
        uint32_t d = h[3];
        uint32_t e = h[4];
        for (size_t t = 0; t < 80; ++t) {
            uint32_t f = 0;
            uint32_t k = 0;
            if (t < 20) {
                f = (b & c) | (~b & d);
                k = 0x5A827999;
            } else if (t < 40) {
                f = b ^ c ^ d;
                k = 0x6ED9EBA1;
            } else if (t < 60) {
                f = (b & c) | (b & d) | (c & d);
                k = 0x8F1BBCDC;
            } else {
                f = b ^ c ^ d;
                k = 0xCA62C1D6;
            }
            const uint32_t next = Rotate(a, 5) + f + e + k + w[t];
            e = d;
            d = c;
            c = Rotate(b, 30);
            b = a;
            a = next;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
    std::array<uint8_t, 20> digest{};
    for (size_t i = 0; i < 20; ++i)
        digest[i] = static_cast<uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
    return digest;
}

}  // namespace

GUID OutputGuid(const std::string& name) {
    std::vector<uint8_t> message(kOutputNamespace.begin(), kOutputNamespace.end());
    message.insert(message.end(), name.begin(), name.end());
    std::array<uint8_t, 20> u = Sha1(std::move(message));
    u[6] = static_cast<uint8_t>((u[6] & 0x0F) | 0x50);  // version 5
    u[8] = static_cast<uint8_t>((u[8] & 0x3F) | 0x80);  // the RFC 4122 variant
    GUID guid{};
    // A UUID's fields are big-endian; a GUID holds them as numbers.
    guid.Data1 = (uint32_t{u[0]} << 24) | (uint32_t{u[1]} << 16) | (uint32_t{u[2]} << 8) | u[3];
    guid.Data2 = static_cast<uint16_t>((u[4] << 8) | u[5]);
    guid.Data3 = static_cast<uint16_t>((u[6] << 8) | u[7]);
    for (size_t i = 0; i < 8; ++i) guid.Data4[i] = u[8 + i];
    return guid;
}

}  // namespace mivo_dsound
