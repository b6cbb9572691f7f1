#include "mixer.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <ctime>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace mivo_dsound {

namespace {

// Source channel -> up to two output channels (-1: none). A mono source
// with no centre speaker to go to plays on both front speakers, as
// DirectSound does.
struct ChannelRoute {
    std::array<std::array<int8_t, 2>, kMaxChannels> to;
};

int PopCount(DWORD mask) {
    int count = 0;
    for (; mask != 0; mask &= mask - 1) ++count;
    return count;
}

// Bit of the `index`-th speaker named by `mask`.
DWORD NthSpeaker(DWORD mask, int index) {
    for (; mask != 0; mask &= mask - 1) {
        if (index-- == 0) return mask & (~mask + 1);
    }
    return 0;
}

int ChannelOfSpeaker(DWORD mask, DWORD speaker) {
    if ((mask & speaker) == 0) return -1;
    return PopCount(mask & (speaker - 1));
}

ChannelRoute RouteChannels(const WaveLayout& from, const WaveLayout& to) {
    ChannelRoute route{};
    for (auto& targets : route.to) targets = {-1, -1};
    const bool named =
        PopCount(from.channelMask) == from.channels && PopCount(to.channelMask) == to.channels;
    if (!named) {
        // A mask that does not name one speaker per channel (0, or
        // SPEAKER_ALL) leaves channels in their order.
        for (int c = 0; c < from.channels && c < to.channels; ++c) {
            route.to[static_cast<size_t>(c)][0] = static_cast<int8_t>(c);
        }
        return route;
    }
    constexpr DWORD kFrontLeft = 0x1;
    constexpr DWORD kFrontRight = 0x2;
    for (int c = 0; c < from.channels; ++c) {
        auto& targets = route.to[static_cast<size_t>(c)];
        const int direct = ChannelOfSpeaker(to.channelMask, NthSpeaker(from.channelMask, c));
        if (direct >= 0) {
            targets[0] = static_cast<int8_t>(direct);
        } else if (from.channels == 1) {
            targets[0] =
                static_cast<int8_t>(std::max(0, ChannelOfSpeaker(to.channelMask, kFrontLeft)));
            targets[1] = static_cast<int8_t>(ChannelOfSpeaker(to.channelMask, kFrontRight));
        }
    }
    return route;
}

// One sample as a signed 32-bit value, left-aligned whatever its width, so
// that every width meets the others without rounding.
int32_t ReadSample(const uint8_t* p, int bits) {
    switch (bits) {
        case 8: return static_cast<int32_t>(static_cast<uint32_t>(p[0] ^ 0x80u) << 24);
        case 16: {
            int16_t v;
            std::memcpy(&v, p, sizeof v);
            return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(v)) << 16);
        }
        case 24:
            return static_cast<int32_t>((uint32_t{p[0]} << 8) | (uint32_t{p[1]} << 16) |
                                        (uint32_t{p[2]} << 24));
        default: {
            int32_t v;
            std::memcpy(&v, p, sizeof v);
            return v;
        }
    }
}

int32_t Saturate(int64_t v) {
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(std::clamp(v, kMin, kMax));
}

uint32_t SampleBytesOnOutput(int bits) { return bits == 24 ? 4 : static_cast<uint32_t>(bits / 8); }

int64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

constexpr int64_t kSecondNs = 1000000000;
// How far ahead of the output's reads the clock is kept: a callback a little
// early still finds its frames' time come, and mixes nothing before it.
constexpr int64_t kClockMarginNs = 2000000;
// How often the clock is drawn back towards the output's reads when it ran
// ahead of them (the output's clock is slower than this machine's).
constexpr int64_t kClockWindowNs = 250000000;
// A clock thread this much later than it meant to wake was not running: the
// process stalled (see SkipStallLocked).
constexpr int64_t kStallNs = 10000000;
// With nothing due, the clock thread still looks about this often.
constexpr auto kIdleWait = std::chrono::milliseconds(200);
// A full ring waits for the output to take some.
constexpr auto kFullRingWait = std::chrono::milliseconds(2);

}  // namespace

void SignalEvent(int fd) {
    const uint64_t one = 1;
    // The descriptor is the client's: a full pipe or a closed one loses the
    // signal rather than stalling the audio.
    [[maybe_unused]] const ssize_t written = ::write(fd, &one, sizeof one);
}

