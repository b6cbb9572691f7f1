// The software mixer: every playing voice is read from its play cursor,
// converted, resampled and routed to the output's format, scaled by its
// volume and summed with saturation.
//
// It mixes on two threads. The pacing thread sleeps until the earliest
// notification of a playing voice is due on the output clock, mixes exactly
// up to it into a ring and signals it. The backend's pull (Render) hands
// over what the ring holds and mixes the rest of what it asks for. On a
// virtual time source there is no pacing thread: whoever moves the time on
// calls Pace.
//
// Locks, always taken in this order: the signal lock, held by a thread from
// mixing until the events it owes are written (so that Stop returns only
// after every block event before it), then the state lock, over the voices,
// the ring and the clock. Every public function takes what it needs; none
// may be called with either held.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "event_signals.h"
#include "output/output_backend.h"
#include "output_clock.h"
#include "voice.h"

namespace mivo_dsound {

class Mixer final : public RenderTarget {
public:
    explicit Mixer(const TimeSource& time) : time_(time) {}
    ~Mixer() { StopPacing(); }
    Mixer(const Mixer&) = delete;
    Mixer& operator=(const Mixer&) = delete;

    // Voices. A voice is attached for its buffer's life.
    void Attach(Voice& voice);
    void Detach(Voice& voice);
    // DSERR_BUFFERLOST while the voice is lost. Starts a stopped voice at
    // the clock's present; on a playing one changes only its looping.
    HRESULT Play(Voice& voice, bool looping);
    // Signals the voice's stop events when it was playing; it falls silent
    // at once.
    void Stop(Voice& voice);
    HRESULT SetPosition(Voice& voice, DWORD byte);
    void SetVolume(Voice& voice, LONG volume);
    LONG Volume(const Voice& voice);
    // DSERR_INVALIDCALL while playing; otherwise takes `table`.
    HRESULT SetNotifications(Voice& voice, std::vector<Notification>& table);
    VoiceStatus Status(const Voice& voice);
    void Cursors(const Voice& voice, DWORD& play, DWORD& write);
    HRESULT Lock(Voice& voice, DWORD offset, DWORD bytes, DWORD flags, bool wantSecond,
                 LockedRegion& region);
    HRESULT Unlock(const Voice& voice, const void* first, DWORD firstBytes, const void* second,
                   DWORD secondBytes);
    void Restore(Voice& voice);
    // The primary buffer's volume of the device whose voices form `group`.
    void SetMasterVolume(VoiceGroup& group, LONG volume);

    // The output. SetOutput sizes the mixing space and allocates, so it runs
    // while no output pulls. Start begins the clock `startFrames` ahead (what
    // the output reads at once on starting) and, on real time, the pacing
    // thread; StopPacing joins it.
    void SetOutput(const OutputFormat& format, uint32_t periodFrames);
    void Start(uint64_t startFrames);
    void StopPacing();
    // Waits, at most `limitMs`, for the output to take what was mixed ahead:
    // a client told a block has played may close the device right away, and
    // the block must still reach the output.
    void Drain(int limitMs);
    // The output is gone: every voice stops and is lost until restored.
    void LoseAll();
    // Frames the output has taken since it opened.
    uint64_t FramesRendered();
    // Monotonic time of the last signalled notification (0: none). No lock.
    uint64_t LastSignalTime() const { return lastSignal_.load(std::memory_order_acquire); }
    // Stalls taken off the output clock so far. No lock.
    uint32_t StallsSkipped() const { return stalls_.load(std::memory_order_relaxed); }

    // RenderTarget
    void Render(uint8_t* out, uint32_t frames, int64_t nowNs) override;
    void Pace(int64_t nowNs) override;

private:
    struct Due {
        bool any;
        uint64_t frame;
    };

    // mixer_pacing.cpp
    void RunPacing();
    int64_t Tick(int64_t since);
    Due NextDueLocked() const;
    uint64_t PresentLocked() const;
    // The pacing meant to run at `plannedNs` and runs at `nowNs`.
    void SkipStallLocked(int64_t plannedNs, int64_t nowNs);
    uint32_t WriteLeadLocked(const Voice& voice) const;
    // mixer_render.cpp
    bool MixAheadLocked(uint64_t frames, SignalBatch& signals);
    void RenderLocked(uint8_t* out, uint32_t frames, SignalBatch& signals);
    void MixVoice(Voice& voice, uint32_t first, uint32_t frames, SignalBatch& signals);
    // The voice's next `frames` frames at the output's rate into
    // voiceFrames_, counting the source frames passed; fewer where a
    // one-shot voice ends.
    uint32_t ReadVoice(Voice& voice, uint32_t frames, uint64_t& consumed, bool& ended);
    uint32_t ResampleVoice(Voice& voice, uint32_t frames, uint64_t& consumed, bool& ended);
    // What a finished one-shot voice's resampler still holds.
    uint32_t FlushTail(Voice& voice, float* out, uint32_t frames);
    void AddVoice(const Voice& voice, uint32_t first, uint32_t frames);
    // mixer.cpp
    uint32_t OutputRate();
    // A voice meets the output: its route and resampler.
    void FitVoiceLocked(Voice& voice);
    // The voice's resampler starts a new sound.
    static void RestartVoiceLocked(Voice& voice);
    // The voice stops: its stop events are owed.
    static void EndLocked(Voice& voice, SignalBatch& signals);
    void Publish(SignalBatch& signals, int64_t nowNs);

    const TimeSource& time_;
    std::mutex signalMutex_;
    std::mutex mutex_;
    std::vector<Voice*> voices_;
    std::vector<float> accumulator_;
    std::vector<float> voiceFrames_;   // one voice's frames at the output's rate
    std::vector<float> sourceFrames_;  // what a resampler is fed
    WaveLayout output_;                // the output's rate and speakers
    SampleWriter write_;
    uint32_t outputFrameBytes_ = 4;
    uint32_t periodFrames_ = 256;
    uint64_t rendered_ = 0;  // frames the output has taken
    uint64_t mixed_ = 0;     // frames mixed: rendered_ plus what waits in the ring
    // Output frames mixed ahead of the output's reads, frame `i` at i % ringFrames_.
    std::vector<uint8_t> ring_;
    uint64_t ringFrames_ = 0;
    OutputClock clock_;
    bool running_ = false;   // the clock runs (an output is open)
    bool pacing_ = false;    // the pacing thread runs
    int64_t plannedNs_ = 0;  // when Pace next expects to be called (virtual time)
    std::condition_variable wake_;
    std::thread pacer_;
    std::atomic<uint64_t> lastSignal_{0};
    std::atomic<uint32_t> stalls_{0};
};

}  // namespace mivo_dsound
