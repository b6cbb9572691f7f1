#include "signal_source.h"

#include <cmath>
#include <cstdlib>

#include "test_signal.h"

namespace mivo_fidelity {

namespace {

bool ParseNumber(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

}  // namespace

bool ParseFormat(const std::string& text, PcmFormat& format) {
    const size_t slash = text.find('/');
    double rate = 0.0;
    double bits = 0.0;
    if (slash == std::string::npos || !ParseNumber(text.substr(0, slash), rate) ||
        !ParseNumber(text.substr(slash + 1), bits)) {
        return false;
    }
    if (rate < 8000 || rate > 192000 || rate != std::floor(rate) || (bits != 16 && bits != 24)) {
        return false;
    }
    format.rate = static_cast<int>(rate);
    format.bits = static_cast<int>(bits);
    return true;
}

bool ParseSignal(const std::string& text, SignalChoice& signal) {
    double value = 0.0;
    if (text.rfind("tone:", 0) == 0 && ParseNumber(text.substr(5), value) && value > 0.0) {
        signal = SignalChoice{value, 0};
        return true;
    }
    if (text.rfind("noise:", 0) == 0 && ParseNumber(text.substr(6), value) && value >= 1.0 &&
        value < 4294967295.0 && value == std::floor(value)) {
        signal = SignalChoice{0.0, static_cast<uint32_t>(value)};
        return true;
    }
    return false;
}

SignalSource::SignalSource(const PcmFormat& format, const SignalChoice& signal, double seconds)
    : bits_(format.bits) {
    const auto frames = static_cast<size_t>(std::lround(seconds * format.rate));
    if (signal.IsTone()) {
        for (const double sample : MakeTone(format.rate, signal.toneHz, kToneDbfs, frames, bits_)) {
            left_.push_back(ToInteger(sample, bits_));
        }
        right_ = left_;
    } else {
        left_ = MakeNoise(frames, bits_, signal.seed);
        right_ = MakeNoise(frames, bits_, signal.seed + 1);
    }
}

void SignalSource::Write(uint8_t* out, uint32_t frames, int containerBytes) {
    const int shift = containerBytes * 8 - bits_;
    for (uint32_t f = 0; f < frames; ++f, ++at_) {
        for (const auto* channel : {&left_, &right_}) {
            const int32_t sample = at_ < channel->size() ? (*channel)[at_] : 0;
            // Shifted as unsigned: the left shift of a negative value is
            // not defined before C++20.
            const uint32_t word = static_cast<uint32_t>(sample) << shift;
            for (int b = 0; b < containerBytes; ++b) *out++ = static_cast<uint8_t>(word >> (8 * b));
        }
    }
}

}  // namespace mivo_fidelity
