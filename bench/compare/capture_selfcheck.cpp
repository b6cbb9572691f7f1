#include <cstdio>
#include <vector>

#include "capture_analysis.h"
#include "workload.h"

namespace compare {

namespace {

// `frames` of the tone from the start, as the contenders write it.
std::vector<int16_t> ToneFrames(uint32_t frames) {
    Tone tone;
    std::vector<int16_t> stereo(size_t{frames} * kChannels);
    tone.Write(stereo.data(), frames);
    std::vector<int16_t> left(frames);
    for (uint32_t i = 0; i < frames; ++i) left[i] = stereo[size_t{i} * kChannels];
    return left;
}

std::vector<int16_t> WithSilenceAround(std::vector<int16_t> tone) {
    tone.insert(tone.begin(), kRate / 10, 0);
    tone.insert(tone.end(), kRate / 10, 0);
    return tone;
}

}  // namespace

int CheckToneFaultFinder() {
    constexpr uint32_t kBlock = 240;  // 5 ms
    const std::vector<int16_t> clean = ToneFrames(kRate);
    struct Case {
        const char* name;
        std::vector<int16_t> capture;
        uint32_t silences;
        uint32_t breaks;
    };
    std::vector<Case> cases;
    cases.push_back({"clean tone", WithSilenceAround(clean), 0, 0});
    {
        // Block 41 plays the previous lap's data again: the client was late.
        std::vector<int16_t> c = clean;
        for (uint32_t i = 0; i < kBlock; ++i) c[40 * kBlock + i] = clean[36 * kBlock + i];
        // Both of its edges break the phase.
        cases.push_back({"one block from the previous lap", WithSilenceAround(c), 0, 2});
    }
    {
        std::vector<int16_t> c = clean;
        c.erase(c.begin() + 20000, c.begin() + 20100);
        cases.push_back({"100 frames dropped", WithSilenceAround(c), 0, 1});
    }
    {
        std::vector<int16_t> c = clean;
        c.insert(c.begin() + 30000, kRate / 500, 0);  // 2 ms
        cases.push_back({"2 ms of silence inserted", WithSilenceAround(c), 1, 0});
    }
    {
        std::vector<int16_t> c = clean;
        c.insert(c.begin() + 30000, 10, 0);
        cases.push_back({"10 frames of silence inserted", WithSilenceAround(c), 0, 1});
    }
    int wrong = 0;
    for (const Case& c : cases) {
        const CaptureFaults found = FindToneFaults(c.capture);
        const bool ok = found.silences == c.silences && found.phaseBreaks == c.breaks;
        std::printf("  %-34s silences %u (want %u), breaks %u (want %u)%s\n", c.name,
                    found.silences, c.silences, found.phaseBreaks, c.breaks, ok ? "" : "  WRONG");
        if (!ok) ++wrong;
    }
    return wrong;
}

}  // namespace compare
