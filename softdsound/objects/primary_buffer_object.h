// The primary buffer: the device's output itself. Setting its format reopens
// the output in that format; it holds no memory a client may write.
#pragma once

#include "mivo_dsound.h"

namespace mivo_dsound {

class SoundDevice;

class PrimaryBuffer final : public IDirectSoundBuffer {
public:
    PrimaryBuffer(SoundDevice* device, DWORD flags);

    HRESULT QueryInterface(const IID& iid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
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

private:
    friend class SoundDevice;
    ~PrimaryBuffer();

    SoundDevice* device_;  // one reference, held for the buffer's life
    DWORD flags_;
    ULONG refs_ = 1;  // guarded by the device's lock
    LONG volume_ = DSBVOLUME_MAX;
};

}  // namespace mivo_dsound
