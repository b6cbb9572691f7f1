// The DirectSound device object: its place on an output's engine (shared
// with the process's other devices on that output), the cooperative level,
// the primary buffer and its format and volume.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "engine/output_engine.h"
#include "hooks/mivo_dsound_hooks.h"
#include "mivo_dsound.h"
#include "mixer/mixer.h"
#include "output/output_backend.h"
#include "wave_layout.h"

namespace mivo_dsound {

class PrimaryBuffer;

class SoundDevice final : public IDirectSound, public IMivoDeviceHooks {
public:
    // DS_OK and a device with one reference playing on `backend`'s
    // `output` (an empty name: the default), or DSERR_NODRIVER when it
    // does not open.
    static HRESULT Create(const std::shared_ptr<OutputBackend>& backend, const OutputInfo& output,
                          SoundDevice** device);

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
    HRESULT StarveOutput(DWORD milliseconds, DWORD quietMs) override;
    HRESULT GetSkippedStalls(DWORD* stalls) override;

    // For the buffers.
    Mixer& Mix() { return engine_->Mix(); }
    VoiceGroup& Voices() { return voices_; }
    DWORD CooperativeLevel() const { return level_.load(); }
    WaveLayout OutputLayout();
    uint32_t OutputPeriodBytes();
    // True while the output is gone; notices the backend losing it.
    bool OutputLost();
    // Reopens a lost output: DS_OK, or DSERR_BUFFERLOST while it stays gone.
    HRESULT RestoreOutput();
    // The primary buffer's format becomes `layout`, reopening the output in
    // it where no other device plays on it; on failure the old one stays.
    HRESULT ChangeOutputFormat(const WaveLayout& layout);
    // The primary buffer's count is kept under the device's lock, so that
    // CreateSoundBuffer never hands out a primary buffer being freed.
    ULONG AddRefPrimary(PrimaryBuffer* primary);
    ULONG ReleasePrimary(PrimaryBuffer* primary);

private:
    SoundDevice(std::shared_ptr<OutputEngine> engine, OutputInfo output)
        : engine_(std::move(engine)), outputInfo_(std::move(output)) {}
    ~SoundDevice();
    // A loss of the output this device has not restored since.
    bool LostLocked();

    std::atomic<ULONG> refs_{1};
    std::atomic<DWORD> level_{0};
    const std::shared_ptr<OutputEngine> engine_;
    const OutputInfo outputInfo_;
    VoiceGroup voices_;
    std::mutex control_;  // the members below
    WaveLayout layout_;
    uint64_t restoredLosses_ = 0;
    PrimaryBuffer* primary_ = nullptr;
};

}  // namespace mivo_dsound
