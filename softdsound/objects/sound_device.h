// The DirectSound device object: one output on a backend, its mixer, the
// cooperative level and the primary buffer.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

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
    static HRESULT Create(std::unique_ptr<OutputBackend> backend, const OutputInfo& output,
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
    Mixer& Mix() { return mixer_; }
    DWORD CooperativeLevel() const { return level_.load(); }
    WaveLayout OutputLayout();
    uint32_t OutputPeriodBytes();
    // True while the output is gone; notices the backend losing it.
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
    SoundDevice(std::unique_ptr<OutputBackend> backend, OutputInfo output)
        : backend_(std::move(backend)), mixer_(*backend_), outputInfo_(std::move(output)) {}
    ~SoundDevice();
    bool OpenOutputLocked(const WaveLayout& layout);
    void CloseOutputLocked();
    void MarkLostLocked();
    void NoticeLossLocked();

    std::atomic<ULONG> refs_{1};
    std::atomic<DWORD> level_{0};
    // In this order: the mixer reads the backend's time, and the output
    // pulls from the mixer, so each goes before what it uses.
    std::unique_ptr<OutputBackend> backend_;
    Mixer mixer_;
    // The output it plays on: reopened by name after a loss, so a named
    // output comes back as itself and the default as whatever is default.
    const OutputInfo outputInfo_;
    std::mutex control_;  // the members below
    std::unique_ptr<Output> output_;
    WaveLayout layout_;
    uint32_t periodFrames_ = 256;
    bool lost_ = false;
    DWORD failingRestores_ = 0;
    PrimaryBuffer* primary_ = nullptr;
};

}  // namespace mivo_dsound
