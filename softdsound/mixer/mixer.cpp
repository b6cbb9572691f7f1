// The mixer's voice state: what the buffer objects ask of it.
#include "mixer.h"

#include <algorithm>
#include <cmath>

namespace mivo_dsound {

namespace {

using Hold = std::lock_guard<std::mutex>;

}  // namespace

float GainOfVolume(LONG volume) {
    if (volume <= DSBVOLUME_MIN) return 0.0f;
    if (volume >= DSBVOLUME_MAX) return 1.0f;
    return static_cast<float>(std::pow(10.0, volume / 2000.0));
}

void Mixer::Attach(Voice& voice) {
    // The resampler allocates: made before the lock, kept if the output
    // does not change meanwhile.
    const uint32_t outputRate = OutputRate();
    std::unique_ptr<VoiceResampler> resampler;
    if (voice.layout.rate != outputRate) {
        resampler = VoiceResampler::Create(voice.layout.channels, voice.layout.rate, outputRate);
    }
    Hold hold(mutex_);
    voice.read = ReaderFor(voice.layout.bits);
    voice.gain = GainOfVolume(voice.volume);
    if (outputRate == output_.rate) voice.resampler = std::move(resampler);
    FitVoiceLocked(voice);
    voices_.push_back(&voice);
}

uint32_t Mixer::OutputRate() {
    Hold hold(mutex_);
    return output_.rate;
}

void Mixer::FitVoiceLocked(Voice& voice) {
    voice.route = RouteChannels(voice.layout, output_);
    const bool converts = voice.layout.rate != output_.rate;
    if (!converts) {
        voice.resampler.reset();
    } else if (!voice.resampler) {
        voice.resampler =
            VoiceResampler::Create(voice.layout.channels, voice.layout.rate, output_.rate);
    }
    RestartVoiceLocked(voice);
}

void Mixer::RestartVoiceLocked(Voice& voice) {
    voice.phase = 0;
    voice.tail = 0;
    if (voice.resampler) voice.resampler->Reset();
}

void Mixer::Detach(Voice& voice) {
    // Signals already taken for its events are written before it goes: its
    // owner may close the descriptors next, and the numbers be reused.
    Hold signalling(signalMutex_);
    Hold hold(mutex_);
    voices_.erase(std::remove(voices_.begin(), voices_.end(), &voice), voices_.end());
}

HRESULT Mixer::Play(Voice& voice, bool looping) {
    {
        Hold hold(mutex_);
        if (voice.lost) return DSERR_BUFFERLOST;
        voice.looping = looping;
        // Frames due before the clock's present are not this voice's to fill.
        if (!voice.playing) {
            voice.startFrame = PresentLocked();
            RestartVoiceLocked(voice);
        }
        voice.playing = true;
    }
    wake_.notify_one();
    return DS_OK;
}

void Mixer::Stop(Voice& voice) {
    SignalBatch signals;
    Hold signalling(signalMutex_);
    {
        Hold hold(mutex_);
        if (voice.playing) EndLocked(voice, signals);
        voice.tail = 0;
    }
    signals.Flush();
}

void Mixer::EndLocked(Voice& voice, SignalBatch& signals) {
    voice.playing = false;
    for (const Notification& n : voice.notifications) {
        if (n.offset == DSBPN_OFFSETSTOP) signals.Add(n.fd);
    }
}

HRESULT Mixer::SetPosition(Voice& voice, DWORD byte) {
    {
        Hold hold(mutex_);
        if (byte >= voice.samples.size()) return DSERR_INVALIDPARAM;
        voice.position = byte / voice.layout.blockAlign;
        RestartVoiceLocked(voice);
    }
    wake_.notify_one();
    return DS_OK;
}

void Mixer::SetVolume(Voice& voice, LONG volume) {
    const float gain = GainOfVolume(volume);
    Hold hold(mutex_);
    voice.volume = volume;
    voice.gain = gain;
}

LONG Mixer::Volume(const Voice& voice) {
    Hold hold(mutex_);
    return voice.volume;
}

void Mixer::SetMasterVolume(VoiceGroup& group, LONG volume) {
    const float gain = GainOfVolume(volume);
    Hold hold(mutex_);
    group.master = gain;
}

HRESULT Mixer::SetNotifications(Voice& voice, std::vector<Notification>& table) {
    // As in Detach: no signal for the old table is still on its way.
    Hold signalling(signalMutex_);
    Hold hold(mutex_);
    if (voice.playing) return DSERR_INVALIDCALL;
    voice.notifications.swap(table);
    return DS_OK;
}

VoiceStatus Mixer::Status(const Voice& voice) {
    Hold hold(mutex_);
    return {voice.playing, voice.playing && voice.looping, voice.lost};
}

void Mixer::Cursors(const Voice& voice, DWORD& play, DWORD& write) {
    Hold hold(mutex_);
    const auto size = static_cast<DWORD>(voice.samples.size());
    play = voice.position * voice.layout.blockAlign;
    // A stopped voice has nothing in flight: both cursors meet.
    write = voice.playing ? (play + WriteLeadLocked(voice)) % size : play;
}

HRESULT Mixer::Lock(Voice& voice, DWORD offset, DWORD bytes, DWORD flags, bool wantSecond,
                    LockedRegion& region) {
    Hold hold(mutex_);
    if (voice.lost) return DSERR_BUFFERLOST;
    const auto size = static_cast<DWORD>(voice.samples.size());
    if ((flags & DSBLOCK_FROMWRITECURSOR) != 0) {
        const DWORD play = voice.position * voice.layout.blockAlign;
        offset = voice.playing ? (play + WriteLeadLocked(voice)) % size : play;
    }
    if ((flags & DSBLOCK_ENTIREBUFFER) != 0) bytes = size;
    if (offset >= size || bytes == 0 || bytes > size) return DSERR_INVALIDPARAM;

    // A region running past the end continues at the start: the second
    // part, when the caller has a place to receive it.
    const DWORD first = std::min(bytes, size - offset);
    const bool wraps = bytes > first && wantSecond;
    region.first = voice.samples.data() + offset;
    region.firstBytes = first;
    region.second = wraps ? voice.samples.data() : nullptr;
    region.secondBytes = wraps ? bytes - first : 0;
    return DS_OK;
}

HRESULT Mixer::Unlock(const Voice& voice, const void* first, DWORD firstBytes, const void* second,
                      DWORD secondBytes) {
    // Taking the lock publishes what the client wrote to the audio threads.
    Hold hold(mutex_);
    const uint8_t* start = voice.samples.data();
    const uint8_t* end = start + voice.samples.size();
    const auto* p = static_cast<const uint8_t*>(first);
    if (p == nullptr || p < start || p > end || firstBytes > static_cast<size_t>(end - p)) {
        return DSERR_INVALIDPARAM;
    }
    if (second != nullptr && (second != start || secondBytes > voice.samples.size())) {
        return DSERR_INVALIDPARAM;
    }
    return DS_OK;
}

void Mixer::Restore(Voice& voice) {
    Hold hold(mutex_);
    voice.lost = false;
}

void Mixer::LoseAll() {
    Hold hold(mutex_);
    for (Voice* voice : voices_) {
        voice->lost = true;
        voice->playing = false;
        voice->tail = 0;
    }
}

uint64_t Mixer::FramesRendered() {
    Hold hold(mutex_);
    return rendered_;
}

void Mixer::SetOutput(const OutputFormat& format, uint32_t periodFrames) {
    Hold hold(mutex_);
    output_.rate = format.rate;
    output_.channels = format.channels;
    output_.channelMask = format.channelMask;
    write_ = SampleWriter(format);
    outputFrameBytes_ = OutputFrameBytes(format);
    periodFrames_ = periodFrames;
    const auto channels = static_cast<size_t>(format.channels);
    accumulator_.assign(size_t{periodFrames_} * channels, 0.0f);
    voiceFrames_.assign(size_t{periodFrames_} * kMaxChannels, 0.0f);
    // Room for a few pulls' worth and 100 ms: the clock runs at most a pull
    // and a margin ahead of the output's reads.
    ringFrames_ = uint64_t{periodFrames_} * 4 + format.rate / 10;
    ring_.assign(ringFrames_ * outputFrameBytes_, 0);
    rendered_ = 0;
    mixed_ = 0;
    // Frames are counted afresh on the new output.
    for (Voice* voice : voices_) {
        voice->startFrame = 0;
        FitVoiceLocked(*voice);
    }
}

}  // namespace mivo_dsound
