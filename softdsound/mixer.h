// The software mixer: every playing secondary buffer is read from its play
// cursor, converted to the output format, scaled by its volume and summed
// with saturation. It mixes on two threads under one lock: the device's
// clock thread, which mixes up to each notification when its time comes on
// the device's clock, and SDL's audio callback, which hands over what the
// clock thread mixed and mixes the rest of what SDL asks for.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "dsound.h"
#include "wave_layout.h"

namespace mivo_dsound {

struct Notification {
    DWORD offset;  // byte offset, or DSBPN_OFFSETSTOP
    int fd;
};

// A secondary buffer as the mixer sees it. Every field except the contents
// of `samples` is guarded by the mixer's mutex; the client writes `samples`
// between Lock and Unlock, which both take that mutex, so the audio thread
// and the client see each other's bytes in order.
struct Voice {
    WaveLayout layout;
    std::vector<uint8_t> samples;
    uint32_t frames = 0;
    bool playing = false;
    bool looping = false;
    bool lost = false;
    uint32_t position = 0;  // next frame to mix
    uint32_t fraction = 0;  // between `position` and the next frame, of 2^32
    int64_t gain = 0;       // amplitude in 2^-30
    // The output frame it starts at: Play starts a buffer at the clock's
    // present, even when earlier output frames are still to be mixed.
    uint64_t startFrame = 0;
    std::vector<Notification> notifications;
};

// Event descriptors to signal once the mixer's lock is released: the audio
// thread never makes a system call while a client may wait on the lock.
class SignalBatch {
public:
    void Add(int fd);
    size_t Count() const { return count_; }
    void Flush();

private:
    std::array<int, 256> fds_{};
    size_t count_ = 0;
};

// Writes one 8-byte 1 to an event descriptor without waiting.
void SignalEvent(int fd);

// Amplitude of a DirectSound volume (hundredths of a decibel) in 2^-30.
int64_t GainOfVolume(LONG volume);
constexpr int64_t kUnityGain = int64_t{1} << 30;

class Mixer {
public:
    std::mutex& Mutex() { return mutex_; }
    // Held by the audio thread from mixing until its signals are written.
    // Stop takes it (before Mutex()) so that every block event a callback
    // owes has been written when Stop signals the stop events and returns.
    std::mutex& SignalMutex() { return signalMutex_; }

    // The rest need Mutex() held, except Render.
    void Attach(Voice* voice);
    void Detach(Voice* voice);
    // Sizes the mixing space for a new output; allocates, so it runs on the
    // client's thread while the output is closed.
    void SetOutput(const WaveLayout& layout, int periodFrames);
    void SetMasterGain(int64_t gain) { master_ = gain; }
    // The output is gone: every voice stops and is lost until restored.
    void LoseAll();
    // How far ahead of the play cursor the next callback may already read:
    // the write cursor is this many bytes past the play cursor.
    uint32_t WriteLead(const Voice& voice) const;
    // Frames the output consumed since it opened.
    uint64_t FramesRendered() const { return rendered_; }

    // The clock thread runs while the output is open: started before SDL's
    // callback can run, stopped before the output closes. Neither takes a
    // lock the caller may hold, except the device's own.
    // `startFrames`: what the output reads at once when it starts, which
    // the clock starts at, so that this first fill does not push it on.
    void StartClock(uint64_t startFrames);
    void StopClock();
    // Tells the clock thread that a buffer started or moved, so that its
    // next notification is due at another time. Call without Mutex() held.
    void Reschedule() { wake_.notify_one(); }
    // The output frame the clock says is playing now. Needs Mutex().
    uint64_t Present() const;
    // Waits, at most `limitMs`, for the output to take what the clock thread
    // mixed ahead: a client told a block has played may close the device
    // right away, and the block must still reach the output.
    void Drain(int limitMs);

    // See IMivoDeviceHooks::GetLastSignalTime. Needs no lock.
    uint64_t LastSignalTime() const { return lastSignal_.load(std::memory_order_acquire); }

    // SDL's audio callback; `context` is the Mixer.
    static void Render(void* context, uint8_t* out, int bytes);

private:
    void RunClock();
    // Mixes the notifications whose time has come on the clock; `since`:
    // when the clock thread found them due. Returns the time it mixed at.
    int64_t Tick(int64_t since);
    // When the clock thread meant to run at `expectedNs` and runs far later,
    // at `now`, the process stalled: the stall comes off the clock.
    void SkipStallLocked(int64_t expectedNs, int64_t now);
    // The output frame at which the earliest notification of a playing
    // buffer fires; false when none is coming.
    bool NextDueLocked(uint64_t& due) const;
    // Where the clock says the output is at `nanoseconds`.
    uint64_t LineAt(int64_t nanoseconds) const;
    // Output frames played over a span of time (none over a negative one).
    uint64_t FramesOver(int64_t nanoseconds) const;
    int64_t TimeOfFrame(uint64_t frame) const;
    // Follows the output's reads after a callback consumed up to rendered_.
    void FollowReadsLocked(int64_t now);
    // Mixes ahead into the ring; false when the ring has no room for all.
    bool MixAheadLocked(uint64_t frames, SignalBatch& signals);
    void RenderLocked(uint8_t* out, uint32_t frames, SignalBatch& signals);
    // Mixes `frames` output frames of `voice` from accumulator frame `first`.
    void MixVoice(Voice& voice, uint32_t first, uint32_t frames, SignalBatch& signals);
    void WriteOutput(uint8_t* out, uint32_t frames) const;

    std::mutex signalMutex_;
    std::mutex mutex_;
    std::vector<Voice*> voices_;
    std::vector<int64_t> accumulator_;
    WaveLayout output_;
    uint32_t outputFrameBytes_ = 4;
    uint32_t periodFrames_ = 256;
    int64_t master_ = kUnityGain;
    uint64_t rendered_ = 0;  // frames SDL has taken
    uint64_t mixed_ = 0;     // frames mixed: rendered_ plus what waits in the ring
    // Output frames mixed ahead by the clock thread, frame `i` at i % ringFrames_.
    std::vector<uint8_t> ring_;
    uint64_t ringFrames_ = 0;
    // The clock: the output is at lineFrames_ at lineNs_ and moves on at the
    // output's rate.
    uint64_t lineFrames_ = 0;
    int64_t lineNs_ = 0;
    // The least the clock was ahead of the output's reads since windowNs_.
    int64_t leastLead_ = 0;
    int64_t windowNs_ = 0;
    bool clockRunning_ = false;
    std::condition_variable wake_;
    std::thread clock_;
    std::atomic<uint64_t> lastSignal_{0};
};

}  // namespace mivo_dsound