void SignalBatch::Add(int fd) {
    if (count_ == fds_.size()) Flush();
    fds_[count_++] = fd;
}

void SignalBatch::Flush() {
    for (size_t i = 0; i < count_; ++i) SignalEvent(fds_[i]);
    count_ = 0;
}

int64_t GainOfVolume(LONG volume) {
    if (volume <= DSBVOLUME_MIN) return 0;
    if (volume >= DSBVOLUME_MAX) return kUnityGain;
    return static_cast<int64_t>(std::lround(std::pow(10.0, volume / 2000.0) * kUnityGain));
}

void Mixer::Attach(Voice* voice) { voices_.push_back(voice); }

void Mixer::Detach(Voice* voice) {
    voices_.erase(std::remove(voices_.begin(), voices_.end(), voice), voices_.end());
}

void Mixer::LoseAll() {
    for (Voice* voice : voices_) {
        voice->lost = true;
        voice->playing = false;
    }
}

void Mixer::SetOutput(const WaveLayout& layout, int periodFrames) {
    output_ = layout;
    outputFrameBytes_ = SampleBytesOnOutput(layout.bits) * static_cast<uint32_t>(layout.channels);
    periodFrames_ = static_cast<uint32_t>(periodFrames);
    accumulator_.assign(static_cast<size_t>(periodFrames_) * static_cast<size_t>(layout.channels),
                        0);
    // Room for a few callbacks' worth and 100 ms: the clock runs at most a
    // callback and a margin ahead of the output's reads.
    ringFrames_ = uint64_t{periodFrames_} * 4 + layout.rate / 10;
    ring_.assign(ringFrames_ * outputFrameBytes_, 0);
    rendered_ = 0;
    mixed_ = 0;
    // Frames are counted afresh on the new output.
    for (Voice* voice : voices_) voice->startFrame = 0;
}

void Mixer::StartClock(uint64_t startFrames) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        lineNs_ = NowNs();
        lineFrames_ = mixed_ + startFrames;
        windowNs_ = lineNs_;
        leastLead_ = std::numeric_limits<int64_t>::max();
        clockRunning_ = true;
    }
    clock_ = std::thread([this] { RunClock(); });
}

void Mixer::StopClock() {
    if (!clock_.joinable()) return;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        clockRunning_ = false;
    }
    wake_.notify_one();
    clock_.join();
}

