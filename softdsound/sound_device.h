// The DirectSound device object: one SDL output, its mixer, the cooperative
// level and the primary buffer.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "audio_backend.h"
#include "dsound.h"
#include "hooks/mivo_dsound_hooks.h"
#include "mixer.h"
#include "wave_layout.h"

namespace mivo_dsound {

class PrimaryBuffer;

class SoundDevice final : public IDirectSound, public IMivoDeviceHooks {
public:
    // DS_OK and a device with one reference, or DSERR_NODRIVER when no
    // audio driver or output is available.
    static HRESULT Create(SoundDevice** device);

    // IUnknown
    HRESULT QueryInterface(const IID& iid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    // IDirectSound
    HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer** buffer,
                              IUnknown* outer) override;
    HRESULT GetCaps(DSCAPS* caps) override;
    HRESULT DuplicateSoundBuffer(IDirectSoundBuffer* original,
                                 IDirectSoundBuffer** duplicate) override;
    HRESULT SetCooperativeLevel(HWND window, DWORD level) override;
    HRESULT Compact() override;
    HRESULT GetSpeakerConfig(DWORD* config) override;
    HRESULT SetSpeakerConfig(DWORD config) override;
    HRESULT Initialize(const GUID* device) override;
    // IMivoDeviceHooks
    HRESULT SimulateDeviceLoss(DWORD failingRestores) override;
    HRESULT GetLastSignalTime(uint64_t* nanoseconds) override;
    HRESULT GetOutputLatency(DWORD* targetFrames, DWORD* reportedFrames) override;

    // For the buffers.
    Mixer& Mix() { return mixer_; }
    DWORD CooperativeLevel() const { return level_.load(); }
    WaveLayout OutputLayout();
    uint32_t OutputPeriodBytes();
    // True while the output is gone; notices SDL dropping it.
    bool OutputLost();
    // Reopens a lost output: DS_OK, or DSERR_BUFFERLOST while it stays gone.
    HRESULT RestoreOutput();
    // Reopens the output in `layout`; on failure the old format stays.
    HRESULT ChangeOutputFormat(const WaveLayout& layout);
    // The primary buffer's count is kept under the device's lock, so that
    // CreateSoundBuffer never hands out a primary buffer being freed.
    ULONG AddRefPrimary(PrimaryBuffer* primary);
    ULONG ReleasePrimary(PrimaryBuffer* primary);

private:
    SoundDevice() = default;
    ~SoundDevice();
    bool OpenOutputLocked(const WaveLayout& layout);
    void CloseOutputLocked();
    void MarkLostLocked();

    std::atomic<ULONG> refs_{1};
    std::atomic<DWORD> level_{0};
    std::unique_ptr<AudioSubsystem> subsystem_;
    // Declared before the output: closing the output waits for the callback,
    // which uses the mixer.
    Mixer mixer_;
    std::mutex control_;  // the members below; taken before the mixer's
    std::unique_ptr<AudioOutput> output_;
    WaveLayout layout_;
    int periodFrames_ = 256;
    bool lost_ = false;
    DWORD failingRestores_ = 0;
    PrimaryBuffer* primary_ = nullptr;
};

}  // namespace mivo_dsound
