#include "sound_device.h"

#include <new>

#include "buffer_description.h"
#include "com_identity.h"
#include "primary_buffer.h"
#include "secondary_buffer.h"

namespace mivo_dsound {

namespace {

// The clock thread mixes at most a few callbacks ahead of the output.
constexpr int kDrainLimitMs = 250;

// DSCAPS flags, as in Windows' dsound.h.
constexpr DWORD kCapsPrimaryMono = 0x1, kCapsPrimaryStereo = 0x2, kCapsPrimary8Bit = 0x4,
                kCapsPrimary16Bit = 0x8, kCapsContinuousRate = 0x10, kCapsEmulated = 0x20,
                kCapsSecondaryMono = 0x100, kCapsSecondaryStereo = 0x200,
                kCapsSecondary8Bit = 0x400, kCapsSecondary16Bit = 0x800;

SDL_AudioFormat SdlFormatFor(int bits) {
    switch (bits) {
        case 8: return AUDIO_U8;
        case 16: return AUDIO_S16SYS;
        default: return AUDIO_S32SYS;  // 24-bit goes out in 32-bit containers
    }
}

DWORD SpeakerConfigFor(int channels) {
    switch (channels) {
        case 1: return DSSPEAKER_MONO;
        case 2:
        case 3: return DSSPEAKER_STEREO;  // 2.1
        case 4:
        case 5: return DSSPEAKER_QUAD;  // 4.1
        case 6:
        case 7: return DSSPEAKER_5POINT1;
        default: return DSSPEAKER_7POINT1;
    }
}

}  // namespace

HRESULT SoundDevice::Create(SoundDevice** device) {
    std::unique_ptr<AudioSubsystem> subsystem = AudioSubsystem::Acquire();
    if (!subsystem) return DSERR_NODRIVER;
    auto* created = new (std::nothrow) SoundDevice();
    if (created == nullptr) return DSERR_OUTOFMEMORY;
    created->subsystem_ = std::move(subsystem);

    // Until a primary format is set the output is 48 kHz stereo 16-bit (the
    // layout's defaults), whatever the hardware: SDL converts. The device's
    // preferred shape is not asked for, since SDL_GetDefaultAudioInfo races
    // with the PulseAudio driver's hot-plug thread in SDL 2.26.
    const WaveLayout layout;

    bool opened = false;
    {
        std::lock_guard<std::mutex> hold(created->control_);
        opened = created->OpenOutputLocked(layout);
    }
    if (!opened) {
        created->Release();
        return DSERR_NODRIVER;
    }
    *device = created;
    return DS_OK;
}

SoundDevice::~SoundDevice() {
    // Stops the clock thread and the callback before the mixer goes; then
    // SDL's subsystem is let go.
    CloseOutputLocked();
    subsystem_.reset();
}

bool SoundDevice::OpenOutputLocked(const WaveLayout& layout) {
    CloseOutputLocked();
    const int period = OutputPeriodFrames(static_cast<int>(layout.rate));
    {
        std::lock_guard<std::mutex> hold(mixer_.Mutex());
        mixer_.SetOutput(layout, period);
    }
    // The clock starts before SDL's first callback, which it follows.
    mixer_.StartClock(
        static_cast<uint64_t>(OutputStartFrames(static_cast<int>(layout.rate), period)));
    const OutputRequest request{static_cast<int>(layout.rate), layout.channels,
                                SdlFormatFor(layout.bits), period};
    output_ = AudioOutput::Open(request, &Mixer::Render, &mixer_);
    if (!output_) {
        mixer_.StopClock();
        return false;
    }
    layout_ = layout;
    periodFrames_ = period;
    return true;
}

void SoundDevice::CloseOutputLocked() {
    mixer_.StopClock();
    // What was mixed ahead was already announced as played; an output that
    // still runs gets it before closing.
    if (output_ && !output_->Gone()) mixer_.Drain(kDrainLimitMs);
    output_.reset();
}

void SoundDevice::MarkLostLocked() {
    lost_ = true;
    // The output is gone (or taken away): nothing to drain into.
    mixer_.StopClock();
    output_.reset();
    std::lock_guard<std::mutex> hold(mixer_.Mutex());
    mixer_.LoseAll();
}

HRESULT SoundDevice::QueryInterface(const IID& iid, void** object) {
    if (object == nullptr) return DSERR_INVALIDPARAM;
    if (IsEqualGUID(iid, kIidUnknown) || IsEqualGUID(iid, kIidDirectSound)) {
        *object = static_cast<IDirectSound*>(this);
    } else if (IsEqualGUID(iid, kIidMivoDeviceHooks)) {
        *object = static_cast<IMivoDeviceHooks*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return DS_OK;
}

ULONG SoundDevice::AddRef() { return ++refs_; }

ULONG SoundDevice::Release() {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}

HRESULT SoundDevice::CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer** buffer,
                                       IUnknown* outer) {
    if (buffer == nullptr) return DSERR_INVALIDPARAM;
    *buffer = nullptr;
    if (outer != nullptr) return DSERR_NOAGGREGATION;
    BufferRequest request;
    const HRESULT valid = ReadBufferDescription(desc, request);
    if (valid != DS_OK) return valid;

    if (request.primary) {
        std::lock_guard<std::mutex> hold(control_);
        if (primary_ != nullptr) {
            ++primary_->refs_;
        } else {
            primary_ = new (std::nothrow) PrimaryBuffer(this, request.flags);
            if (primary_ == nullptr) return DSERR_OUTOFMEMORY;
        }
        *buffer = primary_;
        return DS_OK;
    }
    SecondaryBuffer* created = nullptr;
    const HRESULT made = SecondaryBuffer::Create(this, request, &created);
    if (made == DS_OK) *buffer = created;
    return made;
}

HRESULT SoundDevice::GetCaps(DSCAPS* caps) {
    if (caps == nullptr || caps->dwSize != sizeof(DSCAPS)) return DSERR_INVALIDPARAM;
    *caps = DSCAPS{};
    caps->dwSize = sizeof(DSCAPS);
    caps->dwFlags = kCapsPrimaryMono | kCapsPrimaryStereo | kCapsPrimary8Bit | kCapsPrimary16Bit |
                    kCapsContinuousRate | kCapsEmulated | kCapsSecondaryMono |
                    kCapsSecondaryStereo | kCapsSecondary8Bit | kCapsSecondary16Bit;
    caps->dwMinSecondarySampleRate = 100;
    caps->dwMaxSecondarySampleRate = 200000;
    caps->dwPrimaryBuffers = 1;
    return DS_OK;
}

HRESULT SoundDevice::DuplicateSoundBuffer(IDirectSoundBuffer*, IDirectSoundBuffer** duplicate) {
    if (duplicate != nullptr) *duplicate = nullptr;
    return DSERR_UNSUPPORTED;
}

HRESULT SoundDevice::SetCooperativeLevel(HWND window, DWORD level) {
    if (window == nullptr || level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY) {
        return DSERR_INVALIDPARAM;
    }
    level_ = level;
    return DS_OK;
}

// Memory is the system's; there is no sound memory to defragment.
HRESULT SoundDevice::Compact() { return DS_OK; }

HRESULT SoundDevice::GetSpeakerConfig(DWORD* config) {
    if (config == nullptr) return DSERR_INVALIDPARAM;
    *config = SpeakerConfigFor(OutputLayout().channels);
    return DS_OK;
}

HRESULT SoundDevice::SetSpeakerConfig(DWORD) { return DSERR_UNSUPPORTED; }

HRESULT SoundDevice::Initialize(const GUID*) { return DSERR_ALREADYINITIALIZED; }

HRESULT SoundDevice::SimulateDeviceLoss(DWORD failingRestores) {
    std::lock_guard<std::mutex> hold(control_);
    failingRestores_ = failingRestores;
    MarkLostLocked();
    return DS_OK;
}

HRESULT SoundDevice::GetLastSignalTime(uint64_t* nanoseconds) {
    if (nanoseconds == nullptr) return DSERR_INVALIDPARAM;
    *nanoseconds = mixer_.LastSignalTime();
    return DS_OK;
}

HRESULT SoundDevice::GetOutputLatency(DWORD* targetFrames, DWORD* reportedFrames) {
    if (targetFrames == nullptr || reportedFrames == nullptr) return DSERR_INVALIDPARAM;
    return DSERR_UNSUPPORTED;
}

WaveLayout SoundDevice::OutputLayout() {
    std::lock_guard<std::mutex> hold(control_);
    return layout_;
}

uint32_t SoundDevice::OutputPeriodBytes() {
    std::lock_guard<std::mutex> hold(control_);
    return static_cast<uint32_t>(periodFrames_) * layout_.blockAlign;
}

bool SoundDevice::OutputLost() {
    std::lock_guard<std::mutex> hold(control_);
    if (!lost_ && output_ && output_->Gone()) MarkLostLocked();
    return lost_;
}

HRESULT SoundDevice::RestoreOutput() {
    std::lock_guard<std::mutex> hold(control_);
    if (!lost_ && output_ && output_->Gone()) MarkLostLocked();
    if (!lost_) return DS_OK;
    if (failingRestores_ > 0) {
        --failingRestores_;
        return DSERR_BUFFERLOST;
    }
    if (!OpenOutputLocked(layout_)) return DSERR_BUFFERLOST;
    lost_ = false;
    return DS_OK;
}

HRESULT SoundDevice::ChangeOutputFormat(const WaveLayout& layout) {
    std::lock_guard<std::mutex> hold(control_);
    if (lost_) return DSERR_BUFFERLOST;
    const WaveLayout previous = layout_;
    CloseOutputLocked();
    if (OpenOutputLocked(layout)) return DS_OK;
    if (!OpenOutputLocked(previous)) MarkLostLocked();
    return DSERR_BADFORMAT;
}

ULONG SoundDevice::AddRefPrimary(PrimaryBuffer* primary) {
    std::lock_guard<std::mutex> hold(control_);
    return ++primary->refs_;
}

ULONG SoundDevice::ReleasePrimary(PrimaryBuffer* primary) {
    ULONG left = 0;
    {
        std::lock_guard<std::mutex> hold(control_);
        left = --primary->refs_;
        if (left == 0 && primary_ == primary) primary_ = nullptr;
    }
    if (left == 0) delete primary;
    return left;
}

}  // namespace mivo_dsound
