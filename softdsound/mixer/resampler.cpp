#include "resampler.h"

#include <speex/speex_resampler.h>

#include <numeric>

namespace mivo_dsound {

namespace {

// speexdsp's quality 5 (80-tap Kaiser-windowed sinc) already reaches a
// 16-bit source's own noise floor for every rate pair from 8 to 192 kHz
// into 48 kHz and back to 44.1 kHz; higher qualities cost up to three times
// as much for no audible gain. bench/softdsound measures both.
constexpr int kResamplerQuality = 5;

}  // namespace

RateStep::RateStep(uint32_t sourceRate, uint32_t outputRate) {
    const uint32_t common = std::gcd(sourceRate, outputRate);
    num_ = sourceRate / common;
    den_ = outputRate / common;
}

std::unique_ptr<VoiceResampler> VoiceResampler::Create(int channels, uint32_t sourceRate,
                                                       uint32_t outputRate) {
    int error = 0;
    SpeexResamplerState* state = speex_resampler_init(
        static_cast<spx_uint32_t>(channels), sourceRate, outputRate, kResamplerQuality, &error);
    if (state == nullptr) return nullptr;
    return std::unique_ptr<VoiceResampler>(new VoiceResampler(state));
}

VoiceResampler::~VoiceResampler() { speex_resampler_destroy(state_); }

void VoiceResampler::Process(const float* in, uint32_t& inFrames, float* out, uint32_t& outFrames) {
    speex_resampler_process_interleaved_float(state_, in, &inFrames, out, &outFrames);
}

void VoiceResampler::Reset() { speex_resampler_reset_mem(state_); }

uint32_t VoiceResampler::TailFrames() const {
    return static_cast<uint32_t>(speex_resampler_get_output_latency(state_));
}

}  // namespace mivo_dsound
