#include "wav_file.h"

#include <cstring>
#include <fstream>

namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagExtensible = 0xFFFE;
// KSDATAFORMAT_SUBTYPE_PCM after its first two bytes, which hold the tag.
constexpr uint8_t kPcmSubtypeTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                         0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void Put16(std::string& out, uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

bool ReadFormatChunk(const uint8_t* chunk, uint32_t size, WavFormat& format, std::string& error) {
    if (size < 16) {
        error = "its format chunk is too short";
        return false;
    }
    const uint16_t tag = Le16(chunk);
    format.channels = Le16(chunk + 2);
    format.rate = static_cast<int32_t>(Le32(chunk + 4));
    const uint16_t blockAlign = Le16(chunk + 12);
    format.bits = Le16(chunk + 14);
    format.validBits = format.bits;
    format.channelMask = 0;
    if (tag == kTagExtensible) {
        if (size < 40 || Le16(chunk + 16) < 22) {
            error = "its extensible format chunk is too short";
            return false;
        }
        format.validBits = Le16(chunk + 18);
        format.channelMask = Le32(chunk + 20);
        if (Le16(chunk + 24) != kTagPcm || std::memcmp(chunk + 26, kPcmSubtypeTail, 14) != 0) {
            error = "it is not PCM (only integer PCM is supported)";
            return false;
        }
        if (format.validBits == 0) format.validBits = format.bits;
    } else if (tag != kTagPcm) {
        error = "it is not PCM (format tag " + std::to_string(tag) + ")";
        return false;
    }
    if (format.channels < 1 || format.channels > 8) {
        error = "it has " + std::to_string(format.channels) + " channels (1 to 8 are supported)";
        return false;
    }
    if (format.bits != 8 && format.bits != 16 && format.bits != 24 && format.bits != 32) {
        error = "it has " + std::to_string(format.bits) +
                "-bit samples (8, 16, 24 or 32 are supported)";
        return false;
    }
    if (format.validBits > format.bits || blockAlign != format.FrameBytes() || format.rate <= 0) {
        error = "its format chunk contradicts itself";
        return false;
    }
    return true;
}

}  // namespace

bool ReadWavHeader(const std::string& path, WavInfo& info, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    in.seekg(0, std::ios::end);
    const auto fileBytes = static_cast<uint64_t>(in.tellg());
    in.seekg(0);
    uint8_t riff[12];
    if (!in.read(reinterpret_cast<char*>(riff), sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0) {
        error = path + " is not a WAV file";
        return false;
    }
    bool haveFormat = false;
    uint64_t at = 12;
    while (at + 8 <= fileBytes) {
        uint8_t head[8];
        in.seekg(static_cast<std::streamoff>(at));
        if (!in.read(reinterpret_cast<char*>(head), sizeof head)) break;
        const uint32_t size = Le32(head + 4);
        const uint64_t body = at + 8;
        if (std::memcmp(head, "fmt ", 4) == 0) {
            uint8_t chunk[64] = {};
            const uint32_t take = size < sizeof chunk ? size : sizeof chunk;
            if (!in.read(reinterpret_cast<char*>(chunk), take)) break;
            std::string why;
            if (!ReadFormatChunk(chunk, size, info.format, why)) {
                error = path;
                error += " cannot be played: " + why;
                return false;
            }
            haveFormat = true;
        } else if (std::memcmp(head, "data", 4) == 0) {
            if (!haveFormat) {
                error = path + " has its samples before its format";
                return false;
            }
            // Writers that stream may leave the size unknown (0 or ~0):
            // the samples then run to the end of the file.
            uint64_t bytes = size;
            if (bytes == 0 || body + bytes > fileBytes) bytes = fileBytes - body;
            info.dataOffset = body;
            info.dataBytes = bytes - bytes % info.format.FrameBytes();
            return true;
        }
        at = body + size + (size & 1);
    }
    error = path + (haveFormat ? " has no samples" : " has no format chunk");
    return false;
}

std::string WavHeader(const WavFormat& format, uint64_t dataBytes) {
    const bool extensible = format.channels > 2 || format.validBits != format.bits ||
                            format.bits > 16 || format.channelMask != 0;
    const uint32_t formatBytes = extensible ? 40 : 16;
    const auto data = static_cast<uint32_t>(dataBytes > 0xFFFFFFF0u ? 0xFFFFFFF0u : dataBytes);
    std::string out = "RIFF";
    Put32(out, 4 + 8 + formatBytes + 8 + data);
    out += "WAVEfmt ";
    Put32(out, formatBytes);
    Put16(out, extensible ? kTagExtensible : kTagPcm);
    Put16(out, static_cast<uint32_t>(format.channels));
    Put32(out, static_cast<uint32_t>(format.rate));
    Put32(out, static_cast<uint32_t>(format.rate) * format.FrameBytes());
    Put16(out, format.FrameBytes());
    Put16(out, format.bits);
    if (extensible) {
        Put16(out, 22);
        Put16(out, format.validBits);
        Put32(out, format.channelMask);
        Put16(out, kTagPcm);
        out.append(reinterpret_cast<const char*>(kPcmSubtypeTail), sizeof kPcmSubtypeTail);
    }
    out += "data";
    Put32(out, data);
    return out;
}
