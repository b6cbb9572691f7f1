#include "stream_player.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "event_fd.h"
#include "mivo_dsound.h"

namespace {

using mivo_support::EventFd;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr uint32_t kBlocks = 4;
// The longest wait for a block event before the stream's status is asked;
// also how often a lost stream is restored.
constexpr milliseconds kCheckEvery{200};
// Silence this long from a stream that is not lost means the device hangs.
constexpr milliseconds kHangAfter{2000};
constexpr milliseconds kGiveUpAfter{5000};

class Streamer {
public:
    Streamer(CdsObject& sound, PcmSource& source, uint32_t blockFrames, bool progress)
        : sound_(sound), source_(source), blockFrames_(blockFrames), progress_(progress) {}

    bool Run(const EventFd& blockEvent, std::string& error);
    uint64_t FramesRead() const { return framesRead_; }
    void EndProgress();

private:
    bool RefillNext();
    bool FillAndPlay();
    bool Lost();
    bool Recover(const EventFd& blockEvent, std::string& error);
    void Say(const char* message);
    void ShowProgress(uint64_t frames);

    CdsObject& sound_;
    PcmSource& source_;
    uint32_t blockFrames_;
    bool progress_;
    bool progressShown_ = false;  // the progress line waits for its newline
    // Counted in blocks of the stream since the start: block n went into
    // buffer block (n - firstInBuffer_) % 4 + 1.
    uint64_t written_ = 0;
    uint64_t played_ = 0;     // played, or skipped with a lost buffer
    uint64_t withSound_ = 0;  // blocks up to the last one holding any of the source
    uint64_t firstInBuffer_ = 0;
    uint64_t framesRead_ = 0;
};

// Copies the next samples into the next block, silence after the end.
// False when the device refused the block.
bool Streamer::RefillNext() {
    const auto block = static_cast<uint32_t>((written_ - firstInBuffer_) % kBlocks) + 1;
    void* data = nullptr;
    uint32_t bytes = 0;
    if (sound_.LockStreamingBuffer(block, &data, &bytes) == 0) return false;
    auto* out = static_cast<uint8_t*>(data);
    const size_t got = source_.Read(out, bytes);
    std::memset(out + got, 0, bytes - got);
    if (sound_.UnlockStreamingBuffer(block) == 0) return false;
    framesRead_ += got / source_.Format().FrameBytes();
    ++written_;
    if (got > 0) withSound_ = written_;
    return true;
}

// Fills the whole buffer from its first block on and starts it.
bool Streamer::FillAndPlay() {
    firstInBuffer_ = written_;
    played_ = written_;
    for (uint32_t i = 0; i < kBlocks; ++i) {
        if (!RefillNext()) return false;
    }
    return sound_.PlayStreamingBuffer() == 1;
}

// CdsObject tells only that a call failed; the buffer's status tells why.
bool Streamer::Lost() {
    DWORD status = 0;
    return sound_.StreamingBuffer != nullptr &&
           sound_.StreamingBuffer->GetStatus(&status) == DS_OK &&
           (status & DSBSTATUS_BUFFERLOST) != 0;
}

bool Streamer::Recover(const EventFd& blockEvent, std::string& error) {
    Say("the sound device lost the stream; restoring it");
    const Clock::time_point giveUp = Clock::now() + kGiveUpAfter;
    while (Clock::now() < giveUp) {
        std::this_thread::sleep_for(kCheckEvery);
        if (sound_.RestoreStreamingBuffer() == 0) continue;
        // A block whose unlock failed with the stream gone is still locked;
        // unlocking the others merely fails.
        for (uint32_t block = 1; block <= kBlocks; ++block) sound_.UnlockStreamingBuffer(block);
        blockEvent.Take();  // signals from before the loss
        if (sound_.ResetStreamingBuffer() == 1 && FillAndPlay()) {
            Say("the sound device is back; playing on");
            return true;
        }
    }
    error = "the sound device stayed lost for " +
            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kGiveUpAfter).count()) +
            " s";
    return false;
}

