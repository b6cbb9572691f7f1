#include "sound_device.h"

#include <new>

#include "buffer_request.h"
#include "primary_buffer_object.h"
#include "secondary_buffer_object.h"

namespace mivo_dsound {

namespace {

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

HRESULT SoundDevice::Create(const std::shared_ptr<OutputBackend>& backend, const OutputInfo& output,
                            SoundDevice** device) {
    // Until a primary format is set the device plays 48 kHz stereo 16-bit
    // (the layout's defaults), whatever the hardware: the mixer or the
    // backend converts.
    std::shared_ptr<OutputEngine> engine = OutputEngine::Join(backend, output, WaveLayout{});
    if (!engine) return DSERR_NODRIVER;
    auto* created = new (std::nothrow) SoundDevice(std::move(engine), output);
    if (created == nullptr) return DSERR_OUTOFMEMORY;
    // A device joining after a loss sees the output as it is now.
    created->restoredLosses_ = created->engine_->Losses();
    *device = created;
    return DS_OK;
}

SoundDevice::~SoundDevice() = default;

bool SoundDevice::LostLocked() { return engine_->Losses() != restoredLosses_; }

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
    engine_->Lose(failingRestores);
    return DS_OK;
}

HRESULT SoundDevice::GetLastSignalTime(uint64_t* nanoseconds) {
    if (nanoseconds == nullptr) return DSERR_INVALIDPARAM;
    *nanoseconds = engine_->Mix().LastSignalTime();
    return DS_OK;
}

HRESULT SoundDevice::GetOutputLatency(DWORD* targetFrames, DWORD* reportedFrames) {
    if (targetFrames == nullptr || reportedFrames == nullptr) return DSERR_INVALIDPARAM;
    OutputLatency latency;
    if (!engine_->Latency(latency)) return DSERR_UNSUPPORTED;
    *targetFrames = latency.targetFrames;
    *reportedFrames = latency.reportedFrames;
    return DS_OK;
}

HRESULT SoundDevice::GetSkippedStalls(DWORD* stalls) {
    if (stalls == nullptr) return DSERR_INVALIDPARAM;
    *stalls = engine_->Mix().StallsSkipped();
    return DS_OK;
}

HRESULT SoundDevice::StarveOutput(DWORD milliseconds, DWORD quietMs) {
    constexpr int64_t kMillisecondNs = 1000000;
    if (!engine_->Starve(milliseconds * kMillisecondNs, quietMs * kMillisecondNs)) {
        return DSERR_UNSUPPORTED;
    }
    return DS_OK;
}

WaveLayout SoundDevice::OutputLayout() {
    std::lock_guard<std::mutex> hold(control_);
    return layout_;
}

uint32_t SoundDevice::OutputPeriodBytes() {
    const uint32_t period = engine_->PeriodFrames();
    std::lock_guard<std::mutex> hold(control_);
    return period * layout_.blockAlign;
}

bool SoundDevice::OutputLost() {
    std::lock_guard<std::mutex> hold(control_);
    return LostLocked();
}

HRESULT SoundDevice::RestoreOutput() {
    std::lock_guard<std::mutex> hold(control_);
    const uint64_t losses = engine_->Losses();
    if (losses == restoredLosses_) return DS_OK;
    // The first device back reopens the output; the others find it open.
    const HRESULT restored = engine_->Restore();
    if (restored == DS_OK) restoredLosses_ = losses;
    return restored;
}

HRESULT SoundDevice::ChangeOutputFormat(const WaveLayout& layout) {
    std::lock_guard<std::mutex> hold(control_);
    if (LostLocked()) return DSERR_BUFFERLOST;
    const HRESULT changed = engine_->ChangeFormat(layout);
    if (changed == DS_OK) layout_ = layout;
    return changed;
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
