// Measures one capture of the sink's monitor (raw float32le, stereo, 48 kHz)
// against the signal that was played, and prints one line of figures:
//   tone:   level=dBFS thdn=dB sfdr=dB peak=Hz measured=S gaps=N seconds=S
//   noise:  bitexact=yes|no matching=M/C captured=C/N first=I gaps=N seconds=S
//
//   mivo-fidelity-measure CAPTURE BUFFER SIGNAL SECONDS
//
// BUFFER, SIGNAL and SECONDS as given to the program that played it.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bit_exactness.h"
#include "capture_scan.h"
#include "fft.h"
#include "signal_source.h"
#include "tone_analysis.h"

namespace {

using namespace mivo_fidelity;

constexpr double kCaptureRate = 48000.0;
constexpr size_t kCaptureChannels = 2;
// The sink's band, where THD+N is summed.
constexpr double kLowHz = 20.0;
constexpr double kHighHz = 24000.0;
// Left off each end of a tone before it is measured: the output's start and
// end are not the steady signal.
constexpr double kEdgeSeconds = 0.5;
// A silence longer than 1 ms is a gap.
constexpr size_t kGapSamples = 48;

bool ReadCapture(const char* path, std::vector<float>& samples) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    samples.resize(bytes.size() / sizeof(float));
    for (size_t i = 0; i < samples.size(); ++i) {
        // The capture is little-endian, as this machine is.
        std::memcpy(&samples[i], bytes.data() + i * sizeof(float), sizeof(float));
    }
    return true;
}

// Over the longest stretch without a gap: a dropout elsewhere in the run
// is counted, but it does not take the resampler's figures with it.
void PrintTone(const std::vector<float>& left, const SignalChoice& signal) {
    const Span span = LongestGapFree(left, kSilence, kGapSamples);
    const auto edge = static_cast<size_t>(kEdgeSeconds * kCaptureRate);
    const size_t first = span.first + edge;
    const size_t end = span.end > first + edge ? span.end - edge : first;
    const ToneFigures f =
        MeasureTone(left.data() + first, end - first, kCaptureRate, signal.toneHz, kLowHz, kHighHz);
    if (std::isnan(f.levelDbfs)) {
        std::printf("level=- thdn=- sfdr=- peak=- measured=0");
        return;
    }
    // How much of it the window took.
    const double measured =
        static_cast<double>(std::min(PowerOfTwoAtMost(end - first), kMaxToneWindow)) / kCaptureRate;
    std::printf("level=%.2f thdn=%.1f sfdr=%.1f peak=%.1f measured=%.2f", f.levelDbfs, f.thdnDb,
                f.sfdrDb, f.peakHz, measured);
}

// Both channels against the reference, each stretch between gaps found on
// its own: a dropout loses the samples it covers from the comparison, and
// the rest is still judged sample by sample. Stretches shorter than this
// are too short to place by correlation.
constexpr size_t kShortestStretch = 480;

void PrintNoise(const std::vector<float>& capture, const SignalSource& reference, int bits) {
    size_t matching = 0;
    size_t compared = 0;
    size_t total = 0;
    long long first = -1;
    for (size_t c = 0; c < kCaptureChannels; ++c) {
        const std::vector<float> channel = Channel(capture, kCaptureChannels, c);
        const std::vector<int32_t>& samples = reference.ChannelSamples(c);
        total += samples.size();
        for (const Span& s : GapFreeStretches(channel, kSilence, kGapSamples)) {
            if (s.end - s.first < kShortestStretch) continue;
            const BitExactness r = CompareBitExact(channel.data() + s.first, s.end - s.first,
                                                   samples.data(), samples.size(), bits);
            matching += r.matching;
            compared += r.compared;
            if (r.firstMismatch >= 0 && (first < 0 || r.firstMismatch < first)) {
                first = r.firstMismatch;
            }
        }
    }
    // Exact when every sample that played was the one written.
    const bool exact = compared > 0 && matching == compared;
    std::printf("bitexact=%s matching=%zu/%zu captured=%zu/%zu first=%lld", exact ? "yes" : "no",
                matching, compared, compared, total, first);
}

}  // namespace

int main(int argc, char** argv) {
    PcmFormat format;
    SignalChoice signal;
    const double seconds = argc == 5 ? std::atof(argv[4]) : 0.0;
    if (argc != 5 || !ParseFormat(argv[2], format) || !ParseSignal(argv[3], signal) ||
        seconds <= 0.0) {
        std::fprintf(stderr, "usage: %s CAPTURE RATE/BITS tone:HZ|noise:SEED SECONDS\n", argv[0]);
        return 2;
    }
    std::vector<float> capture;
    if (!ReadCapture(argv[1], capture)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const std::vector<float> left = Channel(capture, kCaptureChannels, 0);
    if (signal.IsTone()) {
        PrintTone(left, signal);
    } else {
        // Noise at the sink's rate is compared as it was written; at any
        // other rate it is not the same samples, and only its gaps count.
        if (format.rate != static_cast<int>(kCaptureRate)) {
            std::printf("bitexact=-");
        } else {
            PrintNoise(capture, SignalSource(format, signal, seconds), format.bits);
        }
    }
    const Span span = Sounding(left, kSilence);
    std::printf(" gaps=%zu seconds=%.3f\n", CountGaps(left, kSilence, kGapSamples),
                static_cast<double>(span.end - span.first) / kCaptureRate);
    return 0;
}
