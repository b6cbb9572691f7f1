#include "secondary_buffer.h"

#include <cstring>
#include <new>

#include "com_identity.h"
#include "sound_device.h"

namespace mivo_dsound {

namespace {

using Hold = std::lock_guard<std::mutex>;

}  // namespace

HRESULT SecondaryBuffer::Create(SoundDevice* device, const BufferRequest& request,
                                SecondaryBuffer** buffer) {
    auto* created = new (std::nothrow) SecondaryBuffer(device, request.flags);
    if (created == nullptr) return DSERR_OUTOFMEMORY;
    Voice& voice = created->voice_;
    voice.layout = request.layout;
    voice.frames = request.bytes / request.layout.blockAlign;
    voice.gain = kUnityGain;
    try {
        // New buffers hold silence, whatever the sample format calls it.
        voice.samples.assign(request.bytes, request.layout.bits == 8 ? 0x80 : 0);
        Hold hold(device->Mix().Mutex());
        device->Mix().Attach(&voice);
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
    {
        Hold hold(device_->Mix().Mutex());
        device_->Mix().Detach(&voice_);
    }
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
    Hold hold(device_->Mix().Mutex());
    const auto size = static_cast<DWORD>(voice_.samples.size());
    const DWORD at = voice_.position * voice_.layout.blockAlign;
    // A stopped buffer has nothing in flight: both cursors meet.
    const DWORD lead = voice_.playing ? device_->Mix().WriteLead(voice_) : 0;
    if (play != nullptr) *play = at;
    if (write != nullptr) *write = (at + lead) % size;
    return DS_OK;
}

HRESULT SecondaryBuffer::GetFormat(WAVEFORMATEX* format, DWORD bytes, DWORD* written) {
    return AnswerGetFormat(voice_.layout, format, bytes, written);
}

HRESULT SecondaryBuffer::GetVolume(LONG* volume) {
    if (volume == nullptr) return DSERR_INVALIDPARAM;
    if (!Has(DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
    Hold hold(device_->Mix().Mutex());
    *volume = volume_;
    return DS_OK;
}

HRESULT SecondaryBuffer::SetVolume(LONG volume) {
    if (!Has(DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
    if (volume > DSBVOLUME_MAX || volume < DSBVOLUME_MIN) return DSERR_INVALIDPARAM;
    const int64_t gain = GainOfVolume(volume);
    Hold hold(device_->Mix().Mutex());
    volume_ = volume;
    voice_.gain = gain;
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
    Hold hold(device_->Mix().Mutex());
    DWORD value = 0;
    if (voice_.playing) value |= DSBSTATUS_PLAYING;
    if (voice_.playing && voice_.looping) value |= DSBSTATUS_LOOPING;
    if (voice_.lost) value |= DSBSTATUS_BUFFERLOST;
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
    Hold hold(device_->Mix().Mutex());
    if (voice_.lost) return DSERR_BUFFERLOST;
    const auto size = static_cast<DWORD>(voice_.samples.size());
    if ((flags & DSBLOCK_FROMWRITECURSOR) != 0) {
        const DWORD at = voice_.position * voice_.layout.blockAlign;
        offset = voice_.playing ? (at + device_->Mix().WriteLead(voice_)) % size : at;
    }
    if ((flags & DSBLOCK_ENTIREBUFFER) != 0) bytes = size;
    if (offset >= size || bytes == 0 || bytes > size) return DSERR_INVALIDPARAM;

    // A region running past the end continues at the start: the second
    // pointer, when the caller has one to receive it.
    const DWORD first = bytes < size - offset ? bytes : size - offset;
    *p1 = voice_.samples.data() + offset;
    *n1 = first;
    const bool wraps = bytes > first && p2 != nullptr;
    if (p2 != nullptr) *p2 = wraps ? voice_.samples.data() : nullptr;
    if (n2 != nullptr) *n2 = wraps ? bytes - first : 0;
    return DS_OK;
}

HRESULT SecondaryBuffer::Unlock(void* p1, DWORD n1, void* p2, DWORD n2) {
    // Taking the mixer's lock publishes what the client wrote to the audio
    // thread.
    Hold hold(device_->Mix().Mutex());
    const auto* start = voice_.samples.data();
    const auto* end = start + voice_.samples.size();
    const auto* first = static_cast<const uint8_t*>(p1);
    if (first == nullptr || first < start || first > end || n1 > static_cast<size_t>(end - first)) {
        return DSERR_INVALIDPARAM;
    }
    if (p2 != nullptr && (p2 != start || n2 > voice_.samples.size())) return DSERR_INVALIDPARAM;
    return DS_OK;
}

HRESULT SecondaryBuffer::Play(DWORD reserved, DWORD priority, DWORD flags) {
    if (reserved != 0) return DSERR_INVALIDPARAM;
    if (priority != 0 && !Has(DSBCAPS_LOCDEFER)) return DSERR_INVALIDPARAM;
    device_->OutputLost();
    {
        Hold hold(device_->Mix().Mutex());
        if (voice_.lost) return DSERR_BUFFERLOST;
        voice_.looping = (flags & DSBPLAY_LOOPING) != 0;
        // Started at the clock's present: frames due earlier are not this
        // buffer's to fill. Play on a playing buffer changes only its looping.
        if (!voice_.playing) voice_.startFrame = device_->Mix().Present();
        voice_.playing = true;
    }
    device_->Mix().Reschedule();
    return DS_OK;
}

HRESULT SecondaryBuffer::Stop() {
    SignalBatch signals;
    Hold signalling(device_->Mix().SignalMutex());
    {
        Hold hold(device_->Mix().Mutex());
        if (voice_.playing) {
            voice_.playing = false;
            for (const Notification& n : voice_.notifications) {
                if (n.offset == DSBPN_OFFSETSTOP) signals.Add(n.fd);
            }
        }
    }
    signals.Flush();
    return DS_OK;
}

HRESULT SecondaryBuffer::SetCurrentPosition(DWORD position) {
    {
        Hold hold(device_->Mix().Mutex());
        if (position >= voice_.samples.size()) return DSERR_INVALIDPARAM;
        voice_.position = position / voice_.layout.blockAlign;
        voice_.fraction = 0;
    }
    device_->Mix().Reschedule();
    return DS_OK;
}

// A secondary buffer's format is fixed when it is created.
HRESULT SecondaryBuffer::SetFormat(const WAVEFORMATEX*) { return DSERR_INVALIDCALL; }

HRESULT SecondaryBuffer::Restore() {
    const HRESULT restored = device_->RestoreOutput();
    if (restored != DS_OK) return restored;
    Hold hold(device_->Mix().Mutex());
    voice_.lost = false;
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
    Hold hold(device_->Mix().Mutex());
    if (voice_.playing) return DSERR_INVALIDCALL;
    voice_.notifications.swap(table);
    return DS_OK;
}

}  // namespace mivo_dsound
