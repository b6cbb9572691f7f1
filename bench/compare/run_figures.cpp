#include "run_figures.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <sstream>

#include "workload.h"

namespace compare {

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(fraction * static_cast<double>(values.size()));
    const size_t index = rank < 1.0 ? 0 : static_cast<size_t>(rank) - 1;
    return values[std::min(index, values.size() - 1)];
}

std::string NodeLatency::Text() const {
    return std::to_string(frames) + "/" + std::to_string(rate);
}

bool NodeLatency::Parse(const std::string& text) {
    unsigned long f = 0;
    unsigned long r = 0;
    char slash = 0;
    std::istringstream in(text);
    if (!(in >> f >> slash >> r) || slash != '/' || f == 0 || r == 0 || f > UINT32_MAX ||
        r > UINT32_MAX) {
        return false;
    }
    frames = static_cast<uint32_t>(f);
    rate = static_cast<uint32_t>(r);
    return true;
}

void NodeLatency::KeepSmaller(const NodeLatency& other) {
    if (other.frames != 0 && (frames == 0 || other.Ms() < Ms())) *this = other;
}

SinkLatency ReadSinkLatency(const std::string& path) {
    std::ifstream file(path);
    return ParseSinkLatency(file);
}

SinkLatency ParseSinkLatency(std::istream& lines) {
    SinkLatency latency;
    std::vector<double> sums;
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream in(line);
        double atMs = 0.0;
        double bufferUs = 0.0;
        double sinkUs = 0.0;
        std::string node;
        std::string matched;
        if (!(in >> atMs >> bufferUs >> sinkUs >> node >> matched) ||
            (matched != "pid" && matched != "only")) {
            continue;
        }
        sums.push_back((bufferUs + sinkUs) / 1000.0);
        if (bufferUs + sinkUs > 0.0) latency.reported = true;
        if (matched == "only") ++latency.byOnlyStream;
        NodeLatency sample;
        if (sample.Parse(node)) latency.smallestNode.KeepSmaller(sample);
    }
    latency.samples = static_cast<uint32_t>(sums.size());
    latency.p50 = Percentile(sums, 0.50);
    latency.p99 = Percentile(sums, 0.99);
    return latency;
}

EarLatency ReadEarLatency(const std::string& path, int64_t playRealtimeNs) {
    std::ifstream file(path);
    return ParseEarLatency(file, playRealtimeNs);
}

EarLatency ParseEarLatency(std::istream& onset, int64_t playRealtimeNs) {
    EarLatency ear;
    std::string key;
    long long ns = 0;
    while (onset >> key >> ns) {
        if (key == "onset_realtime_ns" && playRealtimeNs != 0) {
            ear.known = true;
            ear.ms = static_cast<double>(ns - playRealtimeNs) / 1e6;
        }
    }
    return ear;
}

WakeProbe ReadWakeProbe(const std::string& path) {
    WakeProbe probe;
    std::ifstream file(path);
    std::string key;
    bool stalls = false;
    bool worst = false;
    while (file >> key) {
        if (key == "stalls") stalls = static_cast<bool>(file >> probe.stalls);
        if (key == "worst_ms") worst = static_cast<bool>(file >> probe.worstMs);
    }
    probe.known = stalls && worst;
    return probe;
}

