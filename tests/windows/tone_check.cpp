// Measures a captured tone: raw interleaved signed 16-bit little-endian PCM
// as parec writes it. Prints the frequency, the amplitude before and after
// the volume change, the longest silence inside the tone and the tone's
// length, and exits 1 when one of them is off.
//
//   mivo-tone-check CAPTURE RATE CHANNELS FREQUENCY AMPLITUDE BLOCK_FRAMES
//                   VOLUME_RATIO TONE_FRAMES
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifndef M_PI
#define M_PI 3.14159265358979323846
#endif

namespace {

struct Options {
    std::string capture;
    double rate = 0;
    int channels = 0;
    double frequency = 0;
    double amplitude = 0;
    long blockFrames = 0;
    double volumeRatio = 0;
    long toneFrames = 0;
};

// Wine mixes on its own real-time schedule and, even on a quiet machine, now
// and then misses a period: the sink then hears a few milliseconds of
// silence, which leaves two jumps in the wave and one block at an odd level.
// Up to two such misses are allowed; a gap longer than a block never is, and
// a client that refilled the wrong blocks would break the wave at every lap.
constexpr int kOutputMisses = 2;
// A window of one block holding a level that is neither of the two expected
// ones is the volume change itself, or a missed period.
constexpr int kMaxTransitionWindows = 2 + kOutputMisses;
constexpr double kLevelTolerance = 0.02;     // relative
constexpr double kFrequencyTolerance = 1.0;  // Hz
// A sampled sine obeys x[n+1] + x[n-1] = 2 cos(w) x[n]; 16-bit rounding
// leaves at most about 2 of residual. A larger one is a jump in the wave: a
// block played twice or skipped, or a lost stretch. Only the volume change
// may make one, besides the output's missed periods.
constexpr double kBreakResidual = 8.0;
constexpr int kMaxBreaks = 1 + 2 * kOutputMisses;

int failures = 0;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::printf("FAIL: %s\n", what);
        ++failures;
    }
}

std::vector<int16_t> ReadSamples(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        const auto value = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        samples[i] = static_cast<int16_t>(value);
    }
    return samples;
}

// Frequency from the median spacing of the rising zero crossings, each
// placed between its two samples by linear interpolation. The median keeps a
// missed period of the output (a short silence) from pulling the figure.
double MeasureFrequency(const std::vector<double>& x, double rate) {
    std::vector<double> spacings;
    double previous = -1;
    for (size_t i = 1; i < x.size(); ++i) {
        if (x[i - 1] < 0 && x[i] >= 0) {
            const double at = static_cast<double>(i - 1) + (-x[i - 1]) / (x[i] - x[i - 1]);
            if (previous >= 0) spacings.push_back(at - previous);
            previous = at;
        }
    }
    if (spacings.empty()) return 0;
    std::nth_element(spacings.begin(), spacings.begin() + static_cast<long>(spacings.size() / 2),
                     spacings.end());
    return rate / spacings[spacings.size() / 2];
}

// Peak amplitude of a sine from its RMS over a window.
double SineAmplitude(const std::vector<double>& x, size_t begin, size_t count) {
    double sum = 0;
    for (size_t i = begin; i < begin + count; ++i) sum += x[i] * x[i];
    return std::sqrt(2.0 * sum / static_cast<double>(count));
}

bool Near(double value, double expected, double relative) {
    return std::fabs(value - expected) <= relative * std::fabs(expected);
}

