// Pacing: notifications mixed and signalled when the output clock reaches
// them, by the pacing thread on real time or by Pace on a virtual clock.
#include <algorithm>
#include <chrono>

#include "mixer.h"
#include "resampler.h"
#include "thread_priority.h"

namespace mivo_dsound {

namespace {

// With nothing due, the pacing thread still looks about this often.
constexpr auto kIdleWait = std::chrono::milliseconds(200);
// A full ring waits for the output to take some.
constexpr auto kFullRingWait = std::chrono::milliseconds(2);

std::chrono::steady_clock::time_point SteadyAt(int64_t ns) {
    return std::chrono::steady_clock::time_point{std::chrono::nanoseconds(ns)};
}

}  // namespace

void Mixer::Start(uint64_t startFrames) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        clock_.Start(time_.NowNs(), mixed_ + startFrames, output_.rate);
        running_ = true;
        plannedNs_ = 0;
        pacing_ = !time_.Virtual();
    }
    if (!time_.Virtual()) pacer_ = std::thread([this] { RunPacing(); });
}

void Mixer::StopPacing() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        running_ = false;
        pacing_ = false;
    }
    wake_.notify_one();
    if (pacer_.joinable()) pacer_.join();
}

void Mixer::Drain(int limitMs) {
    // On a virtual clock nobody else would pull meanwhile.
    if (time_.Virtual()) return;
    for (int waited = 0; waited < limitMs; ++waited) {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            if (mixed_ <= rendered_) return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

uint64_t Mixer::PresentLocked() const {
    // Without a running clock (no output) nothing waits to be mixed.
    return running_ ? std::max(clock_.FrameAt(time_.NowNs()), mixed_) : mixed_;
}

void Mixer::SkipStallLocked(int64_t plannedNs, int64_t nowNs) {
    if (clock_.SkipStall(plannedNs, nowNs, mixed_)) stalls_.fetch_add(1, std::memory_order_relaxed);
}

uint32_t Mixer::WriteLeadLocked(const Voice& voice) const {
    const uint64_t period =
        (uint64_t{periodFrames_} * voice.layout.rate + output_.rate - 1) / output_.rate;
    // One frame more: a pull's last output frame may take the resampler
    // into the source frame after the period's.
    const uint64_t lead = (period + 1) * voice.layout.blockAlign;
    const uint64_t most = voice.samples.size() - voice.layout.blockAlign;
    return static_cast<uint32_t>(std::min(lead, most));
}

Mixer::Due Mixer::NextDueLocked() const {
    Due due{false, 0};
    for (const Voice* voice : voices_) {
        if (!voice->playing || voice->notifications.empty()) continue;
        const WaveLayout& in = voice->layout;
        const uint64_t size = voice->samples.size();
        const uint64_t from = uint64_t{voice->position} * in.blockAlign;
        const RateStep rate(in.rate, output_.rate);
        for (const Notification& n : voice->notifications) {
            if (n.offset == DSBPN_OFFSETSTOP) continue;
            // It fires once the cursor has moved past the frame holding it.
            const uint64_t frames = (n.offset + size - from) % size / in.blockAlign + 1;
            if (!voice->looping && frames > voice->frames - voice->position) continue;
            const uint64_t at =
                std::max(mixed_, voice->startFrame) + rate.OutputFramesToPass(frames, voice->phase);
            if (!due.any || at < due.frame) due = {true, at};
        }
    }
    return due;
}

void Mixer::RunPacing() {
    RaiseAudioThreadPriority();
    std::unique_lock<std::mutex> lock(mutex_);
    // When the thread expects to run again; 0 while it waits for nothing.
    int64_t planned = 0;
    while (pacing_) {
        const int64_t now = time_.NowNs();
        if (planned != 0) SkipStallLocked(planned, now);
        const Due due = NextDueLocked();
        if (!due.any) {
            planned = 0;
            wake_.wait_for(lock, kIdleWait);
        } else if (due.frame > clock_.FrameAt(now)) {
            planned = clock_.TimeOfFrame(due.frame);
            wake_.wait_until(lock, SteadyAt(planned));
        } else if (due.frame > rendered_ + ringFrames_) {
            planned = now + std::chrono::nanoseconds(kFullRingWait).count();
            wake_.wait_for(lock, kFullRingWait);
        } else {
            // The signal lock comes first; the state is looked at again under both.
            lock.unlock();
            planned = Tick(now);
            lock.lock();
        }
    }
}

void Mixer::Pace(int64_t nowNs) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (!running_) return;
        if (plannedNs_ != 0) SkipStallLocked(plannedNs_, nowNs);
    }
    Tick(nowNs);
    std::lock_guard<std::mutex> hold(mutex_);
    const Due due = NextDueLocked();
    plannedNs_ = due.any ? std::max(nowNs, clock_.TimeOfFrame(due.frame)) : 0;
}

int64_t Mixer::Tick(int64_t since) {
    SignalBatch signals;
    std::lock_guard<std::mutex> signalling(signalMutex_);
    const int64_t now = time_.NowNs();
    {
        std::lock_guard<std::mutex> hold(mutex_);
        // The stall may come while the thread waits for the locks.
        SkipStallLocked(since, now);
        const uint64_t line = clock_.FrameAt(now);
        // Up to each notification exactly, so that a client woken by it
        // finds the play cursor on its offset.
        for (Due due = NextDueLocked();
             running_ && due.any && due.frame <= line && due.frame > mixed_;
             due = NextDueLocked()) {
            if (!MixAheadLocked(due.frame - mixed_, signals)) break;
        }
    }
    Publish(signals, now);
    return now;
}

}  // namespace mivo_dsound
