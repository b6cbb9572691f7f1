// The signal of one bench run, as the programs that play it and the one
// that measures its capture all read it from the command line: a format
// ("RATE/BITS") and a signal ("tone:HZ" or "noise:SEED"), stereo.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mivo_fidelity {

struct PcmFormat {
    int rate = 0;
    int bits = 0;  // 16 or 24
};

// "48000/16", "44100/24"; false for anything else.
bool ParseFormat(const std::string& text, PcmFormat& format);

// Test tones are played at this level (AES17 practice: room for a
// resampler's overshoot).
constexpr double kToneDbfs = -3.0;

struct SignalChoice {
    double toneHz = 0.0;  // a tone at kToneDbfs in both channels, rounded to the format's bits
    uint32_t seed = 0;    // else full-range noise: `seed` on the left, `seed + 1` on the right
    bool IsTone() const { return toneHz > 0.0; }
};

// "tone:997", "noise:11"; false for anything else.
bool ParseSignal(const std::string& text, SignalChoice& signal);

// The run's samples for `seconds` at the format's rate: each channel as
// integers of the format's bits.
class SignalSource {
public:
    SignalSource(const PcmFormat& format, const SignalChoice& signal, double seconds);

    size_t Frames() const { return left_.size(); }
    const std::vector<int32_t>& ChannelSamples(size_t channel) const {
        return channel == 0 ? left_ : right_;
    }

    // Writes the next `frames` stereo frames, each sample left-aligned in
    // `containerBytes` (2, 3 or 4) little-endian bytes; silence once the
    // signal has all been written.
    void Write(uint8_t* out, uint32_t frames, int containerBytes);
    bool Done() const { return at_ >= left_.size(); }

private:
    int bits_;
    std::vector<int32_t> left_;
    std::vector<int32_t> right_;
    size_t at_ = 0;
};

}  // namespace mivo_fidelity
