// The DirectSound contender: a CdsObject client that streams the workload
// through one four-block looping buffer per stream, refilling each block
// when the block event says it has played. One thread serves every stream,
// waiting on all their events at once. Built twice from this source: for
// Linux over mivo's own software device, and for Windows against mivo.dll,
// which Wine's DirectSound then serves.
//
//   mivo-compare-client BLOCK_MS SECONDS LOG_FILE [STREAMS]
//
// Exit status 0 when the run streamed to its end; the log holds the timings
// (of stream 0, the one with the tone) and the events of every stream.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "dsound_stream.h"
#include "mivo.h"
#include "output_latency_probe.h"
#include "platform_shim.h"
#include "run_log.h"
#include "workload.h"

namespace {

using namespace compare;

#if defined(_WIN32)
constexpr const char* kContender = "wine";
#else
constexpr const char* kContender = "mivo";
#endif

// A bound on one wait, far beyond any block length: only a stalled device
// reaches it.
constexpr int kEventWaitMs = 2000;

using Streams = std::vector<std::unique_ptr<DsoundStream>>;

uint32_t FewestDone(const Streams& streams) {
    uint32_t fewest = streams.front()->Done();
    for (const auto& s : streams) fewest = std::min(fewest, s->Done());
    return fewest;
}

// Streams until every stream has played its blocks of tone (or silence)
// and the silent tail.
void Stream(Streams& streams, EventSet& events, uint32_t blockFrames, uint32_t toneBlocks,
            RunLog& log) {
    DsoundStream& marked = *streams.front();
    OutputLatencyProbe outputLatency(marked.Sound(), log);

    // Twice the run's length and then some: a device that plays far more
    // slowly than real time (or skips whole buffers) ends the run here.
    const int64_t blockNs = int64_t{blockFrames} * 1000000000 / kRate;
    const int64_t boundNs = 2 * int64_t{toneBlocks + kTailBlocks} * blockNs + int64_t{5000000000};

    uint64_t seen = 0;  // block events of streams with blocks still to play
    log.Events(static_cast<uint32_t>(streams.size()), seen);
    log.Cpu().Start();
    const int64_t started = NowNs();
    // Stream 0, the one with the tone, plays first.
    log.PlayStarted(started, RealtimeNs());
    for (const auto& s : streams) {
        if (!s->Play(log)) return;
    }
    size_t playing = streams.size();  // streams with blocks still to play
    std::vector<size_t> ready;
    ready.reserve(streams.size());
    bool failed = false;
    while (playing > 0 && !failed) {
        if (!events.Wait(kEventWaitMs, ready)) {
            log.Failure("no block event within 2 s after block " + std::to_string(marked.Done()));
            break;
        }
        const int64_t woke = NowNs();
        if (woke - started > boundNs) {
            log.Failure("far slower than real time: " + std::to_string(FewestDone(streams)) +
                        " blocks played");
            break;
        }
        for (const size_t i : ready) {
            DsoundStream& s = *streams[i];
            // A finished stream loops silence until every stream is done.
            if (s.Finished()) continue;
            ++seen;
            if (!s.Serve(woke, log, i == 0)) {
                failed = true;
                break;
            }
            if (s.Finished()) --playing;
        }
        // After the refills, so that a slow reading delays no block.
        outputLatency.Sample(woke);
    }
    log.PlayEnded(NowNs());
    log.Cpu().Stop();
    log.Events(static_cast<uint32_t>(streams.size()), seen);
}

int Run(const RunArguments& args) {
    const uint32_t blockBytes = args.blockFrames * kFrameBytes;
    RunLog log(kContender, args.blockFrames, args.toneBlocks);
    int status = 0;
    {
        Streams streams;
        EventSet events;
        for (uint32_t i = 0; i < args.streams; ++i) {
            const std::string name = args.streams > 1 ? "stream " + std::to_string(i) + ": " : "";
            streams.push_back(
                std::make_unique<DsoundStream>(blockBytes, args.toneBlocks, i == 0, name));
            if (!streams.back()->Open()) return 1;
            events.Add(streams.back()->BlockEvent());
        }
        Stream(streams, events, args.blockFrames, args.toneBlocks, log);
        for (const auto& s : streams) {
            if (!s->Stop(log)) status = 1;
        }
    }
    if (!log.Write(args.log)) {
        std::fprintf(stderr, "cannot write %s\n", args.log);
        return 1;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    compare::RunArguments args;
    if (!compare::ParseRunArguments(argc, argv, args)) return 2;
    return Run(args);
}
