// Rate conversion of a voice to the output's rate.
//
// A voice's read position is a whole source frame plus a phase towards the
// next, in units of 1/den of a frame, where num/den is the ratio of the two
// rates in lowest terms. Each output frame moves it on by exactly num/den:
// the mixer can tell in advance on which output frame a read passes a
// notification's frame, and the resampler moves the same way.
#pragma once

#include <cstdint>
#include <memory>

// speexdsp's resampler, kept out of the mixer's headers.
struct SpeexResamplerState_;  // NOLINT(bugprone-reserved-identifier): speexdsp's own name

namespace mivo_dsound {

class RateStep {
public:
    RateStep(uint32_t sourceRate, uint32_t outputRate);

    // Moves a read position's phase on by `outputFrames`; returns how many
    // whole source frames it passed.
    uint64_t Advance(uint32_t& phase, uint64_t outputFrames) const {
        const uint64_t moved = phase + outputFrames * num_;
        phase = static_cast<uint32_t>(moved % den_);
        return moved / den_;
    }

    // Output frames it takes, from `phase`, to pass `sourceFrames` whole
    // source frames.
    uint64_t OutputFramesToPass(uint64_t sourceFrames, uint32_t phase) const {
        return (sourceFrames * den_ - phase + num_ - 1) / num_;
    }

private:
    uint64_t num_;
    uint64_t den_;
};

// Band-limited conversion of interleaved float frames, through speexdsp.
// It reads the source only as far as it has produced output for, so the
// frames it has consumed are exactly those a voice's play cursor has
// passed; its filter delays the sound behind them by about a millisecond.
class VoiceResampler {
public:
    // Null when the library refuses the rates.
    static std::unique_ptr<VoiceResampler> Create(int channels, uint32_t sourceRate,
                                                  uint32_t outputRate);
    ~VoiceResampler();
    VoiceResampler(const VoiceResampler&) = delete;
    VoiceResampler& operator=(const VoiceResampler&) = delete;

    // Converts from `in` into `out`; on return `inFrames` holds the frames
    // consumed and `outFrames` the frames made.
    void Process(const float* in, uint32_t& inFrames, float* out, uint32_t& outFrames);
    // Forgets what the filter holds: the next frames start a new sound.
    void Reset();
    // Output frames of sound still in the filter after the last frame fed.
    uint32_t TailFrames() const;

private:
    explicit VoiceResampler(::SpeexResamplerState_* state) : state_(state) {}
    ::SpeexResamplerState_* state_;
};

}  // namespace mivo_dsound
