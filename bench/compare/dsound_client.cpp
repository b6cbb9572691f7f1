// The DirectSound contender: a CdsObject client that streams the workload
// through one four-block looping buffer, refilling each block when the block
// event says it has played. Built twice from this source: for Linux over
// mivo's own software device, and for Windows against mivo.dll, which Wine's
// DirectSound then serves.
//
//   mivo-compare-client BLOCK_MS SECONDS LOG_FILE
//
// Exit status 0 when the run streamed to its end; the log holds the timings.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "mivo.h"
#include "output_latency_probe.h"
#include "platform_shim.h"
#include "run_log.h"
#include "workload.h"

namespace {

using namespace compare;

#if defined(_WIN32)
constexpr const char* kContender = "wine";
#else
constexpr const char* kContender = "mivo";
#endif

// A bound on one wait, far beyond any block length: only a stalled device
// reaches it.
constexpr int kEventWaitMs = 2000;

bool FillBlock(CdsObject& sound, uint32_t block, uint32_t blockBytes, Tone& tone, bool silent) {
    void* data = nullptr;
    uint32_t bytes = 0;
    if (sound.LockStreamingBuffer(block, &data, &bytes) != 1 || data == nullptr ||
        bytes != blockBytes) {
        return false;
    }
    if (silent) {
        Tone::Silence(data, bytes / kFrameBytes);
    } else {
        tone.Write(static_cast<int16_t*>(data), bytes / kFrameBytes);
    }
    return sound.UnlockStreamingBuffer(block) == 1;
}

// Streams until `toneBlocks` blocks of tone and the silent tail have played.
void Stream(CdsObject& sound, ClientEvent& blockEvent, uint32_t blockBytes, uint32_t toneBlocks,
            Tone& tone, RunLog& log) {
    OutputLatencyProbe outputLatency(sound, log);
    const uint32_t bufferBytes = blockBytes * kBlocksPerBuffer;
    const uint32_t lastBlock = toneBlocks + kTailBlocks;
    uint32_t written = kBlocksPerBuffer;  // blocks handed over, tone or silence
    uint32_t done = 0;                    // blocks seen played
    uint32_t nextRefill = 0;              // buffer slot of the oldest unplayed block

    // Twice the run's length and then some: a device that plays far more
    // slowly than real time (or skips whole buffers) ends the run here.
    const int64_t blockNs = int64_t{blockBytes / kFrameBytes} * 1000000000 / kRate;
    const int64_t boundNs = 2 * int64_t{lastBlock} * blockNs + int64_t{5000000000};

    log.Cpu().Start();
    const int64_t started = NowNs();
    log.PlayStarted(started);
    if (sound.PlayStreamingBuffer() != 1) {
        log.Failure("PlayStreamingBuffer");
        return;
    }
    while (done < lastBlock) {
        if (!blockEvent.Wait(kEventWaitMs)) {
            log.Failure("no block event within 2 s after block " + std::to_string(done));
            break;
        }
        const int64_t woke = NowNs();
        if (woke - started > boundNs) {
            log.Failure("far slower than real time: " + std::to_string(done) + " blocks played");
            break;
        }
        uint32_t play = 0;
        if (sound.GetStreamingBufferPositions(&play, nullptr) != 1 || play >= bufferBytes) {
            log.Failure("GetStreamingBufferPositions");
            break;
        }
        // All blocks share the one event and two block ends can arrive as one
        // wake-up, so the play cursor tells which blocks are done: every slot
        // from the oldest unplayed one up to the one now playing.
        const uint32_t playing = play / blockBytes;
        const uint32_t finished = (playing + kBlocksPerBuffer - nextRefill) % kBlocksPerBuffer;
        const int64_t intoBlock = play - playing * blockBytes;
        if (finished == 0) log.EmptyWake(woke);
        for (uint32_t k = 0; k < finished && done < lastBlock; ++k) {
            ++done;
            // How far the cursor is past this block's end when the client runs.
            log.BlockDone(done, woke, intoBlock + int64_t{finished - 1 - k} * blockBytes);
            const bool silent = written >= toneBlocks;
            if (!FillBlock(sound, nextRefill + 1, blockBytes, tone, silent)) {
                log.Failure("refill of block " + std::to_string(nextRefill + 1));
            }
            ++written;
            nextRefill = (nextRefill + 1) % kBlocksPerBuffer;
        }
        // After the refills, so that a slow reading delays no block.
        outputLatency.Sample(woke);
    }
    log.PlayEnded(NowNs());
    log.Cpu().Stop();
}

int Run(uint32_t blockFrames, uint32_t toneBlocks, const std::string& logPath) {
    const uint32_t blockBytes = blockFrames * kFrameBytes;
    RunLog log(kContender, blockFrames, toneBlocks);

    ClientEvent blockEvent;
    ClientEvent stopEvent;
    if (!blockEvent.Valid() || !stopEvent.Valid()) {
        std::fprintf(stderr, "cannot create the events\n");
        return 1;
    }
    int status = 0;
    {
        CdsObject sound(ClientWindow(), nullptr);
        if (sound.InitializationSuccessful() != 1) {
            std::fprintf(stderr, "the sound device did not open (status %d)\n", sound.InitStatus);
            return 1;
        }
        if (sound.SetApplicationMode(CdsModePriority) != 1 ||
            sound.CreatePrimaryBuffer(kChannels, 16, 16, kRate, 0) != 1 ||
            sound.CreateStreamingBuffer(blockBytes * kBlocksPerBuffer, blockBytes,
                                        blockEvent.Handle(), stopEvent.Handle(), kChannels, 16, 16,
                                        kRate, 0) != 1) {
            std::fprintf(stderr, "cannot set up the streaming buffer\n");
            return 1;
        }
        Tone tone;
        for (uint32_t block = 1; block <= kBlocksPerBuffer; ++block) {
            if (!FillBlock(sound, block, blockBytes, tone, false)) {
                std::fprintf(stderr, "cannot fill block %u\n", block);
                return 1;
            }
        }
        Stream(sound, blockEvent, blockBytes, toneBlocks, tone, log);
        if (sound.StopStreamingBuffer() != 1) {
            log.Failure("StopStreamingBuffer");
            status = 1;
        }
    }
    if (!log.Write(logPath)) {
        std::fprintf(stderr, "cannot write %s\n", logPath.c_str());
        return 1;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    compare::RunArguments args;
    if (!compare::ParseRunArguments(argc, argv, args)) return 2;
    return Run(args.blockFrames, args.toneBlocks, args.log);
}
