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
// 3 and 6 of them) at least a fifth of a cycle away from a whole cycle, so
// the break shows plainly.
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

// Every contender's command line: BLOCK_MS SECONDS LOG_FILE.
struct RunArguments {
    int blockMs = 0;
    double seconds = 0.0;
    const char* log = nullptr;
};

inline bool ParseRunArguments(int argc, char** argv, RunArguments& args) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s BLOCK_MS SECONDS LOG_FILE\n", argv[0]);
        return false;
    }
    args.blockMs = std::atoi(argv[1]);
    args.seconds = std::atof(argv[2]);
    args.log = argv[3];
    if (args.blockMs < 1 || args.blockMs > 1000 || args.seconds <= 0.0 || args.seconds > 3600.0) {
        std::fprintf(stderr, "BLOCK_MS must be 1 to 1000 and SECONDS 0 to 3600\n");
        return false;
    }
    return true;
}

inline uint32_t BlockFrames(int blockMs) { return static_cast<uint32_t>(kRate / 1000 * blockMs); }

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

    static void Silence(void* out, uint32_t frames) { std::memset(out, 0, frames * kFrameBytes); }

private:
    std::array<int16_t, kToneFrames> table_{};
    uint32_t at_ = 0;
};

}  // namespace compare
