// The timing and CPU figures of one run, from the log its client wrote.
//
// Definitions (all in milliseconds unless said otherwise):
//  - Event latency from the clock: block n's event is ideally due at
//    t0 + n * T, T the block's length. t0 is the earliest start that the run
//    itself bears out, min over n of (wake(n) - n * T), so a latency is how
//    much later than the run's best phase the client got to block n; a gap
//    in the output shifts every later block and shows here.
//  - Event latency from the play cursor: how far the device's own play
//    cursor had moved past the end of block n when the client, woken by the
//    event, read it (converted to time). It tells what the device knew and
//    had not yet said. The bare SDL2 program has no cursor.
//  - Jitter: the standard deviation of the time between the wake-ups for
//    successive blocks (ideally T, always).
//  - Events off one per block, settled: from kSettledSeconds into the tone
//    on, the blocks that came on another block's wake-up plus the wake-ups
//    that found no block finished (ideally 0: one wake-up per block).
//  - CPU: utime + stime of the client process and of the sound servers
//    during the streaming, per second of it (ms of CPU per s of audio),
//    less what the sound server spends idle with the capture running.
//  - Output latency target: what mivo's software device asked the sound
//    server to hold for its stream, sampled by the client every ~0.5 s;
//    beside it, the latency the device last read from the server for the
//    stream (pa_stream_get_latency), the client's own figure.
//  - Events: the block events the client saw over all its streams while
//    they had blocks to play, against one per block of every stream.
//  - Play to ear: from the client's Play of stream 0 to the first sound of
//    its tone at the sink's monitor, both on the wall clock, the one clock
//    the Linux programs share with the Windows client under Wine.
// The first buffer's worth of blocks is left out of the timing figures: it
// was written before playback and plays while the output fills.
#pragma once

#include <algorithm>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "workload.h"

namespace compare {

// A PipeWire node's latency, "256/48000": frames at a rate.
struct NodeLatency {
    uint32_t frames = 0;  // 0: none known
    uint32_t rate = 0;
    double Ms() const { return rate == 0 ? 0.0 : frames * 1000.0 / rate; }
    std::string Text() const;
    // Parses "FRAMES/RATE"; false (and unchanged) for anything else.
    bool Parse(const std::string& text);
    // Keeps the shorter of the two; an unknown one never wins.
    void KeepSmaller(const NodeLatency& other);
};

struct RunFigures {
    bool readable = false;
    std::string contender;
    uint32_t blockFrames = 0;
    uint32_t toneBlocks = 0;
    uint32_t blocks = 0;  // blocks whose event was seen
    double playedSeconds = 0.0;
    bool timed = false;  // events past the first buffer, enough for a period
    double clockP50 = 0.0, clockP99 = 0.0;
    bool hasCursor = false;
    double cursorP50 = 0.0, cursorP99 = 0.0;
    double jitter = 0.0;
    bool settledKnown = false;  // the tone, and the events, went on past kSettledSeconds
    uint32_t eventsOffSettled = 0;
    bool targetKnown = false;
    double targetP50 = 0.0, targetLast = 0.0;
    bool reportedKnown = false;  // the device's own reading of the server's latency
    double reportedP50 = 0.0;
    int64_t playRealtimeNs = 0;  // 0: the log gives none
    uint32_t streams = 1;
    uint64_t events = 0;
    bool cpuKnown = false;
    double cpuClient = 0.0, cpuServers = 0.0;  // ms per s
    double idleServer = 0.0;                   // ms per s the server spends anyway, capturing
    std::vector<std::string> failures;

    // What the run cost the servers beyond their idle share, and in all.
    double ServersCpu() const { return std::max(0.0, cpuServers - idleServer); }
    double Cpu() const { return cpuClient + ServersCpu(); }
    // One event per block of every stream: the tone's blocks and the tail.
    uint64_t EventsExpected() const {
        return uint64_t{streams} * (uint64_t{toneBlocks} + kTailBlocks);
    }
};

// The stream's latency as the sound server reported it while the run played
// (Buffer Latency + Sink Latency, sampled beside the run by run.sh), and
// the smallest node.latency its streams had, where the server is PipeWire.
struct SinkLatency {
    uint32_t samples = 0;
    uint32_t byOnlyStream = 0;  // samples matched as the only stream, not by pid
    // False when every sample was 0: PipeWire's pulse server reports 0 for
    // every stream, which is no figure.
    bool reported = false;
    double p50 = 0.0, p99 = 0.0;
    NodeLatency smallestNode;
};
SinkLatency ReadSinkLatency(const std::string& path);
// The same from the lines of such a file: "ms_since_start buffer_us
// sink_us node_latency pid|only PID", node_latency "-" where there is none.
SinkLatency ParseSinkLatency(std::istream& lines);

// Runs ParseSinkLatency on made-up samples of both servers; prints what it
// finds and returns the number of cases it got wrong.
int CheckSinkLatencyReader();

// Play to the first sound at the sink's monitor, from the onset probe's
// file ("onset_realtime_ns NS", absent when it heard none) and the
// client's Play on the wall clock (0 for none).
struct EarLatency {
    bool known = false;
    double ms = 0.0;
};
EarLatency ReadEarLatency(const std::string& path, int64_t playRealtimeNs);
EarLatency ParseEarLatency(std::istream& onset, int64_t playRealtimeNs);

// Runs ParseEarLatency on made-up probe files; prints what it finds and
// returns the number of cases it got wrong.
int CheckEarLatencyReader();

// Reads a log written by RunLog; `ticksPerSecond` is the clock tick of
// /proc's figures.
RunFigures ReadRunFigures(const std::string& path, double ticksPerSecond);

// What mivo-compare-wake-probe saw beside a run: wake-ups of a plain
// thread 15 ms or more late, and the latest.
struct WakeProbe {
    bool known = false;
    unsigned long long stalls = 0;
    double worstMs = 0.0;
};
WakeProbe ReadWakeProbe(const std::string& path);

// The value below which `fraction` of `values` lie (nearest rank).
double Percentile(std::vector<double> values, double fraction);

}  // namespace compare