RunFigures ReadRunFigures(const std::string& path, double ticksPerSecond) {
    RunFigures figures;
    std::ifstream file(path);
    if (!file) return figures;
    struct Block {
        uint32_t n;
        double wakeMs;
        long long cursorBytes;
    };
    std::vector<Block> blocks;
    std::vector<double> emptyWakeMs;
    std::vector<double> targetFrames;
    std::vector<double> reportedFrames;
    double playedNs = 0.0;
    long long clientTicks = -1;
    long long serverTicks = 0;
    bool serversKnown = true;
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream in(line);
        std::string key;
        in >> key;
        if (key == "contender") {
            in >> figures.contender;
        } else if (key == "block_frames") {
            in >> figures.blockFrames;
        } else if (key == "tone_blocks") {
            in >> figures.toneBlocks;
        } else if (key == "played_ns") {
            in >> playedNs;
        } else if (key == "play_realtime_ns") {
            long long ns = 0;
            if (in >> ns) figures.playRealtimeNs = ns;
        } else if (key == "streams") {
            in >> figures.streams;
        } else if (key == "events") {
            in >> figures.events;
        } else if (key == "cpu_ticks") {
            std::string who;
            long long ticks = -1;
            in >> who >> ticks;
            if (who == "self") {
                clientTicks = ticks;
            } else if (ticks < 0) {
                serversKnown = false;
            } else {
                serverTicks += ticks;
            }
        } else if (key == "failure") {
            std::string what;
            std::getline(in, what);
            figures.failures.push_back(what);
        } else if (key == "block") {
            Block b{};
            long long wakeNs = 0;
            in >> b.n >> wakeNs >> b.cursorBytes;
            b.wakeMs = static_cast<double>(wakeNs) / 1e6;
            blocks.push_back(b);
        } else if (key == "wake_empty") {
            long long wakeNs = 0;
            if (in >> wakeNs) emptyWakeMs.push_back(static_cast<double>(wakeNs) / 1e6);
        } else if (key == "output_latency") {
            long long atNs = 0;
            double target = 0.0;
            double reported = 0.0;
            if (in >> atNs >> target) targetFrames.push_back(target);
            // 0: the server had reported nothing yet.
            if (in >> reported && reported > 0.0) reportedFrames.push_back(reported);
        }
    }
    if (figures.blockFrames == 0) return figures;
    figures.readable = true;
    figures.blocks = static_cast<uint32_t>(blocks.size());
    figures.playedSeconds = playedNs / 1e9;
    if (clientTicks >= 0 && serversKnown && figures.playedSeconds > 0.0) {
        figures.cpuKnown = true;
        const double perSecond = 1000.0 / ticksPerSecond / figures.playedSeconds;
        figures.cpuClient = static_cast<double>(clientTicks) * perSecond;
        figures.cpuServers = static_cast<double>(serverTicks) * perSecond;
    }

    if (!targetFrames.empty()) {
        figures.targetKnown = true;
        figures.targetP50 = Percentile(targetFrames, 0.50) * 1000.0 / kRate;
        figures.targetLast = targetFrames.back() * 1000.0 / kRate;
    }
    if (!reportedFrames.empty()) {
        figures.reportedKnown = true;
        figures.reportedP50 = Percentile(reportedFrames, 0.50) * 1000.0 / kRate;
    }

    const double blockMs = BlockMs(figures.blockFrames);
    const double settledMs = kSettledSeconds * 1000.0;
    // Only a run whose blocks got past the settling time has a settled part.
    figures.settledKnown = !blocks.empty() && blocks.back().n * blockMs > settledMs &&
                           figures.toneBlocks * blockMs > settledMs;
    for (double ms : emptyWakeMs) {
        if (ms >= settledMs) ++figures.eventsOffSettled;
    }
    const double bytesPerMs = kRate * kFrameBytes / 1000.0;
    std::vector<double> offsets;
    std::vector<double> cursor;
    std::vector<double> periods;
    double previousWake = 0.0;
    bool havePrevious = false;
    figures.hasCursor = true;
    for (const Block& b : blocks) {
        if (b.n <= kWarmupBlocks) continue;
        offsets.push_back(b.wakeMs - b.n * blockMs);
        if (b.cursorBytes < 0) {
            figures.hasCursor = false;
        } else {
            cursor.push_back(static_cast<double>(b.cursorBytes) / bytesPerMs);
        }
        if (havePrevious) periods.push_back(b.wakeMs - previousWake);
        if (havePrevious && b.wakeMs == previousWake && b.n * blockMs >= settledMs) {
            ++figures.eventsOffSettled;
        }
        previousWake = b.wakeMs;
        havePrevious = true;
    }
    figures.timed = offsets.size() > 1;
    if (figures.timed) {
        const double start = *std::min_element(offsets.begin(), offsets.end());
        for (double& o : offsets) o -= start;
        figures.clockP50 = Percentile(offsets, 0.50);
        figures.clockP99 = Percentile(offsets, 0.99);
    }
    figures.hasCursor = figures.hasCursor && !cursor.empty();
    if (figures.hasCursor) {
        figures.cursorP50 = Percentile(cursor, 0.50);
        figures.cursorP99 = Percentile(cursor, 0.99);
    }
    if (periods.size() > 1) {
        double mean = 0.0;
        for (double p : periods) mean += p;
        mean /= static_cast<double>(periods.size());
        double square = 0.0;
        for (double p : periods) square += (p - mean) * (p - mean);
        figures.jitter = std::sqrt(square / static_cast<double>(periods.size() - 1));
    }
    return figures;
}

}  // namespace compare
