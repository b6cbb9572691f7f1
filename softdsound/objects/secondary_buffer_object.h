// A secondary buffer: client-written PCM that the mixer plays, with its
// position notifications. IDirectSoundNotify is the same object under a
// second interface, so it shares the buffer's reference count and keeps the
// buffer alive.
#pragma once

#include <atomic>

#include "buffer_request.h"
#include "mivo_dsound.h"
#include "mixer/voice.h"

namespace mivo_dsound {

class SoundDevice;

class SecondaryBuffer final : public IDirectSoundBuffer, public IDirectSoundNotify {
public:
    static HRESULT Create(SoundDevice* device, const BufferRequest& request,
                          SecondaryBuffer** buffer);

    // IUnknown, for both interfaces
    HRESULT QueryInterface(const IID& iid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    // IDirectSoundBuffer
    HRESULT GetCaps(DSBCAPS* caps) override;
    HRESULT GetCurrentPosition(DWORD* play, DWORD* write) override;
    HRESULT GetFormat(WAVEFORMATEX* format, DWORD bytes, DWORD* written) override;
    HRESULT GetVolume(LONG* volume) override;
    HRESULT GetPan(LONG* pan) override;
    HRESULT GetFrequency(DWORD* frequency) override;
    HRESULT GetStatus(DWORD* status) override;
    HRESULT Initialize(IDirectSound* device, const DSBUFFERDESC* desc) override;
    HRESULT Lock(DWORD offset, DWORD bytes, void** p1, DWORD* n1, void** p2, DWORD* n2,
                 DWORD flags) override;
    HRESULT Play(DWORD reserved, DWORD priority, DWORD flags) override;
    HRESULT SetCurrentPosition(DWORD position) override;
    HRESULT SetFormat(const WAVEFORMATEX* format) override;
    HRESULT SetVolume(LONG volume) override;
    HRESULT SetPan(LONG pan) override;
    HRESULT SetFrequency(DWORD frequency) override;
    HRESULT Stop() override;
    HRESULT Unlock(void* p1, DWORD n1, void* p2, DWORD n2) override;
    HRESULT Restore() override;
    // IDirectSoundNotify
    HRESULT SetNotificationPositions(DWORD count, const DSBPOSITIONNOTIFY* positions) override;

private:
    SecondaryBuffer(SoundDevice* device, DWORD flags);
    ~SecondaryBuffer();
    bool Has(DWORD capability) const { return (flags_ & capability) != 0; }

    std::atomic<ULONG> refs_{1};
    SoundDevice* device_;  // one reference, held for the buffer's life
    DWORD flags_;
    Voice voice_;  // changed only through the device's mixer
};

}  // namespace mivo_dsound