void Mixer::Drain(int limitMs) {
    for (int waited = 0; waited < limitMs; ++waited) {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            if (mixed_ <= rendered_) return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

uint64_t Mixer::Present() const {
    // Without a running clock (no output) nothing waits to be mixed.
    return clockRunning_ ? std::max(LineAt(NowNs()), mixed_) : mixed_;
}

uint64_t Mixer::LineAt(int64_t nanoseconds) const {
    return lineFrames_ + FramesOver(nanoseconds - lineNs_);
}

uint64_t Mixer::FramesOver(int64_t nanoseconds) const {
    const int64_t elapsed = std::max<int64_t>(0, nanoseconds);
    const uint64_t rate = output_.rate;
    const auto seconds = static_cast<uint64_t>(elapsed / kSecondNs);
    const auto rest = static_cast<uint64_t>(elapsed % kSecondNs);
    return seconds * rate + rest * rate / kSecondNs;
}

int64_t Mixer::TimeOfFrame(uint64_t frame) const {
    if (frame <= lineFrames_) return lineNs_;
    const uint64_t ahead = frame - lineFrames_;
    const uint64_t rate = output_.rate;
    // Rounded up, so that the clock has reached the frame on waking.
    return lineNs_ + static_cast<int64_t>(ahead / rate) * kSecondNs +
           static_cast<int64_t>(((ahead % rate) * kSecondNs + rate - 1) / rate);
}

bool Mixer::NextDueLocked(uint64_t& due) const {
    bool found = false;
    for (const Voice* voice : voices_) {
        if (!voice->playing || voice->notifications.empty()) continue;
        const WaveLayout& in = voice->layout;
        const uint64_t size = voice->samples.size();
        const uint64_t from = uint64_t{voice->position} * in.blockAlign;
        const uint64_t step = (uint64_t{in.rate} << 32) / output_.rate;
        for (const Notification& n : voice->notifications) {
            if (n.offset == DSBPN_OFFSETSTOP) continue;
            // It fires once the cursor has moved past the frame holding it.
            const uint64_t frames = (n.offset + size - from) % size / in.blockAlign + 1;
            if (!voice->looping && frames > voice->frames - voice->position) continue;
            const uint64_t needed = ((frames << 32) - voice->fraction + step - 1) / step;
            const uint64_t at = std::max(mixed_, voice->startFrame) + needed;
            if (!found || at < due) due = at;
            found = true;
        }
    }
    return found;
}

void Mixer::RunClock() {
    // Block events are due on time: the clock thread asks to be scheduled as
    // SDL asks for its audio thread (the highest priority a process may set
    // without real-time scheduling). Refused without the privilege, and then
    // it runs as it is.
    [[maybe_unused]] const int raised =
        setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), -20);
    std::unique_lock<std::mutex> lock(mutex_);
    // When the thread expects to run again; 0 while it waits for nothing.
    int64_t backAt = 0;
    while (clockRunning_) {
        const int64_t now = NowNs();
        if (backAt != 0) SkipStallLocked(backAt, now);
        uint64_t due = 0;
        if (!NextDueLocked(due)) {
            backAt = 0;
            wake_.wait_for(lock, kIdleWait);
            continue;
        }
        if (due > LineAt(now)) {
            backAt = TimeOfFrame(due);
            wake_.wait_until(
                lock, std::chrono::steady_clock::time_point{std::chrono::nanoseconds(backAt)});
            continue;
        }
        if (due > rendered_ + ringFrames_) {
            backAt = now + std::chrono::nanoseconds(kFullRingWait).count();
            wake_.wait_for(lock, kFullRingWait);
            continue;
        }
        // The signal lock comes first; the state is looked at again under both.
        lock.unlock();
        backAt = Tick(now);
        lock.lock();
    }
}

void Mixer::SkipStallLocked(int64_t expectedNs, int64_t now) {
    if (now - expectedNs <= kStallNs) return;
    // The process did not run from `expectedNs` to `now`: neither did the
    // client, which could not refill what played meanwhile. Going on from
    // where the clock stopped keeps the buffer's blocks in order; catching
    // up would hand a client that wakes to several block events at once a
    // cursor a whole lap on, and it could not tell which blocks are done.
    // The output's reads still pull the clock on when they come first, and
    // the callback may have moved the line since the stall: the stall's
    // length comes off wherever the line now stands.
    const uint64_t line = LineAt(now);
    const uint64_t stalled = FramesOver(now - expectedNs);
    lineFrames_ = std::max(line - std::min(line, stalled), mixed_);
    lineNs_ = now;
    leastLead_ = std::numeric_limits<int64_t>::max();
    windowNs_ = now;
}

int64_t Mixer::Tick(int64_t since) {
    SignalBatch signals;
    std::lock_guard<std::mutex> signalling(signalMutex_);
    const int64_t now = NowNs();
    {
        std::lock_guard<std::mutex> hold(mutex_);
        // The stall may come while the thread waits for the locks.
        SkipStallLocked(since, now);
        const uint64_t line = LineAt(now);
        // Up to each notification exactly, so that a client woken by it finds
        // the play cursor on its offset.
        uint64_t due = 0;
        while (clockRunning_ && NextDueLocked(due) && due <= line && due > mixed_) {
            if (!MixAheadLocked(due - mixed_, signals)) break;
        }
    }
    if (signals.Count() > 0) {
        lastSignal_.store(static_cast<uint64_t>(now), std::memory_order_release);
    }
    signals.Flush();
    return now;
}

bool Mixer::MixAheadLocked(uint64_t frames, SignalBatch& signals) {
    const uint64_t room = rendered_ + ringFrames_ - mixed_;
    const uint64_t count = std::min(frames, room);
    for (uint64_t left = count; left > 0;) {
        const uint64_t at = mixed_ % ringFrames_;
        const auto piece = static_cast<uint32_t>(std::min(left, ringFrames_ - at));
        RenderLocked(ring_.data() + at * outputFrameBytes_, piece, signals);
        left -= piece;
    }
    return count == frames;
}

