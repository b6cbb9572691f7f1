// Mixing: the output's pull, and the voices summed into it.
#include <algorithm>
#include <cstring>

#include "mixer.h"
#include "resampler.h"

namespace mivo_dsound {

void Mixer::Render(uint8_t* out, uint32_t frames, int64_t nowNs) {
    SignalBatch signals;
    std::lock_guard<std::mutex> signalling(signalMutex_);
    {
        std::lock_guard<std::mutex> hold(mutex_);
        // First what the pacing thread mixed ahead, then the rest mixed here.
        const auto ahead = static_cast<uint32_t>(std::min<uint64_t>(frames, mixed_ - rendered_));
        for (uint32_t copied = 0; copied < ahead;) {
            const uint64_t at = (rendered_ + copied) % ringFrames_;
            const auto piece =
                static_cast<uint32_t>(std::min<uint64_t>(ahead - copied, ringFrames_ - at));
            std::memcpy(out + size_t{copied} * outputFrameBytes_,
                        ring_.data() + at * outputFrameBytes_, size_t{piece} * outputFrameBytes_);
            copied += piece;
        }
        if (frames > ahead) {
            RenderLocked(out + size_t{ahead} * outputFrameBytes_, frames - ahead, signals);
        }
        rendered_ += frames;
        // A read past the clock makes the next notification due sooner.
        if (running_ && clock_.FollowRead(nowNs, rendered_, mixed_)) wake_.notify_one();
    }
    Publish(signals, nowNs);
}

void Mixer::Publish(SignalBatch& signals, int64_t nowNs) {
    // Stored before the writes, so that a client woken by one already sees
    // the time of its signal.
    if (signals.Count() > 0) {
        lastSignal_.store(static_cast<uint64_t>(nowNs), std::memory_order_release);
    }
    signals.Flush();
}

bool Mixer::MixAheadLocked(uint64_t frames, SignalBatch& signals) {
    const uint64_t room = rendered_ + ringFrames_ - mixed_;
    const uint64_t count = std::min(frames, room);
    for (uint64_t left = count; left > 0;) {
        const uint64_t at = mixed_ % ringFrames_;
        const auto piece = static_cast<uint32_t>(std::min(left, ringFrames_ - at));
        RenderLocked(ring_.data() + at * outputFrameBytes_, piece, signals);
        left -= piece;
    }
    return count == frames;
}

void Mixer::RenderLocked(uint8_t* out, uint32_t frames, SignalBatch& signals) {
    const auto channels = static_cast<uint32_t>(output_.channels);
    while (frames > 0) {
        const uint32_t chunk = std::min(frames, periodFrames_);
        std::fill_n(accumulator_.begin(), chunk * channels, 0);
        for (Voice* voice : voices_) {
            if (!voice->playing) continue;
            // A voice started ahead of what is mixed joins at its start.
            const auto wait = static_cast<uint32_t>(
                std::min<uint64_t>(chunk, voice->startFrame - std::min(voice->startFrame, mixed_)));
            if (wait < chunk) MixVoice(*voice, wait, chunk - wait, signals);
        }
        write_(accumulator_.data(), size_t{chunk} * channels, out);
        out += size_t{chunk} * outputFrameBytes_;
        frames -= chunk;
        mixed_ += chunk;
    }
}

void Mixer::MixVoice(Voice& voice, uint32_t first, uint32_t frames, SignalBatch& signals) {
    const WaveLayout& in = voice.layout;
    const RateStep rate(in.rate, output_.rate);
    const int64_t gain = (voice.gain * master_) >> 30;
    const auto outChannels = static_cast<size_t>(output_.channels);
    const auto inChannels = static_cast<size_t>(in.channels);
    const uint32_t start = voice.position;
    uint64_t consumed = 0;
    bool ended = false;
    int32_t here[kMaxChannels];
    int32_t next[kMaxChannels];

    for (uint32_t f = 0; f < frames; ++f) {
        if (gain != 0) {
            voice.read(voice.samples.data() + size_t{voice.position} * in.blockAlign, inChannels,
                       here);
            if (voice.fraction != 0) {
                uint32_t after = voice.position + 1;
                if (after == voice.frames) after = voice.looping ? 0 : voice.position;
                voice.read(voice.samples.data() + size_t{after} * in.blockAlign, inChannels, next);
            }
            int64_t* mix = accumulator_.data() + size_t{first + f} * outChannels;
            for (size_t c = 0; c < inChannels; ++c) {
                const int64_t sample =
                    voice.fraction != 0 ? Interpolate(here[c], next[c], voice.fraction) : here[c];
                const int64_t scaled = (sample * gain) >> 30;
                for (int8_t target : voice.route.to[c]) {
                    if (target >= 0) mix[target] += scaled;
                }
            }
        }
        const uint64_t position = voice.position + rate.Advance(voice.fraction);
        consumed += position - voice.position;
        if (position >= voice.frames) {
            if (!voice.looping) {
                consumed = voice.frames - start;
                ended = true;
                break;
            }
            voice.position = static_cast<uint32_t>(position % voice.frames);
        } else {
            voice.position = static_cast<uint32_t>(position);
        }
    }

    // A notification fires each time the play cursor passes its byte.
    const uint64_t size = voice.samples.size();
    const uint64_t from = uint64_t{start} * in.blockAlign;
    const uint64_t length = consumed * in.blockAlign;
    for (const Notification& n : voice.notifications) {
        if (n.offset == DSBPN_OFFSETSTOP) continue;
        const uint64_t distance = (n.offset + size - from) % size;
        if (distance >= length) continue;
        for (uint64_t k = 1 + (length - 1 - distance) / size; k > 0; --k) signals.Add(n.fd);
    }
    if (ended) {
        voice.position = 0;
        voice.fraction = 0;
        EndLocked(voice, signals);
    }
}

}  // namespace mivo_dsound
