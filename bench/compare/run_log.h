// What one run records while it streams, written out only after playback so
// that no file input or output happens on the timed path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace compare {

// CPU time of this process and of the sound servers it talks to (pulseaudio,
// and wineserver under Wine), whose pids come in MIVO_COMPARE_SERVER_PIDS
// (separated by spaces or commas).
class CpuWindow {
public:
    void Start();
    void Stop();
    // "cpu_ticks <name> <ticks>" lines; -1 for a process that could not be read.
    std::string Describe() const;

private:
    struct Process {
        std::string pid;
        uint64_t before = 0;
        uint64_t after = 0;
        bool readable = false;
    };
    std::vector<Process> processes_;
};

class RunLog {
public:
    RunLog(std::string contender, uint32_t blockFrames, uint32_t toneBlocks);

    // When playback was asked for; every wake-up time is kept relative to it.
    // `realtimeNs` is the same moment on the wall clock, which the onset
    // probe (a Linux program beside a Windows client under Wine) shares.
    void PlayStarted(int64_t nowNs, int64_t realtimeNs) {
        playNs_ = nowNs;
        playRealtimeNs_ = realtimeNs;
    }
    void PlayEnded(int64_t nowNs) { endNs_ = nowNs; }
    // Block `block` (counted from 1 in play order) was seen finished at
    // `wakeNs`, with the device's play cursor `cursorPastBytes` beyond its
    // end (-1 where the contender has no cursor).
    void BlockDone(uint32_t block, int64_t wakeNs, int64_t cursorPastBytes);
    // A block event after which no block had finished.
    void EmptyWake(int64_t wakeNs);
    // The latency the device's output aims at and the one its server last
    // reported, in frames, at `nowNs`.
    void OutputLatency(int64_t nowNs, uint32_t targetFrames, uint32_t reportedFrames);
    // The device has no such figures.
    void OutputLatencyUnsupported() { latencyUnsupported_ = true; }
    // How many streams played, and the block events seen over all of them
    // while they had blocks left to play.
    void Events(uint32_t streams, uint64_t events) {
        streams_ = streams;
        events_ = events;
    }
    void Failure(const std::string& what) { failures_.push_back(what); }
    CpuWindow& Cpu() { return cpu_; }

    bool Write(const std::string& path) const;

private:
    struct Block {
        uint32_t block;
        int64_t wakeNs;
        int64_t cursorPastBytes;
    };
    struct Latency {
        int64_t atNs;
        uint32_t targetFrames;
        uint32_t reportedFrames;
    };
    std::string contender_;
    uint32_t blockFrames_;
    uint32_t toneBlocks_;
    int64_t playNs_ = 0;
    int64_t playRealtimeNs_ = 0;
    int64_t endNs_ = 0;
    std::vector<Block> blocks_;
    std::vector<int64_t> emptyWakes_;
    std::vector<Latency> latencies_;
    bool latencyUnsupported_ = false;
    uint32_t streams_ = 1;
    uint64_t events_ = 0;
    std::vector<std::string> failures_;
    CpuWindow cpu_;
};

}  // namespace compare
