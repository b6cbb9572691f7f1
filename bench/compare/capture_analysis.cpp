#include "capture_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "workload.h"

namespace compare {

namespace {

// Below this a sample counts as silent. The tone moves by ~2000 per sample
// through zero, so it never stays this quiet for even a few samples.
constexpr int kQuiet = 16;
// A silence is reported from this length on (1 ms).
constexpr size_t kSilenceFrames = kRate / 1000;
// How far the sine may stray from its own recurrence: rounding to 16 bits
// and a float mixer stay within a few units; a phase or level jump of the
// smallest kind is hundreds.
constexpr double kBreakThreshold = 100.0;
// Disturbances closer than this count as one break.
constexpr size_t kMergeFrames = kRate / 1000;

struct Span {
    size_t first;
    size_t last;
};

}  // namespace

CaptureFaults FindToneFaults(const std::vector<int16_t>& left) {
    CaptureFaults faults;
    faults.readable = true;
    size_t start = 0;
    while (start < left.size() && std::abs(left[start]) <= kQuiet) ++start;
    if (start == left.size()) return faults;
    size_t end = left.size() - 1;
    while (std::abs(left[end]) <= kQuiet) --end;
    faults.toneFrames = end - start + 1;

    std::vector<Span> silences;
    for (size_t i = start; i <= end;) {
        if (std::abs(left[i]) > kQuiet) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j <= end && std::abs(left[j]) <= kQuiet) ++j;
        if (j - i > kSilenceFrames) {
            silences.push_back({i, j - 1});
            faults.silenceAt.push_back(i - start);
            faults.silentMs += static_cast<double>(j - i) * 1000.0 / kRate;
        }
        i = j;
    }
    faults.silences = static_cast<uint32_t>(silences.size());

    // A pure sine obeys x[n] = 2 cos(w) x[n-1] - x[n-2]; a skip, a repeat or
    // inserted silence breaks it at once.
    const double twoCos = 2.0 * std::cos(2.0 * kPi * kToneCycles / kToneFrames);
    std::vector<Span> breaks;
    for (size_t n = start + 2; n <= end; ++n) {
        const double predicted = twoCos * left[n - 1] - left[n - 2];
        if (std::fabs(left[n] - predicted) <= kBreakThreshold) continue;
        if (!breaks.empty() && n - breaks.back().last <= kMergeFrames) {
            breaks.back().last = n;
        } else {
            breaks.push_back({n, n});
        }
    }
    // Edges of a reported silence are that silence, not another fault.
    for (const Span& b : breaks) {
        bool atSilence = false;
        for (const Span& s : silences) {
            if (b.last + kMergeFrames >= s.first && b.first <= s.last + kMergeFrames) {
                atSilence = true;
                break;
            }
        }
        if (!atSilence) {
            ++faults.phaseBreaks;
            faults.breakAt.push_back(b.first - start);
        }
    }
    return faults;
}

uint32_t CountFrom(const std::vector<uint64_t>& at, uint64_t frame) {
    return static_cast<uint32_t>(
        std::count_if(at.begin(), at.end(), [frame](uint64_t a) { return a >= frame; }));
}

CaptureFaults AnalyseCapture(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return {};
    std::vector<int16_t> left;
    int16_t frame[kChannels];
    while (std::fread(frame, sizeof frame, 1, file) == 1) left.push_back(frame[0]);
    std::fclose(file);
    return FindToneFaults(left);
}

}  // namespace compare
