#include "secondary_buffer_object.h"

#include <new>

#include "sound_device.h"

namespace mivo_dsound {

HRESULT SecondaryBuffer::Create(SoundDevice* device, const BufferRequest& request,
                                SecondaryBuffer** buffer) {
    auto* created = new (std::nothrow) SecondaryBuffer(device, request.flags);
    if (created == nullptr) return DSERR_OUTOFMEMORY;
    Voice& voice = created->voice_;
    voice.layout = request.layout;
    voice.frames = request.bytes / request.layout.blockAlign;
    voice.group = &device->Voices();
    try {
        // New buffers hold silence, whatever the sample format calls it.
        voice.samples.assign(request.bytes, request.layout.bits == 8 ? 0x80 : 0);
        device->Mix().Attach(voice);
    } catch (const std::bad_alloc&) {
        delete created;
        return DSERR_OUTOFMEMORY;
    }
    *buffer = created;
    return DS_OK;
}

SecondaryBuffer::SecondaryBuffer(SoundDevice* device, DWORD flags)
    : device_(device), flags_(flags) {
    device_->AddRef();
}

SecondaryBuffer::~SecondaryBuffer() {
    device_->Mix().Detach(voice_);
    device_->Release();
}

HRESULT SecondaryBuffer::QueryInterface(const IID& iid, void** object) {
    if (object == nullptr) return DSERR_INVALIDPARAM;
    if (IsEqualGUID(iid, kIidUnknown) || IsEqualGUID(iid, kIidDirectSoundBuffer)) {
        *object = static_cast<IDirectSoundBuffer*>(this);
    } else if (IsEqualGUID(iid, kIidDirectSoundNotify) && Has(DSBCAPS_CTRLPOSITIONNOTIFY)) {
        *object = static_cast<IDirectSoundNotify*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return DS_OK;
}

ULONG SecondaryBuffer::AddRef() { return ++refs_; }

ULONG SecondaryBuffer::Release() {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}

HRESULT SecondaryBuffer::GetCaps(DSBCAPS* caps) {
    if (caps == nullptr || caps->dwSize != sizeof(DSBCAPS)) return DSERR_INVALIDPARAM;
    caps->dwFlags = flags_ | DSBCAPS_LOCSOFTWARE;
    caps->dwBufferBytes = static_cast<DWORD>(voice_.samples.size());
    caps->dwUnlockTransferRate = 0;
    caps->dwPlayCpuOverhead = 0;
    return DS_OK;
}

HRESULT SecondaryBuffer::GetCurrentPosition(DWORD* play, DWORD* write) {
    DWORD playAt = 0;
    DWORD writeAt = 0;
    device_->Mix().Cursors(voice_, playAt, writeAt);
    if (play != nullptr) *play = playAt;
    if (write != nullptr) *write = writeAt;
    return DS_OK;
}

HRESULT SecondaryBuffer::GetFormat(WAVEFORMATEX* format, DWORD bytes, DWORD* written) {
    return AnswerGetFormat(voice_.layout, format, bytes, written);
}

HRESULT SecondaryBuffer::GetVolume(LONG* volume) {
    if (volume == nullptr) return DSERR_INVALIDPARAM;
    if (!Has(DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
    *volume = device_->Mix().Volume(voice_);
    return DS_OK;
}

HRESULT SecondaryBuffer::SetVolume(LONG volume) {
    if (!Has(DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
    if (volume > DSBVOLUME_MAX || volume < DSBVOLUME_MIN) return DSERR_INVALIDPARAM;
    device_->Mix().SetVolume(voice_, volume);
    return DS_OK;
}

HRESULT SecondaryBuffer::GetPan(LONG* pan) {
    if (pan == nullptr) return DSERR_INVALIDPARAM;
    if (!Has(DSBCAPS_CTRLPAN)) return DSERR_CONTROLUNAVAIL;
    *pan = 0;
    return DS_OK;
}

// Panning is not mixed; a buffer that asked for the control hears centre.
HRESULT SecondaryBuffer::SetPan(LONG) {
    return Has(DSBCAPS_CTRLPAN) ? DSERR_UNSUPPORTED : DSERR_CONTROLUNAVAIL;
}

HRESULT SecondaryBuffer::GetFrequency(DWORD* frequency) {
    if (frequency == nullptr) return DSERR_INVALIDPARAM;
    if (!Has(DSBCAPS_CTRLFREQUENCY)) return DSERR_CONTROLUNAVAIL;
    *frequency = voice_.layout.rate;
    return DS_OK;
}

HRESULT SecondaryBuffer::SetFrequency(DWORD) {
    return Has(DSBCAPS_CTRLFREQUENCY) ? DSERR_UNSUPPORTED : DSERR_CONTROLUNAVAIL;
}

HRESULT SecondaryBuffer::GetStatus(DWORD* status) {
    if (status == nullptr) return DSERR_INVALIDPARAM;
    device_->OutputLost();
    const VoiceStatus now = device_->Mix().Status(voice_);
    DWORD value = 0;
    if (now.playing) value |= DSBSTATUS_PLAYING;
    if (now.looping) value |= DSBSTATUS_LOOPING;
    if (now.lost) value |= DSBSTATUS_BUFFERLOST;
    *status = value;
    return DS_OK;
}

HRESULT SecondaryBuffer::Initialize(IDirectSound*, const DSBUFFERDESC*) {
    return DSERR_ALREADYINITIALIZED;
}

HRESULT SecondaryBuffer::Lock(DWORD offset, DWORD bytes, void** p1, DWORD* n1, void** p2, DWORD* n2,
                              DWORD flags) {
    if (p1 == nullptr || n1 == nullptr) return DSERR_INVALIDPARAM;
    device_->OutputLost();
    LockedRegion region;
    const HRESULT locked = device_->Mix().Lock(voice_, offset, bytes, flags, p2 != nullptr, region);
    if (locked != DS_OK) return locked;
    *p1 = region.first;
    *n1 = region.firstBytes;
    if (p2 != nullptr) *p2 = region.second;
    if (n2 != nullptr) *n2 = region.secondBytes;
    return DS_OK;
}

HRESULT SecondaryBuffer::Unlock(void* p1, DWORD n1, void* p2, DWORD n2) {
    return device_->Mix().Unlock(voice_, p1, n1, p2, n2);
}

HRESULT SecondaryBuffer::Play(DWORD reserved, DWORD priority, DWORD flags) {
    if (reserved != 0) return DSERR_INVALIDPARAM;
    if (priority != 0 && !Has(DSBCAPS_LOCDEFER)) return DSERR_INVALIDPARAM;
    device_->OutputLost();
    return device_->Mix().Play(voice_, (flags & DSBPLAY_LOOPING) != 0);
}

HRESULT SecondaryBuffer::Stop() {
    device_->Mix().Stop(voice_);
    return DS_OK;
}

HRESULT SecondaryBuffer::SetCurrentPosition(DWORD position) {
    return device_->Mix().SetPosition(voice_, position);
}

// A secondary buffer's format is fixed when it is created.
HRESULT SecondaryBuffer::SetFormat(const WAVEFORMATEX*) { return DSERR_INVALIDCALL; }

HRESULT SecondaryBuffer::Restore() {
    const HRESULT restored = device_->RestoreOutput();
    if (restored != DS_OK) return restored;
    device_->Mix().Restore(voice_);
    return DS_OK;
}

HRESULT SecondaryBuffer::SetNotificationPositions(DWORD count, const DSBPOSITIONNOTIFY* positions) {
    if (count > 0 && positions == nullptr) return DSERR_INVALIDPARAM;
    std::vector<Notification> table;
    try {
        table.reserve(count);
    } catch (const std::bad_alloc&) {
        return DSERR_OUTOFMEMORY;
    }
    const auto size = static_cast<DWORD>(voice_.samples.size());
    for (DWORD i = 0; i < count; ++i) {
        const DWORD offset = positions[i].dwOffset;
        const auto fd = reinterpret_cast<intptr_t>(positions[i].hEventNotify);
        if (offset != DSBPN_OFFSETSTOP && offset >= size) return DSERR_INVALIDPARAM;
        if (fd <= 0 || fd > INT32_MAX) return DSERR_INVALIDPARAM;
        table.push_back({offset, static_cast<int>(fd)});
    }
    return device_->Mix().SetNotifications(voice_, table);
}

}  // namespace mivo_dsound