bool Streamer::Run(const EventFd& blockEvent, std::string& error) {
    if (!FillAndPlay() && !(Lost() && Recover(blockEvent, error))) {
        if (error.empty()) error = "the sound device would not play";
        return false;
    }
    Clock::time_point lastSignal = Clock::now();
    while (played_ < withSound_) {
        pollfd ready{blockEvent.Fd(), POLLIN, 0};
        bool failed = false;
        if (poll(&ready, 1, static_cast<int>(kCheckEvery.count())) > 0) {
            lastSignal = Clock::now();
            for (uint64_t n = blockEvent.Take(); n > 0 && played_ < withSound_ && !failed; --n) {
                ++played_;
                failed = !RefillNext();
            }
            if (progress_ && played_ % 5 == 0) ShowProgress(played_ * blockFrames_);
        }
        const Clock::duration quiet = Clock::now() - lastSignal;
        if (!failed && quiet < kCheckEvery) continue;
        if (Lost()) {
            if (!Recover(blockEvent, error)) return false;
            lastSignal = Clock::now();
        } else if (failed) {
            error = "the sound device refused a block of the stream";
            return false;
        } else if (quiet >= kHangAfter) {
            error = "the sound device stopped responding";
            return false;
        }
    }
    if (progress_) ShowProgress(source_.TotalFrames());
    return true;
}

void Streamer::Say(const char* message) {
    EndProgress();
    std::fprintf(stderr, "mivo-play: %s\n", message);
}

void Streamer::EndProgress() {
    if (progressShown_) std::fputc('\n', stderr);
    progressShown_ = false;
}

void Streamer::ShowProgress(uint64_t frames) {
    progressShown_ = true;
    const uint64_t total = source_.TotalFrames();
    const auto rate = static_cast<double>(source_.Format().rate);
    std::fprintf(stderr, "\rmivo-play: %6.2f / %.2f s",
                 static_cast<double>(frames < total ? frames : total) / rate,
                 static_cast<double>(total) / rate);
    std::fflush(stderr);
}

}  // namespace

bool PlayThrough(CdsObject& sound, PcmSource& source, bool progress, uint64_t& frames,
                 std::string& error) {
    const PcmFormat& f = source.Format();
    const uint32_t blockFrames =
        static_cast<uint32_t>(f.rate) / 50 > 0 ? static_cast<uint32_t>(f.rate) / 50 : 1;
    const uint32_t blockBytes = blockFrames * f.FrameBytes();
    // Past the largest buffer there is, and past what uint32_t holds.
    if (uint64_t{blockBytes} * kBlocks > DSBSIZE_MAX) {
        error = "the sound device cannot play this format";
        return false;
    }
    EventFd blockEvent;
    EventFd stopEvent;
    if (!blockEvent.Valid() || !stopEvent.Valid()) {
        error = "cannot create events";
        return false;
    }
    sound.SetApplicationMode(CdsModePriority);
    if (sound.CreatePrimaryBuffer(f.channels, f.bits, f.validBits, f.rate, f.layoutKind) == 0) {
        error = "the sound device cannot play this format";
        return false;
    }
    if (sound.CreateStreamingBuffer(blockBytes * kBlocks, blockBytes, blockEvent.Handle(),
                                    stopEvent.Handle(), f.channels, f.bits, f.validBits, f.rate,
                                    f.layoutKind) == 0) {
        error = "the sound device refused the streaming buffer";
        return false;
    }
    Streamer streamer(sound, source, blockFrames, progress);
    const bool played = streamer.Run(blockEvent, error);
    streamer.EndProgress();
    stopEvent.Take();  // a stop the loss of the stream may have signalled
    sound.StopStreamingBuffer();
    stopEvent.Take(500);
    frames = streamer.FramesRead();
    return played;
}
