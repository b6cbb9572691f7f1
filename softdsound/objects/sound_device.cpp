#include "sound_device.h"

#include <new>

#include "buffer_request.h"
#include "primary_buffer_object.h"
#include "secondary_buffer_object.h"

namespace mivo_dsound {

namespace {

// The pacing thread mixes at most a few pulls ahead of the output.
constexpr int kDrainLimitMs = 250;

// DSCAPS flags, as in Windows' dsound.h.
constexpr DWORD kCapsPrimaryMono = 0x1, kCapsPrimaryStereo = 0x2, kCapsPrimary8Bit = 0x4,
                kCapsPrimary16Bit = 0x8, kCapsContinuousRate = 0x10, kCapsEmulated = 0x20,
                kCapsSecondaryMono = 0x100, kCapsSecondaryStereo = 0x200,
                kCapsSecondary8Bit = 0x400, kCapsSecondary16Bit = 0x800;

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

HRESULT SoundDevice::Create(std::unique_ptr<OutputBackend> backend, const OutputInfo& output,
                            SoundDevice** device) {
    auto* created = new (std::nothrow) SoundDevice(std::move(backend), output);
    if (created == nullptr) return DSERR_OUTOFMEMORY;
    // Until a primary format is set the output is 48 kHz stereo 16-bit (the
    // layout's defaults), whatever the hardware: the backend converts.
    bool opened = false;
    {
        std::lock_guard<std::mutex> hold(created->control_);
        opened = created->OpenOutputLocked(WaveLayout{});
    }
    if (!opened) {
        created->Release();
        return DSERR_NODRIVER;
    }
    *device = created;
    return DS_OK;
}

SoundDevice::~SoundDevice() {
    // The pacing thread and the output's pulls stop before the mixer goes.
    CloseOutputLocked();
}

bool SoundDevice::OpenOutputLocked(const WaveLayout& layout) {
    CloseOutputLocked();
    const OutputFormat format{layout.rate, layout.channels, layout.bits, layout.channelMask};
    std::unique_ptr<Output> output = backend_->Open(format, outputInfo_.name, mixer_);
    if (!output) return false;
    mixer_.SetOutput(layout, output->PeriodFrames());
    // The clock starts past what the output reads at once when it starts.
    mixer_.Start(output->StartFrames());
    if (!output->Start()) {
        mixer_.StopPacing();
        return false;
    }
    output_ = std::move(output);
    layout_ = layout;
    periodFrames_ = output_->PeriodFrames();
    return true;
}

void SoundDevice::CloseOutputLocked() {
    mixer_.StopPacing();
    if (!output_) return;
    // What was mixed ahead was already announced as played; an output that
    // still runs gets it before closing.
    if (!output_->Lost()) mixer_.Drain(kDrainLimitMs);
    output_->Stop();
    output_.reset();
}

void SoundDevice::MarkLostLocked() {
    lost_ = true;
    // The output is gone (or taken away): nothing to drain into.
    mixer_.StopPacing();
    if (output_) output_->Stop();
    output_.reset();
    mixer_.LoseAll();
}

void SoundDevice::NoticeLossLocked() {
    if (!lost_ && output_ && output_->Lost()) MarkLostLocked();
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
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
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
    // The output's own speakers where the backend names them, otherwise
    // those of the format it plays.
    const int channels = outputInfo_.channels > 0 ? outputInfo_.channels : OutputLayout().channels;
    *config = SpeakerConfigFor(channels);
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
    std::lock_guard<std::mutex> hold(control_);
    OutputLatency latency;
    if (!output_ || !output_->Latency(latency)) return DSERR_UNSUPPORTED;
    *targetFrames = latency.targetFrames;
    *reportedFrames = latency.reportedFrames;
    return DS_OK;
}

HRESULT SoundDevice::GetSkippedStalls(DWORD* stalls) {
    if (stalls == nullptr) return DSERR_INVALIDPARAM;
    *stalls = mixer_.StallsSkipped();
    return DS_OK;
}

HRESULT SoundDevice::StarveOutput(DWORD milliseconds, DWORD quietMs) {
    constexpr int64_t kMillisecondNs = 1000000;
    std::lock_guard<std::mutex> hold(control_);
    if (!output_ || !output_->Starve(milliseconds * kMillisecondNs, quietMs * kMillisecondNs)) {
        return DSERR_UNSUPPORTED;
    }
    return DS_OK;
}

WaveLayout SoundDevice::OutputLayout() {
    std::lock_guard<std::mutex> hold(control_);
    return layout_;
}

uint32_t SoundDevice::OutputPeriodBytes() {
    std::lock_guard<std::mutex> hold(control_);
    return periodFrames_ * layout_.blockAlign;
}

bool SoundDevice::OutputLost() {
    std::lock_guard<std::mutex> hold(control_);
    NoticeLossLocked();
    return lost_;
}

HRESULT SoundDevice::RestoreOutput() {
    std::lock_guard<std::mutex> hold(control_);
    NoticeLossLocked();
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
