#include "pcm_source.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

class ToneSource final : public PcmSource {
public:
    ToneSource(double hertz, double seconds)
        : hertz_(hertz), total_(static_cast<uint64_t>(std::llround(seconds * kRate))) {
        format_.rate = kRate;
    }
    const PcmFormat& Format() const override { return format_; }
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
    PcmFormat format_;
    double hertz_;
    uint64_t total_;
    uint64_t next_ = 0;
};

}  // namespace

std::unique_ptr<PcmSource> MakeToneSource(double hertz, double seconds) {
    return std::make_unique<ToneSource>(hertz, seconds);
}
