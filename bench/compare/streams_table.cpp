#include "streams_table.h"

#include <cmath>
#include <cstdio>
#include <fstream>

#include "table_rows.h"

namespace compare {

namespace {

std::string Cell(bool known, double v, int decimals) {
    if (!known || std::isnan(v)) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

// The graph runs at the smallest node.latency of all its nodes: the
// contender's streams' and the capture's.
std::string Graph(const Run& run, const NodeLatency& idle) {
    NodeLatency graph = idle;
    graph.KeepSmaller(run.sink.smallestNode);
    return graph.frames == 0 ? "-" : graph.Text();
}

std::string Failures(const RunFigures& f) {
    if (f.failures.empty()) return "";
    std::string text = f.failures.front();
    if (f.failures.size() > 1) text += " (+" + std::to_string(f.failures.size() - 1) + " more)";
    return text;
}

// A run that left no log says why in the first line of its output (SDL2
// opens 16 devices at most, say).
std::string WhyNoLog(const std::string& stem) {
    std::ifstream out(stem + ".out");
    std::string line;
    std::getline(out, line);
    return "no log: " + (line.empty() ? "the run failed; see its .out file" : line);
}

void PrintRow(const std::string& label, uint32_t n, const char* who, const std::string& stem,
              const StreamsSetting& setting) {
    const Run run = ReadRun(stem, setting.ticksPerSecond, setting.idleServer);
    std::printf("%6s %7u %-5s ", label.c_str(), n, who);
    if (!run.present || !run.figures.readable) {
        std::printf("%s\n", run.ran ? WhyNoLog(stem).c_str() : "not run");
        return;
    }
    const RunFigures& f = run.figures;
    const CaptureFaults& c = run.faults;
    char events[48];
    std::snprintf(events, sizeof events, "%llu/%llu", static_cast<unsigned long long>(f.events),
                  static_cast<unsigned long long>(f.EventsExpected()));
    char stalls[32] = "-";
    if (run.probe.known) {
        std::snprintf(stalls, sizeof stalls, "%llu/%.0f", run.probe.stalls, run.probe.worstMs);
    }
    std::printf("%15s %8.2f %8s %8s %8s %8s %7s %8s %8s %8s %8s %12s %8s  %s\n", events,
                f.playedSeconds, Cell(f.cpuKnown, f.cpuClient, 1).c_str(),
                Cell(f.cpuKnown, f.ServersCpu(), 1).c_str(),
                Cell(c.readable, c.silences, 0).c_str(), Cell(c.readable, c.silentMs, 1).c_str(),
                Cell(c.readable, c.phaseBreaks, 0).c_str(), Cell(f.timed, f.clockP99, 2).c_str(),
                Cell(run.sink.reported, run.sink.p50, 1).c_str(),
                Cell(f.reportedKnown, f.reportedP50, 1).c_str(),
                Cell(run.ear.known, run.ear.ms, 1).c_str(), Graph(run, setting.idleGraph).c_str(),
                stalls, c.readable ? Failures(f).c_str() : "no capture");
}

}  // namespace

void PrintStreamsTable(const std::string& dir, const std::vector<BlockLength>& blocks,
                       const std::vector<uint32_t>& streams, const StreamsSetting& setting) {
    std::printf("idle sound server with the capture running: %.2f ms/s, taken off 'servers'\n",
                setting.idleServer);
    if (setting.idleGraph.frames != 0) {
        std::printf("smallest node.latency in the graph with the capture alone: %s (%.1f ms)\n",
                    setting.idleGraph.Text().c_str(), setting.idleGraph.Ms());
    }
    std::printf(
        "client, servers: CPU in ms per s of audio; events: block events seen over all "
        "streams / one per block of each;\n"
        "silences, silent ms, breaks: in the capture of stream 0 (the others play "
        "silence); ev p99: stream 0's event latency p99, clock (ms);\n"
        "lat srv: the server's Buffer + Sink Latency p50 over all the streams (ms; '-' where "
        "it reports 0); lat cli: mivo's device's own reading of it, stream 0 (ms);\n"
        "lat ear: from stream 0's Play to its first sound at the sink's monitor, one "
        "sample (ms);\n"
        "node.latency: the smallest in the graph while it ran (PipeWire); stalls: the "
        "machine's, count/worst ms\n\n");
    std::printf("%6s %7s %-5s %15s %8s %8s %8s %8s %8s %7s %8s %8s %8s %8s %12s %8s  %s\n", "block",
                "streams", "run", "events", "played s", "client", "servers", "silences",
                "silent ms", "breaks", "ev p99", "lat srv", "lat cli", "lat ear", "node.latency",
                "stalls", "failures");
    for (const BlockLength& block : blocks) {
        for (const uint32_t n : streams) {
            for (const char* who : kContenderNames) {
                const std::string stem =
                    dir + "/" + who + "-" + block.label + "ms-" + std::to_string(n) + "streams";
                PrintRow(block.label + " ms", n, who, stem, setting);
            }
        }
    }
}

}  // namespace compare
