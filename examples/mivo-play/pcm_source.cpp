#include "pcm_source.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>

namespace {

class WavSource final : public PcmSource {
public:
    WavSource(const std::string& path, const WavInfo& info)
        : in_(path, std::ios::binary), info_(info), left_(info.dataBytes) {
        in_.seekg(static_cast<std::streamoff>(info.dataOffset));
    }
    const WavFormat& Format() const override { return info_.format; }
    uint64_t TotalFrames() const override { return info_.dataBytes / info_.format.FrameBytes(); }
    size_t Read(uint8_t* out, size_t bytes) override {
        const auto take = static_cast<size_t>(std::min<uint64_t>(bytes, left_));
        in_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(take));
        const auto got = static_cast<size_t>(in_.gcount());
        left_ = got < take ? 0 : left_ - got;
        return got;
    }

private:
    std::ifstream in_;
    WavInfo info_;
    uint64_t left_;
};

class ToneSource final : public PcmSource {
public:
    ToneSource(double hertz, double seconds)
        : hertz_(hertz), total_(static_cast<uint64_t>(std::llround(seconds * kRate))) {
        format_.channels = 2;
        format_.bits = format_.validBits = 16;
        format_.rate = kRate;
    }
    const WavFormat& Format() const override { return format_; }
    uint64_t TotalFrames() const override { return total_; }
    size_t Read(uint8_t* out, size_t bytes) override {
        size_t written = 0;
        for (; written + 4 <= bytes && next_ < total_; written += 4, ++next_) {
            const double t = static_cast<double>(next_) / kRate;
            const double fade = std::min({1.0, static_cast<double>(next_) / kFadeFrames,
                                          static_cast<double>(total_ - next_) / kFadeFrames});
            const auto s = static_cast<int16_t>(
                std::lround(16383.0 * fade * std::sin(2.0 * M_PI * hertz_ * t)));
            std::memcpy(out + written, &s, 2);
            std::memcpy(out + written + 2, &s, 2);
        }
        return written;
    }

private:
    static constexpr int32_t kRate = 48000;
    static constexpr double kFadeFrames = kRate * 0.005;
    WavFormat format_;
    double hertz_;
    uint64_t total_;
    uint64_t next_ = 0;
};

}  // namespace

std::unique_ptr<PcmSource> OpenWavSource(const std::string& path, std::string& error) {
    WavInfo info;
    if (!ReadWavHeader(path, info, error)) return nullptr;
    return std::make_unique<WavSource>(path, info);
}

std::unique_ptr<PcmSource> MakeToneSource(double hertz, double seconds) {
    return std::make_unique<ToneSource>(hertz, seconds);
}
