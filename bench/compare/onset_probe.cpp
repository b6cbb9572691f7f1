// When the first sound of a run reached the sink, on the wall clock: it
// records the sink's monitor beside the capture and writes the moment the
// tone began, for the report to set against the client's Play. The Windows
// client under Wine shares only the wall clock with Linux programs, so both
// sides give CLOCK_REALTIME.
//
//   mivo-compare-onset SOURCE SECONDS OUT_FILE
//
// SOURCE is the sink's monitor ("mivocompare.monitor"), on the server that
// PULSE_SERVER names. At the first quiet frame it gets it writes
// "listening_realtime_ns NS", so that the caller knows it is recording
// before anything plays; at the next frame above the threshold it goes on
// listening for a while and then adds "onset_realtime_ns NS" and exits 0.
// Without an onset within SECONDS it exits 1 and the file holds none.
//
// A frame's time is read off the monitor's own pace, not off the read that
// brought it. The monitor hands over frames in bursts (a graph cycle's worth
// on PipeWire, a fragment on PulseAudio) and this program may wake late, so
// a read returns at or after the moment its last frame reached the sink,
// never before. The frames come at the sink's rate, so the earliest
// (wake-up - frames so far / rate) over many reads places every frame on
// the sink's timeline. pa_simple_get_latency does not help here: a monitor's
// record latency counts to the null sink's notional playback, which PulseAudio
// renders ahead of by the sink's latency, so it is negative and pa_simple
// gives 0; on PipeWire it is interpolation that swings by several ms between
// timing updates.
#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include "platform_shim.h"
#include "workload.h"

namespace {

using namespace compare;

// The tone peaks at 16000 (about -6 dBFS) and starts at phase 0, so it
// passes this on its second frame (about 2250): 21 us late, for every
// contender alike. Silence in the capture stays within a few steps of 0.
constexpr int kOnsetLevel = 1000;

// The same fragment as the capture's parec (--latency-msec=20). On PipeWire
// a smaller one would lower the whole graph's quantum and change what every
// contender is measured against.
constexpr uint32_t kFragmentFrames = kRate / 50;

// Reads from the onset on whose earliest one sets the timeline: half a
// second, many bursts, and no longer, since this stream costs the servers
// CPU in the contender's window. Only reads from the onset on, because the
// contender's stream changes the pace: PulseAudio's null sink renders less
// far ahead once a stream asks for less latency, and PipeWire's graph takes
// a shorter cycle.
constexpr int kTimelineReads = 25;

int64_t FramesNs(int64_t frames) { return frames * 1000000000 / kRate; }

bool Loud(const int16_t* frame) {
    for (int c = 0; c < kChannels; ++c) {
        if (frame[c] > kOnsetLevel || frame[c] < -kOnsetLevel) return true;
    }
    return false;
}

int Listen(const char* source, double seconds, std::FILE* out) {
    const pa_sample_spec spec{PA_SAMPLE_S16LE, kRate, kChannels};
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(-1);
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = kFragmentFrames * kFrameBytes;
    int error = 0;
    pa_simple* stream = pa_simple_new(nullptr, "mivo-compare-onset", PA_STREAM_RECORD, source,
                                      "onset", &spec, nullptr, &attr, &error);
    if (stream == nullptr) {
        std::fprintf(stderr, "cannot record %s: %s\n", source, pa_strerror(error));
        return 1;
    }
    const int64_t deadline = NowNs() + static_cast<int64_t>(seconds * 1e9);
    std::vector<int16_t> chunk(size_t{kFragmentFrames} * kChannels);
    bool listening = false;
    int64_t frames = 0;  // read so far
    int64_t onset = -1;  // the onset's frame
    int reads = 0;       // since the onset, with it
    int64_t earliest = std::numeric_limits<int64_t>::max();
    while (NowNs() < deadline && reads < kTimelineReads) {
        if (pa_simple_read(stream, chunk.data(), chunk.size() * sizeof(int16_t), &error) < 0) {
            std::fprintf(stderr, "reading %s: %s\n", source, pa_strerror(error));
            break;
        }
        const int64_t wokeNs = NowNs();
        for (uint32_t f = 0; f < kFragmentFrames && onset < 0; ++f) {
            const bool loud = Loud(&chunk[size_t{f} * kChannels]);
            // Sound from before the first quiet frame (a previous run's
            // tail) has no known start.
            if (loud && listening) onset = frames + f;
            if (!loud && !listening) {
                std::fprintf(out, "listening_realtime_ns %lld\n",
                             static_cast<long long>(RealtimeNs()));
                std::fflush(out);
                listening = true;
            }
        }
        frames += kFragmentFrames;
        if (onset >= 0) {
            earliest = std::min(earliest, wokeNs - FramesNs(frames));
            ++reads;
        }
    }
    pa_simple_free(stream);
    if (onset < 0) {
        std::fprintf(stderr, "no onset on %s\n", source);
        return 1;
    }
    // Steady time to wall time at one moment: both clocks tick alike over
    // the few seconds between the client's Play and this.
    const int64_t wallOffset = RealtimeNs() - NowNs();
    const int64_t onsetNs = earliest + FramesNs(onset) + wallOffset;
    std::fprintf(out, "onset_realtime_ns %lld\n", static_cast<long long>(onsetNs));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 || std::atof(argv[2]) <= 0.0) {
        std::fprintf(stderr, "usage: %s SOURCE SECONDS OUT_FILE\n", argv[0]);
        return 2;
    }
    std::FILE* out = std::fopen(argv[3], "w");
    if (out == nullptr) {
        std::fprintf(stderr, "cannot write %s\n", argv[3]);
        return 1;
    }
    const int status = Listen(argv[1], std::atof(argv[2]), out);
    return std::fclose(out) == 0 ? status : 1;
}
