// A private interface of mivo's software DirectSound, for tests and the
// device benchmark: it is
// reached through IDirectSound::QueryInterface with the identifier below, so
// the library exports nothing beyond DirectSoundCreate and a real
// DirectSound simply answers E_NOINTERFACE.
#pragma once

#include "mivo_dsound.h"

// {6d69766f-6473-4e64-8000-686f6f6b7331}
constexpr GUID kIidMivoDeviceHooks = {
    0x6d69766f, 0x6473, 0x4e64, {0x80, 0x00, 0x68, 0x6f, 0x6f, 0x6b, 0x73, 0x31}};

struct IMivoDeviceHooks : IUnknown {
    // Behaves as if the backend reported the output gone: the output closes,
    // and every buffer answers DSERR_BUFFERLOST until restored. The next
    // `failingRestores` attempts to reopen the output fail.
    virtual HRESULT SimulateDeviceLoss(DWORD failingRestores) = 0;
    // CLOCK_MONOTONIC time, in nanoseconds, at which the mixer last took
    // audio past a notification position and signalled it (0: never).
    virtual HRESULT GetLastSignalTime(uint64_t* nanoseconds) = 0;
    // The output's latency in frames of its rate: the buffer the device asks
    // the sound server to hold (`targetFrames`, which an adaptive output
    // changes as it runs) and what the server last reported for the stream,
    // buffer and sink together (`reportedFrames`, 0 when it reports none).
    // DSERR_UNSUPPORTED from an output that has no such figures. The target
    // is the buffer the server granted when it last took a new one.
    virtual HRESULT GetOutputLatency(DWORD* targetFrames, DWORD* reportedFrames) = 0;
    // For a server-buffered output: it stops refilling the server for
    // `milliseconds`, as when the process is held up (longer than the
    // latency, the server runs out), and a spell without underflow that
    // brings the latency a step back down lasts `quietMs` (0: as it was).
    // DSERR_UNSUPPORTED from an output that has no server buffer.
    virtual HRESULT StarveOutput(DWORD milliseconds, DWORD quietMs) = 0;
    // How many times the device's clock has taken a stall of the process
    // off its line since the device was made (the pacing ran more than
    // 10 ms later than it meant to).
    virtual HRESULT GetSkippedStalls(DWORD* stalls) = 0;

protected:
    ~IMivoDeviceHooks() = default;
};
