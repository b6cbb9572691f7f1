#include "primary_buffer_object.h"

#include "sound_device.h"
#include "wave_layout.h"

namespace mivo_dsound {

PrimaryBuffer::PrimaryBuffer(SoundDevice* device, DWORD flags) : device_(device), flags_(flags) {
    device_->AddRef();
}

PrimaryBuffer::~PrimaryBuffer() {
    device_->Mix().SetMasterVolume(device_->Voices(), DSBVOLUME_MAX);
    device_->Release();
}

HRESULT PrimaryBuffer::QueryInterface(const IID& iid, void** object) {
    if (object == nullptr) return DSERR_INVALIDPARAM;
    if (IsEqualGUID(iid, kIidUnknown) || IsEqualGUID(iid, kIidDirectSoundBuffer)) {
        *object = static_cast<IDirectSoundBuffer*>(this);
        AddRef();
        return DS_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG PrimaryBuffer::AddRef() { return device_->AddRefPrimary(this); }

ULONG PrimaryBuffer::Release() { return device_->ReleasePrimary(this); }

HRESULT PrimaryBuffer::GetCaps(DSBCAPS* caps) {
    if (caps == nullptr || caps->dwSize != sizeof(DSBCAPS)) return DSERR_INVALIDPARAM;
    caps->dwFlags = flags_ | DSBCAPS_LOCSOFTWARE;
    caps->dwBufferBytes = device_->OutputPeriodBytes();
    caps->dwUnlockTransferRate = 0;
    caps->dwPlayCpuOverhead = 0;
    return DS_OK;
}

// The output is a stream rather than a ring the client can see: its
// position is how far the output has got through one period.
HRESULT PrimaryBuffer::GetCurrentPosition(DWORD* play, DWORD* write) {
    const WaveLayout layout = device_->OutputLayout();
    const uint32_t period = device_->OutputPeriodBytes();
    const uint64_t frames = device_->Mix().FramesRendered();
    const auto position = static_cast<DWORD>((frames * layout.blockAlign) % period);
    if (play != nullptr) *play = position;
    if (write != nullptr) *write = position;
    return DS_OK;
}

HRESULT PrimaryBuffer::GetFormat(WAVEFORMATEX* format, DWORD bytes, DWORD* written) {
    return AnswerGetFormat(device_->OutputLayout(), format, bytes, written);
}

HRESULT PrimaryBuffer::GetVolume(LONG* volume) {
    if (volume == nullptr) return DSERR_INVALIDPARAM;
    if ((flags_ & DSBCAPS_CTRLVOLUME) == 0) return DSERR_CONTROLUNAVAIL;
    *volume = volume_;
    return DS_OK;
}

HRESULT PrimaryBuffer::SetVolume(LONG volume) {
    if ((flags_ & DSBCAPS_CTRLVOLUME) == 0) return DSERR_CONTROLUNAVAIL;
    if (volume > DSBVOLUME_MAX || volume < DSBVOLUME_MIN) return DSERR_INVALIDPARAM;
    volume_ = volume;
    device_->Mix().SetMasterVolume(device_->Voices(), volume);
    return DS_OK;
}

HRESULT PrimaryBuffer::GetPan(LONG* pan) {
    if (pan == nullptr) return DSERR_INVALIDPARAM;
    return (flags_ & DSBCAPS_CTRLPAN) == 0 ? DSERR_CONTROLUNAVAIL : DSERR_UNSUPPORTED;
}

HRESULT PrimaryBuffer::SetPan(LONG) {
    return (flags_ & DSBCAPS_CTRLPAN) == 0 ? DSERR_CONTROLUNAVAIL : DSERR_UNSUPPORTED;
}

HRESULT PrimaryBuffer::GetFrequency(DWORD* frequency) {
    if (frequency == nullptr) return DSERR_INVALIDPARAM;
    return DSERR_CONTROLUNAVAIL;
}

HRESULT PrimaryBuffer::SetFrequency(DWORD) { return DSERR_CONTROLUNAVAIL; }

HRESULT PrimaryBuffer::GetStatus(DWORD* status) {
    if (status == nullptr) return DSERR_INVALIDPARAM;
    *status = device_->OutputLost() ? DSBSTATUS_BUFFERLOST : DSBSTATUS_PLAYING | DSBSTATUS_LOOPING;
    return DS_OK;
}

HRESULT PrimaryBuffer::Initialize(IDirectSound*, const DSBUFFERDESC*) {
    return DSERR_ALREADYINITIALIZED;
}

// Writing the output directly would bypass the mixer; only the
// write-primary level may ask, and this device does not offer it.
HRESULT PrimaryBuffer::Lock(DWORD, DWORD, void** p1, DWORD* n1, void**, DWORD*, DWORD) {
    if (p1 == nullptr || n1 == nullptr) return DSERR_INVALIDPARAM;
    if (device_->CooperativeLevel() < DSSCL_WRITEPRIMARY) return DSERR_PRIOLEVELNEEDED;
    return DSERR_UNSUPPORTED;
}

HRESULT PrimaryBuffer::Unlock(void*, DWORD, void*, DWORD) { return DSERR_INVALIDCALL; }

// The output runs whenever the device is open; a primary buffer only
// accepts the looping request DirectSound requires of it.
HRESULT PrimaryBuffer::Play(DWORD reserved, DWORD priority, DWORD flags) {
    if (reserved != 0 || priority != 0 || (flags & DSBPLAY_LOOPING) == 0) {
        return DSERR_INVALIDPARAM;
    }
    return device_->OutputLost() ? DSERR_BUFFERLOST : DS_OK;
}

HRESULT PrimaryBuffer::Stop() { return DS_OK; }

HRESULT PrimaryBuffer::SetCurrentPosition(DWORD) { return DSERR_INVALIDCALL; }

HRESULT PrimaryBuffer::SetFormat(const WAVEFORMATEX* format) {
    if (device_->CooperativeLevel() < DSSCL_PRIORITY) return DSERR_PRIOLEVELNEEDED;
    WaveLayout layout;
    const HRESULT valid = ReadWaveFormat(format, layout);
    if (valid != DS_OK) return valid;
    return device_->ChangeOutputFormat(layout);
}

HRESULT PrimaryBuffer::Restore() { return device_->RestoreOutput(); }

}  // namespace mivo_dsound
