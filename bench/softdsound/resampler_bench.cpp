// What rate conversion costs per stream, and what it leaves of a tone:
// the device's resampler library (speexdsp) at several qualities beside
// libsoxr, converting 16-bit stereo from 44.1 to 48 kHz in 10 ms pieces as
// a voice is pulled; then the device's whole mix of one voice with and
// without conversion. One iteration is one second of audio, so the time
// per iteration is the CPU a stream costs per second it plays.
//
//   mivo-resampler-bench [--benchmark_filter=...]
//
// Counters: thdn_997 and thdn_15k, THD+N (dB, 20 Hz to 24 kHz) of a -3 dBFS
// 16-bit tone at 997 Hz and 15 kHz after conversion; the source's own floor
// is -95.1 dB.
#include <benchmark/benchmark.h>
#include <soxr.h>
#include <speex/speex_resampler.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "mixer.h"
#include "output/test_output.h"
#include "test_signal.h"
#include "tone_analysis.h"

namespace {

constexpr uint32_t kIn = 44100;
constexpr uint32_t kOut = 48000;
constexpr uint32_t kPiece = kIn / 100;

// A second of a stereo tone, 16-bit values as floats.
std::vector<float> StereoTone(double hz) {
    const std::vector<double> tone = mivo_fidelity::MakeTone(kIn, hz, -3.0, kIn, 16);
    std::vector<float> stereo;
    for (double v : tone) stereo.insert(stereo.end(), 2, static_cast<float>(v));
    return stereo;
}

// Converts `seconds` of looping `in` through `convert` (piece in, frames;
// out, room in frames; returns frames made) and returns the left channel.
using Convert = std::function<size_t(const float*, size_t, float*, size_t)>;
std::vector<float> Run(const Convert& convert, const std::vector<float>& in, int seconds) {
    std::vector<float> left;
    std::vector<float> out(2 * kOut / 50);
    for (int s = 0; s < seconds; ++s) {
        for (size_t at = 0; at < kIn; at += kPiece) {
            const size_t made = convert(in.data() + 2 * at, kPiece, out.data(), out.size() / 2);
            for (size_t f = 0; f < made; ++f) left.push_back(out[2 * f]);
        }
    }
    return left;
}

void Report(benchmark::State& state, const std::function<Convert()>& make) {
    for (double hz : {997.0, 15000.0}) {
        const std::vector<float> left = Run(make(), StereoTone(hz), 3);
        const auto figures =
            mivo_fidelity::MeasureTone(left.data(), left.size(), kOut, hz, 20, 24000);
        state.counters[hz < 1000 ? "thdn_997" : "thdn_15k"] = figures.thdnDb;
    }
    const Convert convert = make();
    const std::vector<float> in = StereoTone(997);
    for ([[maybe_unused]] auto _ : state) benchmark::DoNotOptimize(Run(convert, in, 1));
}

void Speex(benchmark::State& state) {
    const auto quality = static_cast<int>(state.range(0));
    Report(state, [quality] {
        int error = 0;
        std::shared_ptr<SpeexResamplerState> resampler(
            speex_resampler_init(2, kIn, kOut, quality, &error), speex_resampler_destroy);
        return [resampler](const float* in, size_t frames, float* out, size_t room) {
            auto inFrames = static_cast<spx_uint32_t>(frames);
            auto outFrames = static_cast<spx_uint32_t>(room);
            speex_resampler_process_interleaved_float(resampler.get(), in, &inFrames, out,
                                                      &outFrames);
            return size_t{outFrames};
        };
    });
}
BENCHMARK(Speex)->Arg(3)->Arg(5)->Arg(8)->Arg(10)->Unit(benchmark::kMillisecond);

void Soxr(benchmark::State& state) {
    const auto recipe = static_cast<unsigned long>(state.range(0));
    Report(state, [recipe] {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(recipe, 0);
        std::shared_ptr<soxr> resampler(soxr_create(kIn, kOut, 2, nullptr, &io, &quality, nullptr),
                                        soxr_delete);
        return [resampler](const float* in, size_t frames, float* out, size_t room) {
            size_t used = 0;
            size_t made = 0;
            soxr_process(resampler.get(), in, frames, &used, out, room, &made);
            return made;
        };
    });
}
BENCHMARK(Soxr)->Arg(SOXR_MQ)->Arg(SOXR_HQ)->Arg(SOXR_VHQ)->Unit(benchmark::kMillisecond);

// The device's mix of one 16-bit stereo voice onto a 48 kHz float output,
// in 10 ms pulls: from 48 kHz (no conversion) and from 44.1 kHz.
void DeviceMix(benchmark::State& state) {
    using namespace mivo_dsound;
    const auto rate = static_cast<uint32_t>(state.range(0));
    TestBackend::Settings settings;
    settings.periodFrames = kOut / 100;
    settings.keepPlayed = false;
    TestBackend backend(settings);
    Mixer mixer(backend);
    std::unique_ptr<Output> output = backend.Open({kOut, 2, 32, 0x3, true}, "", mixer);
    mixer.SetOutput(output->Format(), output->PeriodFrames());
    mixer.Start(output->StartFrames());
    output->Start();
    Voice voice;
    voice.layout.rate = rate;
    voice.samples.assign(size_t{rate} * 4, 0);
    for (size_t i = 0; i < voice.samples.size(); ++i)
        voice.samples[i] = static_cast<uint8_t>(i * 37);
    voice.frames = rate;
    mixer.Attach(voice);
    mixer.Play(voice, true);
    for ([[maybe_unused]] auto _ : state) backend.Play(kOut);
    mixer.Detach(voice);
    mixer.StopPacing();
}
BENCHMARK(DeviceMix)->Arg(48000)->Arg(44100)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