void CheckChannel(const Options& o, int channel, const std::vector<double>& x) {
    std::printf("channel %d\n", channel);
    const double frequency = MeasureFrequency(x, o.rate);
    std::printf("  frequency          %.3f Hz (want %.1f +- %.1f)\n", frequency, o.frequency,
                kFrequencyTolerance);
    Check(std::fabs(frequency - o.frequency) <= kFrequencyTolerance, "frequency");

    const double twoCos = 2.0 * std::cos(2.0 * M_PI * o.frequency / o.rate);
    int breaks = 0;
    bool inBreak = false;  // one jump upsets the residual of neighbouring samples
    for (size_t i = 1; i + 1 < x.size(); ++i) {
        const double residual = std::fabs(x[i + 1] + x[i - 1] - twoCos * x[i]);
        const bool broken = residual > kBreakResidual;
        if (broken && !inBreak) {
            std::printf("  jump in the wave at %.4f s (residual %.0f)\n",
                        static_cast<double>(i) / o.rate, residual);
            ++breaks;
        }
        inBreak = broken;
    }
    Check(breaks <= kMaxBreaks, "the wave jumps (a block repeated, skipped or lost)");

    // Blocks of the client's size: a whole number of periods when the tone
    // divides the rate evenly, so the RMS of one is exact.
    const auto window = static_cast<size_t>(o.blockFrames);
    const double quiet = o.amplitude * o.volumeRatio;
    double loudSum = 0;
    double quietSum = 0;
    int loud = 0;
    int quietCount = 0;
    int other = 0;
    bool quietSeen = false;
    bool loudAfterQuiet = false;
    for (size_t begin = 0; begin + window <= x.size(); begin += window) {
        const double a = SineAmplitude(x, begin, window);
        if (Near(a, o.amplitude, kLevelTolerance)) {
            loudSum += a;
            ++loud;
            loudAfterQuiet = loudAfterQuiet || quietSeen;
        } else if (Near(a, quiet, kLevelTolerance)) {
            quietSum += a;
            ++quietCount;
            quietSeen = true;
        } else {
            std::printf("  block at %.3f s has amplitude %.1f\n",
                        static_cast<double>(begin) / o.rate, a);
            ++other;
        }
    }
    const double loudMean = loud > 0 ? loudSum / loud : 0;
    const double quietMean = quietCount > 0 ? quietSum / quietCount : 0;
    std::printf("  amplitude before   %.1f in %d blocks (want %.0f)\n", loudMean, loud,
                o.amplitude);
    std::printf("  amplitude after    %.1f in %d blocks (want %.1f)\n", quietMean, quietCount,
                quiet);
    if (loud > 0 && quietCount > 0) {
        std::printf("  ratio              %.4f (want %.4f)\n", quietMean / loudMean, o.volumeRatio);
    }
    Check(loud > 0, "no block at the written amplitude");
    Check(quietCount > 0, "no block at the lowered volume");
    Check(!loudAfterQuiet, "full volume came back after the change");
    Check(other <= kMaxTransitionWindows, "blocks at an unexpected level");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 9) {
        std::fprintf(
            stderr,
            "usage: %s CAPTURE RATE CHANNELS FREQUENCY AMPLITUDE BLOCK_FRAMES VOLUME_RATIO "
            "TONE_FRAMES\n",
            argv[0]);
        return 2;
    }
    Options o;
    o.capture = argv[1];
    o.rate = std::atof(argv[2]);
    o.channels = std::atoi(argv[3]);
    o.frequency = std::atof(argv[4]);
    o.amplitude = std::atof(argv[5]);
    o.blockFrames = std::atol(argv[6]);
    o.volumeRatio = std::atof(argv[7]);
    o.toneFrames = std::atol(argv[8]);
    if (o.rate <= 0 || o.channels <= 0 || o.blockFrames <= 0) return 2;

    const std::vector<int16_t> samples = ReadSamples(o.capture);
    const size_t frames = samples.size() / static_cast<size_t>(o.channels);
    std::printf("capture: %zu frames (%.3f s)\n", frames, static_cast<double>(frames) / o.rate);

    // The tone runs from the first to the last sample clearly above the
    // noise floor (the capture holds digital silence elsewhere); inside it
    // a sine this loud is near zero only for a sample at each crossing.
    const int floor = static_cast<int>(o.amplitude * o.volumeRatio / 16);
    auto loudFrame = [&](size_t f) {
        for (int c = 0; c < o.channels; ++c) {
            if (std::abs(samples[f * static_cast<size_t>(o.channels) + static_cast<size_t>(c)]) >
                floor) {
                return true;
            }
        }
        return false;
    };
    size_t first = frames;
    size_t last = 0;
    for (size_t f = 0; f < frames; ++f) {
        if (loudFrame(f)) {
            if (first == frames) first = f;
            last = f;
        }
    }
    if (first == frames) {
        std::printf("FAIL: no tone in the capture\n");
        return 1;
    }
    size_t longestQuiet = 0;
    size_t run = 0;
    for (size_t f = first; f <= last; ++f) {
        run = loudFrame(f) ? 0 : run + 1;
        if (run > longestQuiet) longestQuiet = run;
    }
    const long toneFrames = static_cast<long>(last - first + 1);
    std::printf("tone: %ld frames from %.3f s (wrote %ld)\n", toneFrames,
                static_cast<double>(first) / o.rate, o.toneFrames);
    std::printf("longest silence inside the tone: %zu frames (a block is %ld)\n", longestQuiet,
                o.blockFrames);
    Check(longestQuiet <= static_cast<size_t>(o.blockFrames), "a gap longer than one block");
    // The silence before the tone's first loud sample is at most a few
    // samples of the sine's start, so every frame written must be there.
    Check(std::labs(toneFrames - o.toneFrames) <= o.blockFrames,
          "tone length differs from what was written");

    for (int c = 0; c < o.channels; ++c) {
        std::vector<double> x(last - first + 1);
        for (size_t f = first; f <= last; ++f) {
            x[f - first] = samples[f * static_cast<size_t>(o.channels) + static_cast<size_t>(c)];
        }
        CheckChannel(o, c, x);
    }
    std::printf("%s\n", failures == 0 ? "tone check passed" : "tone check FAILED");
    return failures == 0 ? 0 : 1;
}
