// Mixing: the output's pull, and the voices summed into it.
#include <algorithm>
#include <cstring>

#include "mixer.h"

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
        std::fill_n(accumulator_.begin(), chunk * channels, 0.0f);
        for (Voice* voice : voices_) {
            if (voice->playing) {
                // A voice started ahead of what is mixed joins at its start.
                const auto wait = static_cast<uint32_t>(std::min<uint64_t>(
                    chunk, voice->startFrame - std::min(voice->startFrame, mixed_)));
                if (wait < chunk) MixVoice(*voice, wait, chunk - wait, signals);
            } else if (voice->tail > 0) {
                AddVoice(*voice, 0, FlushTail(*voice, voiceFrames_.data(), chunk));
            }
        }
        write_.Write(accumulator_.data(), size_t{chunk} * channels, out);
        out += size_t{chunk} * outputFrameBytes_;
        frames -= chunk;
        mixed_ += chunk;
    }
}

void Mixer::MixVoice(Voice& voice, uint32_t first, uint32_t frames, SignalBatch& signals) {
    const uint32_t start = voice.position;
    uint64_t consumed = 0;
    bool ended = false;
    const uint32_t made = voice.resampler ? ResampleVoice(voice, frames, consumed, ended)
                                          : ReadVoice(voice, frames, consumed, ended);
    AddVoice(voice, first, made);

    // A notification fires each time the play cursor passes its byte.
    const uint64_t size = voice.samples.size();
    const uint64_t from = uint64_t{start} * voice.layout.blockAlign;
    const uint64_t length = consumed * voice.layout.blockAlign;
    for (const Notification& n : voice.notifications) {
        if (n.offset == DSBPN_OFFSETSTOP || length == 0) continue;
        const uint64_t distance = (n.offset + size - from) % size;
        if (distance >= length) continue;
        for (uint64_t k = 1 + (length - 1 - distance) / size; k > 0; --k) signals.Add(n.fd);
    }
    if (ended) {
        voice.position = 0;
        voice.phase = 0;
        EndLocked(voice, signals);
    }
}

uint32_t Mixer::ReadVoice(Voice& voice, uint32_t frames, uint64_t& consumed, bool& ended) {
    const auto channels = static_cast<size_t>(voice.layout.channels);
    uint32_t made = 0;
    while (made < frames) {
        const uint32_t run = std::min(frames - made, voice.frames - voice.position);
        voice.read(voice.samples.data() + size_t{voice.position} * voice.layout.blockAlign,
                   run * channels, voiceFrames_.data() + made * channels);
        made += run;
        consumed += run;
        voice.position += run;
        if (voice.position == voice.frames) {
            voice.position = 0;
            if (!voice.looping) {
                ended = true;
                break;
            }
        }
    }
    return made;
}

uint32_t Mixer::ResampleVoice(Voice& voice, uint32_t frames, uint64_t& consumed, bool& ended) {
    // Fed in runs of at most a period: the resampler takes only what the
    // frames it makes need, and the rest is read again next time.
    const auto channels = static_cast<size_t>(voice.layout.channels);
    const RateStep rate(voice.layout.rate, output_.rate);
    sourceFrames_.resize(size_t{periodFrames_} * channels);
    uint32_t made = 0;
    while (made < frames) {
        uint32_t in = std::min(periodFrames_, voice.frames - voice.position);
        voice.read(voice.samples.data() + size_t{voice.position} * voice.layout.blockAlign,
                   in * channels, sourceFrames_.data());
        uint32_t out = frames - made;
        voice.resampler->Process(sourceFrames_.data(), in, voiceFrames_.data() + made * channels,
                                 out);
        rate.Advance(voice.phase, out);
        made += out;
        consumed += in;
        voice.position += in;
        if (voice.position == voice.frames) {
            voice.position = 0;
            if (!voice.looping) {
                // The filter still holds the sound's last frames.
                ended = true;
                voice.tail = voice.resampler->TailFrames();
                made += FlushTail(voice, voiceFrames_.data() + made * channels, frames - made);
                break;
            }
        }
        if (in == 0 && out == 0) break;
    }
    return made;
}

uint32_t Mixer::FlushTail(Voice& voice, float* out, uint32_t frames) {
    const auto channels = static_cast<size_t>(voice.layout.channels);
    sourceFrames_.assign(size_t{periodFrames_} * channels, 0.0f);
    uint32_t made = 0;
    while (made < frames && voice.tail > 0) {
        uint32_t in = periodFrames_;
        uint32_t wanted = std::min(frames - made, voice.tail);
        voice.resampler->Process(sourceFrames_.data(), in, out + made * channels, wanted);
        if (wanted == 0) break;
        made += wanted;
        voice.tail -= wanted;
    }
    return made;
}

void Mixer::AddVoice(const Voice& voice, uint32_t first, uint32_t frames) {
    const float gain = voice.group != nullptr ? voice.gain * voice.group->master : voice.gain;
    if (gain == 0.0f) return;
    const auto outChannels = static_cast<size_t>(output_.channels);
    const auto inChannels = static_cast<size_t>(voice.layout.channels);
    for (uint32_t f = 0; f < frames; ++f) {
        const float* from = voiceFrames_.data() + f * inChannels;
        float* mix = accumulator_.data() + size_t{first + f} * outChannels;
        for (size_t c = 0; c < inChannels; ++c) {
            const float scaled = from[c] * gain;
            for (int8_t target : voice.route.to[c]) {
                if (target >= 0) mix[target] += scaled;
            }
        }
    }
}

}  // namespace mivo_dsound
