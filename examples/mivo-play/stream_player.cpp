#include "stream_player.h"

#include "event_fd.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kBlocks = 4;

using mivo_support::EventFd;

// The 3-channel layouts mivo offers, picked from the file's speakers.
int32_t LayoutKind(const WavFormat& format) {
    constexpr uint32_t kFrontPair = 0x3;
    constexpr uint32_t kFrontCentre = 0x4;
    constexpr uint32_t kBackCentre = 0x100;
    if (format.channelMask == (kFrontPair | kBackCentre)) return 1;
    if (format.channelMask == (kFrontPair | kFrontCentre)) return 2;
    return 0;
}

// Copies the next samples into `block`, silence after the end. True when
// the block got any of the source's samples.
bool Refill(CdsObject& sound, uint32_t block, PcmSource& source, bool& failed) {
    void* data = nullptr;
    uint32_t bytes = 0;
    if (sound.LockStreamingBuffer(block, &data, &bytes) == 0) {
        failed = true;
        return false;
    }
    auto* out = static_cast<uint8_t*>(data);
    const size_t got = source.Read(out, bytes);
    std::memset(out + got, source.Format().bits == 8 ? 0x80 : 0, bytes - got);
    if (sound.UnlockStreamingBuffer(block) == 0) failed = true;
    return got > 0;
}

void ShowProgress(uint64_t frames, uint64_t total, int32_t rate) {
    std::fprintf(stderr, "\rmivo-play: %6.2f / %.2f s", static_cast<double>(frames) / rate,
                 static_cast<double>(total) / rate);
    std::fflush(stderr);
}

}  // namespace

bool PlayThrough(CdsObject& sound, PcmSource& source, bool progress, uint64_t& frames,
                 std::string& error) {
    const WavFormat& f = source.Format();
    const uint32_t blockFrames =
        static_cast<uint32_t>(f.rate) / 50 > 0 ? static_cast<uint32_t>(f.rate) / 50 : 1;
    const uint32_t blockBytes = blockFrames * f.FrameBytes();
    EventFd blockEvent;
    EventFd stopEvent;
    if (!blockEvent.Valid() || !stopEvent.Valid()) {
        error = "cannot create events";
        return false;
    }
    sound.SetApplicationMode(CdsModePriority);
    if (sound.CreatePrimaryBuffer(f.channels, f.bits, f.validBits, f.rate, LayoutKind(f)) == 0) {
        error = "the sound device cannot play this format";
        return false;
    }
    if (sound.CreateStreamingBuffer(blockBytes * kBlocks, blockBytes, blockEvent.Handle(),
                                    stopEvent.Handle(), f.channels, f.bits, f.validBits, f.rate,
                                    LayoutKind(f)) == 0) {
        error = "the sound device refused the streaming buffer";
        return false;
    }

    // Blocks are counted from the start of playback: block n of the stream
    // lives in buffer block n % 4 + 1.
    bool failed = false;
    uint64_t written = 0;
    uint64_t withSound = 0;
    for (; written < kBlocks; ++written) {
        if (Refill(sound, static_cast<uint32_t>(written % kBlocks) + 1, source, failed)) {
            withSound = written + 1;
        }
    }
    if (failed || sound.PlayStreamingBuffer() == 0) {
        error = "the sound device would not play";
        return false;
    }
    uint64_t played = 0;
    const uint64_t total = source.TotalFrames();
    while (played < withSound && !failed) {
        pollfd ready{blockEvent.Fd(), POLLIN, 0};
        if (poll(&ready, 1, 2000) <= 0) {
            error = "the sound device stopped responding";
            failed = true;
            break;
        }
        for (uint64_t n = blockEvent.Take(); n > 0 && played < withSound; --n) {
            ++played;
            if (Refill(sound, static_cast<uint32_t>(written % kBlocks) + 1, source, failed)) {
                withSound = written + 1;
            }
            ++written;
        }
        if (progress && played % 5 == 0) {
            ShowProgress(played * blockFrames < total ? played * blockFrames : total, total,
                         f.rate);
        }
    }
    sound.StopStreamingBuffer();
    pollfd stopped{stopEvent.Fd(), POLLIN, 0};
    poll(&stopped, 1, 500);
    stopEvent.Take();
    if (progress) {
        ShowProgress(total, total, f.rate);
        std::fputc('\n', stderr);
    }
    if (failed && error.empty()) error = "the sound device lost the stream";
    frames = total;
    return !failed;
}