void Mixer::FollowReadsLocked(int64_t now) {
    const uint64_t line = LineAt(now);
    const auto margin = static_cast<uint64_t>(int64_t{output_.rate} * kClockMarginNs / kSecondNs);
    if (line < rendered_) {
        // The output read past the clock: the clock moves on to it, and the
        // clock thread's next due time comes sooner.
        lineFrames_ = std::max(rendered_ + margin, mixed_);
        lineNs_ = now;
        leastLead_ = std::numeric_limits<int64_t>::max();
        windowNs_ = now;
        wake_.notify_one();
        return;
    }
    leastLead_ = std::min(leastLead_, static_cast<int64_t>(line - rendered_));
    if (now - windowNs_ < kClockWindowNs) return;
    // Ahead of every read in the window by more than the margin: half the
    // excess back, never behind what is already mixed.
    if (leastLead_ > static_cast<int64_t>(margin)) {
        const auto back = static_cast<uint64_t>(leastLead_) - margin;
        const uint64_t drawn = std::max(line - back / 2, mixed_);
        lineFrames_ = drawn;
        lineNs_ = now;
    }
    leastLead_ = std::numeric_limits<int64_t>::max();
    windowNs_ = now;
}

uint32_t Mixer::WriteLead(const Voice& voice) const {
    const uint64_t period =
        (uint64_t{periodFrames_} * voice.layout.rate + output_.rate - 1) / output_.rate;
    // One frame more for the interpolation partner of the last one read.
    const uint64_t lead = (period + 1) * voice.layout.blockAlign;
    const uint64_t most = voice.samples.size() - voice.layout.blockAlign;
    return static_cast<uint32_t>(std::min(lead, most));
}

void Mixer::Render(void* context, uint8_t* out, int bytes) {
    auto* self = static_cast<Mixer*>(context);
    // The moment the cursors move on: the ideal time of any notification
    // this callback passes.
    const int64_t now = NowNs();
    SignalBatch signals;
    std::lock_guard<std::mutex> signalling(self->signalMutex_);
    {
        std::lock_guard<std::mutex> hold(self->mutex_);
        const uint32_t frameBytes = self->outputFrameBytes_;
        const uint32_t frames = static_cast<uint32_t>(bytes) / frameBytes;
        // First what the clock thread mixed ahead, then the rest mixed here.
        const auto ahead =
            static_cast<uint32_t>(std::min<uint64_t>(frames, self->mixed_ - self->rendered_));
        for (uint32_t copied = 0; copied < ahead;) {
            const uint64_t at = (self->rendered_ + copied) % self->ringFrames_;
            const auto piece =
                static_cast<uint32_t>(std::min<uint64_t>(ahead - copied, self->ringFrames_ - at));
            std::memcpy(out + size_t{copied} * frameBytes, self->ring_.data() + at * frameBytes,
                        size_t{piece} * frameBytes);
            copied += piece;
        }
        if (frames > ahead) {
            self->RenderLocked(out + size_t{ahead} * frameBytes, frames - ahead, signals);
        }
        self->rendered_ += frames;
        self->FollowReadsLocked(now);
    }
    // Published before the writes, so that a client woken by one already
    // sees the time of its signal.
    if (signals.Count() > 0) {
        self->lastSignal_.store(static_cast<uint64_t>(now), std::memory_order_release);
    }
    signals.Flush();
}

void Mixer::RenderLocked(uint8_t* out, uint32_t frames, SignalBatch& signals) {
    const auto channels = static_cast<uint32_t>(output_.channels);
    while (frames > 0) {
        const uint32_t chunk = std::min(frames, periodFrames_);
        std::fill_n(accumulator_.begin(), chunk * channels, 0);
        for (Voice* voice : voices_) {
            if (!voice->playing) continue;
            // A buffer started ahead of what is mixed joins at its start.
            const auto wait = static_cast<uint32_t>(
                std::min<uint64_t>(chunk, voice->startFrame - std::min(voice->startFrame, mixed_)));
            if (wait < chunk) MixVoice(*voice, wait, chunk - wait, signals);
        }
        WriteOutput(out, chunk);
        out += static_cast<size_t>(chunk) * outputFrameBytes_;
        frames -= chunk;
        mixed_ += chunk;
    }
}

