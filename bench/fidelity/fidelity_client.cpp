// Plays one test signal through CdsObject: the primary buffer set to one
// format, the streaming buffer in another, so that whatever converts
// between them (mivo's device, or Wine's DirectSound when built for
// Windows against mivo.dll) is what the capture shows.
//
//   mivo-fidelity-client PRIMARY BUFFER SIGNAL SECONDS [VOLUME]
//
// PRIMARY and BUFFER are RATE/BITS (16 or 24, stereo), SIGNAL tone:HZ or
// noise:SEED, VOLUME the buffer's volume in hundredths of a dB (default 0).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "mivo.h"
#include "platform_shim.h"
#include "signal_source.h"

namespace {

using mivo_fidelity::PcmFormat;
using mivo_fidelity::SignalSource;

constexpr int kChannels = 2;
constexpr uint32_t kBlocks = 4;
// Long blocks: the bench measures what the signal turns into, and a busy
// machine must not add gaps of its own.
constexpr int kBlocksPerSecond = 20;
// Silent blocks after the signal, so that its end has left the device
// before it stops.
constexpr uint32_t kTailBlocks = kBlocks + 2;
constexpr int kEventWaitMs = 2000;

bool FillBlock(CdsObject& sound, uint32_t block, uint32_t blockBytes, SignalSource& source,
               int sampleBytes) {
    void* data = nullptr;
    uint32_t bytes = 0;
    if (sound.LockStreamingBuffer(block, &data, &bytes) != 1 || data == nullptr ||
        bytes != blockBytes) {
        return false;
    }
    source.Write(static_cast<uint8_t*>(data), bytes / (kChannels * sampleBytes), sampleBytes);
    return sound.UnlockStreamingBuffer(block) == 1;
}

// Refills each block once the play cursor has left it, until the signal
// and the silent tail have played.
bool Stream(CdsObject& sound, compare::ClientEvent& blockEvent, uint32_t blockBytes,
            SignalSource& source, int sampleBytes) {
    if (sound.PlayStreamingBuffer() != 1) return false;
    uint32_t nextRefill = 0;  // buffer slot of the oldest unplayed block
    uint32_t tail = 0;
    while (tail < kTailBlocks) {
        if (!blockEvent.Wait(kEventWaitMs)) {
            std::fprintf(stderr, "no block event within 2 s\n");
            return false;
        }
        uint32_t play = 0;
        if (sound.GetStreamingBufferPositions(&play, nullptr) != 1) return false;
        // Two block ends may come as one wake-up: the cursor tells which
        // slots have played.
        const uint32_t playing = play / blockBytes % kBlocks;
        for (; nextRefill != playing && tail < kTailBlocks;
             nextRefill = (nextRefill + 1) % kBlocks) {
            if (source.Done()) ++tail;
            if (!FillBlock(sound, nextRefill + 1, blockBytes, source, sampleBytes)) return false;
        }
    }
    return sound.StopStreamingBuffer() == 1;
}

int Run(const PcmFormat& primary, const PcmFormat& buffer, SignalSource& source, int volume) {
    const int sampleBytes = buffer.bits / 8;
    const uint32_t blockBytes = buffer.rate / kBlocksPerSecond * kChannels * sampleBytes;
    compare::ClientEvent blockEvent;
    compare::ClientEvent stopEvent;
    if (!blockEvent.Valid() || !stopEvent.Valid()) {
        std::fprintf(stderr, "cannot create the events\n");
        return 1;
    }
    CdsObject sound(compare::ClientWindow(), nullptr);
    if (sound.InitializationSuccessful() != 1) {
        std::fprintf(stderr, "the sound device did not open (status %d)\n", sound.InitStatus);
        return 1;
    }
    const auto bits = [](const PcmFormat& f) { return static_cast<uint16_t>(f.bits); };
    if (sound.SetApplicationMode(CdsModePriority) != 1 ||
        sound.CreatePrimaryBuffer(kChannels, bits(primary), bits(primary), primary.rate, 0) != 1) {
        std::fprintf(stderr, "cannot set the primary format %d/%d\n", primary.rate, primary.bits);
        return 1;
    }
    if (sound.CreateStreamingBuffer(blockBytes * kBlocks, blockBytes, blockEvent.Handle(),
                                    stopEvent.Handle(), kChannels, bits(buffer), bits(buffer),
                                    buffer.rate, 0) != 1 ||
        sound.SetStreamingBufferVolume(volume) != 1) {
        std::fprintf(stderr, "cannot set up the streaming buffer\n");
        return 1;
    }
    for (uint32_t block = 1; block <= kBlocks; ++block) {
        if (!FillBlock(sound, block, blockBytes, source, sampleBytes)) {
            std::fprintf(stderr, "cannot fill block %u\n", block);
            return 1;
        }
    }
    if (!Stream(sound, blockEvent, blockBytes, source, sampleBytes)) {
        std::fprintf(stderr, "streaming failed\n");
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    PcmFormat primary;
    PcmFormat buffer;
    mivo_fidelity::SignalChoice signal;
    const double seconds = argc > 4 ? std::atof(argv[4]) : 0.0;
    const int volume = argc > 5 ? std::atoi(argv[5]) : 0;
    if (argc < 5 || argc > 6 || !mivo_fidelity::ParseFormat(argv[1], primary) ||
        !mivo_fidelity::ParseFormat(argv[2], buffer) ||
        !mivo_fidelity::ParseSignal(argv[3], signal) || seconds <= 0.0 || seconds > 600.0 ||
        volume > 0 || volume < -10000) {
        std::fprintf(stderr,
                     "usage: %s PRIMARY BUFFER SIGNAL SECONDS [VOLUME]\n"
                     "  PRIMARY, BUFFER  RATE/BITS, BITS 16 or 24 (48000/16)\n"
                     "  SIGNAL           tone:HZ or noise:SEED\n"
                     "  VOLUME           0 to -10000, hundredths of a dB\n",
                     argv[0]);
        return 2;
    }
    SignalSource source(buffer, signal, seconds);
    return Run(primary, buffer, source, volume);
}
