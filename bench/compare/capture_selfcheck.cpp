#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
    constexpr int64_t kBlock = 240;       // 5 ms
    constexpr int64_t kShortBlock = 120;  // 2.5 ms
    const std::vector<int16_t> clean = ToneFrames(kRate);
    struct Case {
        const char* name;
        std::vector<int16_t> capture;
        uint32_t silences;
        uint32_t breaks;
        int64_t firstAt;  // where the first fault begins, frames into the tone; -1: none
    };
    // Positions count from the first sounding frame, the tone's second: the
    // sine starts at 0.
    constexpr int64_t kSounding = 1;
    // A block played again from the buffer's previous lap: the client was
    // late. Both of its edges break the phase.
    const auto lapRepeated = [&clean](int64_t block) {
        std::vector<int16_t> c = clean;
        const auto at = static_cast<size_t>(40 * block);
        const auto from = at - static_cast<size_t>(kBlocksPerBuffer * block);
        for (size_t i = 0; i < static_cast<size_t>(block); ++i) c[at + i] = clean[from + i];
        return c;
    };
    std::vector<Case> cases;
    cases.push_back({"clean tone", WithSilenceAround(clean), 0, 0, -1});
    cases.push_back({"one 5 ms block from the previous lap", WithSilenceAround(lapRepeated(kBlock)),
                     0, 2, 40 * kBlock - kSounding});
    cases.push_back({"one 2.5 ms block from the previous lap",
                     WithSilenceAround(lapRepeated(kShortBlock)), 0, 2,
                     40 * kShortBlock - kSounding});
    {
        std::vector<int16_t> c = clean;
        c.erase(c.begin() + 20000, c.begin() + 20100);
        cases.push_back({"100 frames dropped", WithSilenceAround(c), 0, 1, 20000 - kSounding});
    }
    {
        std::vector<int16_t> c = clean;
        c.insert(c.begin() + 30000, kRate / 500, 0);  // 2 ms
        cases.push_back(
            {"2 ms of silence inserted", WithSilenceAround(c), 1, 0, 30000 - kSounding});
    }
    {
        std::vector<int16_t> c = clean;
        c.insert(c.begin() + 30000, 10, 0);
        cases.push_back(
            {"10 frames of silence inserted", WithSilenceAround(c), 0, 1, 30000 - kSounding});
    }
    int wrong = 0;
    for (const Case& c : cases) {
        const CaptureFaults found = FindToneFaults(c.capture);
        int64_t firstAt = -1;
        for (const auto* at : {&found.silenceAt, &found.breakAt}) {
            if (!at->empty() && (firstAt < 0 || static_cast<int64_t>(at->front()) < firstAt)) {
                firstAt = static_cast<int64_t>(at->front());
            }
        }
        // The settled figures count faults from their place in the tone.
        const bool placed = c.firstAt < 0 ? firstAt < 0
                                          : firstAt >= 0 && std::llabs(firstAt - c.firstAt) <=
                                                                static_cast<int64_t>(kRate / 1000);
        const bool ok = found.silences == c.silences && found.phaseBreaks == c.breaks && placed;
        std::printf("  %-38s silences %u (want %u), breaks %u (want %u), at %lld (want %lld)%s\n",
                    c.name, found.silences, c.silences, found.phaseBreaks, c.breaks,
                    static_cast<long long>(firstAt), static_cast<long long>(c.firstAt),
                    ok ? "" : "  WRONG");
        if (!ok) ++wrong;
    }
    return wrong;
}

}  // namespace compare