void Mixer::MixVoice(Voice& voice, uint32_t first, uint32_t frames, SignalBatch& signals) {
    const WaveLayout& in = voice.layout;
    const ChannelRoute route = RouteChannels(in, output_);
    const uint64_t step = (uint64_t{in.rate} << 32) / output_.rate;
    const int64_t gain = (voice.gain * master_) >> 30;
    const auto outChannels = static_cast<size_t>(output_.channels);
    const auto inChannels = static_cast<size_t>(in.channels);
    const auto sampleBytes = static_cast<size_t>(in.bits / 8);
    const uint32_t start = voice.position;
    uint64_t consumed = 0;
    bool ended = false;

    for (uint32_t f = 0; f < frames; ++f) {
        if (gain != 0) {
            const uint8_t* here = voice.samples.data() + size_t{voice.position} * in.blockAlign;
            uint32_t nextPosition = voice.position + 1;
            if (nextPosition == voice.frames) nextPosition = voice.looping ? 0 : voice.position;
            const uint8_t* next = voice.samples.data() + size_t{nextPosition} * in.blockAlign;
            const int64_t weight = voice.fraction >> 16;
            int64_t* mix = accumulator_.data() + size_t{first + f} * outChannels;
            for (size_t c = 0; c < inChannels; ++c) {
                int64_t sample = ReadSample(here + c * sampleBytes, in.bits);
                if (weight != 0) {
                    const int64_t after = ReadSample(next + c * sampleBytes, in.bits);
                    sample += ((after - sample) * weight) >> 16;
                }
                sample = (sample * gain) >> 30;
                for (int8_t target : route.to[c]) {
                    if (target >= 0) mix[target] += sample;
                }
            }
        }
        const uint64_t moved = uint64_t{voice.fraction} + step;
        voice.fraction = static_cast<uint32_t>(moved);
        const uint64_t advance = moved >> 32;
        consumed += advance;
        const uint64_t position = voice.position + advance;
        if (position >= voice.frames) {
            if (!voice.looping) {
                consumed = voice.frames - start;
                ended = true;
                break;
            }
            voice.position = static_cast<uint32_t>(position % voice.frames);
        } else {
            voice.position = static_cast<uint32_t>(position);
        }
    }

    // A notification fires each time the play cursor passes its byte.
    const uint64_t size = voice.samples.size();
    const uint64_t from = uint64_t{start} * in.blockAlign;
    const uint64_t length = consumed * in.blockAlign;
    for (const Notification& n : voice.notifications) {
        if (n.offset == DSBPN_OFFSETSTOP) continue;
        const uint64_t distance = (n.offset + size - from) % size;
        if (distance >= length) continue;
        for (uint64_t k = 1 + (length - 1 - distance) / size; k > 0; --k) signals.Add(n.fd);
    }
    if (ended) {
        voice.playing = false;
        voice.position = 0;
        voice.fraction = 0;
        for (const Notification& n : voice.notifications) {
            if (n.offset == DSBPN_OFFSETSTOP) signals.Add(n.fd);
        }
    }
}

void Mixer::WriteOutput(uint8_t* out, uint32_t frames) const {
    const size_t samples = size_t{frames} * static_cast<size_t>(output_.channels);
    for (size_t i = 0; i < samples; ++i) {
        const int32_t v = Saturate(accumulator_[i]);
        switch (output_.bits) {
            case 8: out[i] = static_cast<uint8_t>((static_cast<uint32_t>(v) >> 24) ^ 0x80u); break;
            case 16: {
                const auto s = static_cast<int16_t>(static_cast<uint32_t>(v) >> 16);
                std::memcpy(out + i * 2, &s, sizeof s);
                break;
            }
            default: {
                // 24-bit output travels in 32-bit containers, since SDL has no
                // 24-bit format; the low byte stays zero.
                const int32_t s = output_.bits == 24
                                      ? static_cast<int32_t>(static_cast<uint32_t>(v) & 0xFFFFFF00u)
                                      : v;
                std::memcpy(out + i * 4, &s, sizeof s);
                break;
            }
        }
    }
}

}  // namespace mivo_dsound
