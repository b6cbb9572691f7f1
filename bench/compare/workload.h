// The streaming workload that every contender plays: 48 kHz stereo 16-bit
// PCM, four blocks per buffer, a tone whose phase runs on across blocks so
// that any gap, repeat or skip in the output shows as a break in the sine.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace compare {

constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr uint32_t kFrameBytes = kChannels * 2;
constexpr uint32_t kBlocksPerBuffer = 4;

// The tone: kToneCycles cycles in kToneFrames frames (~1080 Hz, a cycle of
// ~44.45 frames). A block that plays again from the buffer's previous lap,
// or that is skipped, shifts the tone by a whole number of blocks; this
// frequency puts every such shift (1, 2, 4, 8 and 16 blocks of 5 ms, and
// 3 and 6 of them) at least a fifth of a cycle away from a whole cycle, and
// 3 blocks of 2.5 ms a tenth, which still departs from the sine by
// thousands, so the break shows plainly.
constexpr uint32_t kToneFrames = 4889;
constexpr uint32_t kToneCycles = 110;
constexpr double kToneAmplitude = 16000.0;
constexpr double kPi = 3.14159265358979323846;

// Blocks after the end of the tone, filled with silence, that are still
// waited for so that the tone has left the device before it stops.
constexpr uint32_t kTailBlocks = 3;

// Blocks at the start that are left out of the timing figures: the first
// buffer plays from data written before playback, while the output fills.
constexpr uint32_t kWarmupBlocks = kBlocksPerBuffer;

// Faults and event timings from this far into the tone on are judged apart
// as well: by then every output has settled, so what happens later is what a
// listener gets for as long as the stream plays.
constexpr double kSettledSeconds = 5.0;

// A block length in ms, which may be fractional (2.5 ms), as whole frames;
// 0 for a length that is not a whole number of frames or is out of range.
inline uint32_t BlockFrames(double blockMs) {
    const double frames = blockMs * kRate / 1000.0;
    if (frames < 1.0 || frames > kRate || std::fabs(frames - std::round(frames)) > 1e-6) {
        return 0;
    }
    return static_cast<uint32_t>(std::lround(frames));
}

inline double BlockMs(uint32_t blockFrames) { return blockFrames * 1000.0 / kRate; }

// The most streams one run plays at once.
constexpr uint32_t kMaxStreams = 256;

// Every contender's command line: BLOCK_MS SECONDS LOG_FILE [STREAMS]. With
// several streams, stream 0 alone carries the tone and the others play
// silence, so that the sink's monitor holds stream 0's tone untouched.
struct RunArguments {
    uint32_t blockFrames = 0;
    uint32_t toneBlocks = 0;
    const char* log = nullptr;
    uint32_t streams = 1;
};

inline bool ParseRunArguments(int argc, char** argv, RunArguments& args) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s BLOCK_MS SECONDS LOG_FILE [STREAMS]\n", argv[0]);
        return false;
    }
    args.blockFrames = BlockFrames(std::atof(argv[1]));
    const double seconds = std::atof(argv[2]);
    args.log = argv[3];
    const long streams = argc == 5 ? std::atol(argv[4]) : 1;
    if (args.blockFrames == 0 || seconds <= 0.0 || seconds > 3600.0 || streams < 1 ||
        streams > static_cast<long>(kMaxStreams)) {
        std::fprintf(stderr,
                     "BLOCK_MS must be whole frames at %d Hz (2.5 is), up to 1000, SECONDS "
                     "0 to 3600 and STREAMS 1 to %u\n",
                     kRate, kMaxStreams);
        return false;
    }
    args.streams = static_cast<uint32_t>(streams);
    args.toneBlocks = static_cast<uint32_t>(std::lround(seconds * kRate / args.blockFrames));
    return args.toneBlocks > 0;
}

// One period of the tone, computed once so that writing it costs a copy and
// not a sine per sample: the CPU figures are those of the sound path.
class Tone {
public:
    Tone() {
        for (uint32_t i = 0; i < kToneFrames; ++i) {
            const double phase = 2.0 * kPi * kToneCycles * i / kToneFrames;
            table_[i] = static_cast<int16_t>(std::lround(kToneAmplitude * std::sin(phase)));
        }
    }

    // Writes the next `frames` frames of the tone (every channel alike).
    void Write(int16_t* out, uint32_t frames) {
        for (uint32_t f = 0; f < frames; ++f) {
            const int16_t v = table_[at_];
            for (int c = 0; c < kChannels; ++c) *out++ = v;
            if (++at_ == kToneFrames) at_ = 0;
        }
    }

    static void Silence(void* out, uint32_t frames) {
        std::memset(out, 0, size_t{frames} * kFrameBytes);
    }

private:
    std::array<int16_t, kToneFrames> table_{};
    uint32_t at_ = 0;
};

}  // namespace compare
