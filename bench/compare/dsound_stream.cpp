#include "dsound_stream.h"

#include <cstdio>
#include <utility>

namespace compare {

DsoundStream::DsoundStream(uint32_t blockBytes, uint32_t toneBlocks, bool tone, std::string name)
    : sound_(ClientWindow(), nullptr),
      name_(std::move(name)),
      blockBytes_(blockBytes),
      toneBlocks_(toneBlocks),
      lastBlock_(toneBlocks + kTailBlocks),
      hasTone_(tone) {}

bool DsoundStream::Open() {
    if (!blockEvent_.Valid() || !stopEvent_.Valid()) {
        std::fprintf(stderr, "%scannot create the events\n", name_.c_str());
        return false;
    }
    if (sound_.InitializationSuccessful() != 1) {
        std::fprintf(stderr, "%sthe sound device did not open (status %d)\n", name_.c_str(),
                     sound_.InitStatus);
        return false;
    }
    if (sound_.SetApplicationMode(CdsModePriority) != 1 ||
        sound_.CreatePrimaryBuffer(kChannels, 16, 16, kRate, 0) != 1 ||
        sound_.CreateStreamingBuffer(blockBytes_ * kBlocksPerBuffer, blockBytes_,
                                     blockEvent_.Handle(), stopEvent_.Handle(), kChannels, 16, 16,
                                     kRate, 0) != 1) {
        std::fprintf(stderr, "%scannot set up the streaming buffer\n", name_.c_str());
        return false;
    }
    for (uint32_t block = 1; block <= kBlocksPerBuffer; ++block) {
        if (!Fill(block, !hasTone_)) {
            std::fprintf(stderr, "%scannot fill block %u\n", name_.c_str(), block);
            return false;
        }
    }
    return true;
}

bool DsoundStream::Fill(uint32_t block, bool silent) {
    void* data = nullptr;
    uint32_t bytes = 0;
    if (sound_.LockStreamingBuffer(block, &data, &bytes) != 1 || data == nullptr ||
        bytes != blockBytes_) {
        return false;
    }
    if (silent) {
        Tone::Silence(data, bytes / kFrameBytes);
    } else {
        tone_.Write(static_cast<int16_t*>(data), bytes / kFrameBytes);
    }
    return sound_.UnlockStreamingBuffer(block) == 1;
}

bool DsoundStream::Play(RunLog& log) {
    if (sound_.PlayStreamingBuffer() == 1) return true;
    log.Failure(name_ + "PlayStreamingBuffer");
    return false;
}

bool DsoundStream::Serve(int64_t woke, RunLog& log, bool timings) {
    const uint32_t bufferBytes = blockBytes_ * kBlocksPerBuffer;
    uint32_t play = 0;
    if (sound_.GetStreamingBufferPositions(&play, nullptr) != 1 || play >= bufferBytes) {
        log.Failure(name_ + "GetStreamingBufferPositions");
        return false;
    }
    // All blocks share the one event and two block ends can arrive as one
    // wake-up, so the play cursor tells which blocks are done: every slot
    // from the oldest unplayed one up to the one now playing.
    const uint32_t playing = play / blockBytes_;
    const uint32_t finished = (playing + kBlocksPerBuffer - nextRefill_) % kBlocksPerBuffer;
    const int64_t intoBlock = play - playing * blockBytes_;
    if (finished == 0 && timings) log.EmptyWake(woke);
    for (uint32_t k = 0; k < finished && done_ < lastBlock_; ++k) {
        ++done_;
        // How far the cursor is past this block's end when the client runs.
        if (timings) {
            log.BlockDone(done_, woke, intoBlock + int64_t{finished - 1 - k} * blockBytes_);
        }
        const bool silent = !hasTone_ || written_ >= toneBlocks_;
        if (!Fill(nextRefill_ + 1, silent)) {
            log.Failure(name_ + "refill of block " + std::to_string(nextRefill_ + 1));
        }
        ++written_;
        nextRefill_ = (nextRefill_ + 1) % kBlocksPerBuffer;
    }
    return true;
}

bool DsoundStream::Stop(RunLog& log) {
    if (sound_.StopStreamingBuffer() == 1) return true;
    log.Failure(name_ + "StopStreamingBuffer");
    return false;
}

}  // namespace compare
