// Reads the logs and captures of one comparison run and prints the table.
//
//   mivo-compare-report [--idle-server MS_PER_S] DIR BLOCK_MS...
//   mivo-compare-report --streams "N..." [--idle-server MS_PER_S]
//                       [--idle-graph FRAMES/RATE] DIR BLOCK_MS...
//   mivo-compare-report --self-check
//
// --idle-server: what the sound server spends with the capture running and
// nothing playing; it is taken off every run's server CPU, so that the
// figure is what the contender costs.
// --streams: the runs of several streams at once, one table row per block
// length, number of streams and contender.
// --idle-graph: on PipeWire, the smallest node.latency in the graph with
// only the capture running.
// DIR holds <contender>-<ms>ms.log (written by the client) and
// <contender>-<ms>ms.raw (the sink's monitor while it played) for the
// contenders mivo, wine and sdl2, <contender>-<ms>ms.wake when
// mivo-compare-wake-probe ran beside it and <contender>-<ms>ms.latency when
// the server's latency of its stream was sampled, <contender>-<ms>ms.onset
// when mivo-compare-onset listened for its first sound; with --streams the files
// are <contender>-<ms>ms-<N>streams.*. BLOCK_MS may be fractional (2.5) and
// names the files as given.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "report_table.h"
#include "streams_table.h"
#include "workload.h"

namespace {

using namespace compare;

bool ParseStreams(std::string list, std::vector<uint32_t>& streams) {
    for (char& c : list) {
        if (c == ',') c = ' ';
    }
    std::istringstream in(list);
    long n = 0;
    while (in >> n) {
        if (n < 1 || n > static_cast<long>(kMaxStreams)) return false;
        streams.push_back(static_cast<uint32_t>(n));
    }
    return in.eof() && !streams.empty();
}

int Usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--streams \"N...\"] [--idle-server MS_PER_S] "
                 "[--idle-graph FRAMES/RATE] DIR BLOCK_MS... | --self-check\n",
                 program);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--self-check") {
        std::printf("capture analysis on made-up captures:\n");
        const int tone = CheckToneFaultFinder();
        std::printf("the server's latency samples, made up:\n");
        const int sink = CheckSinkLatencyReader();
        std::printf("the onset probe's files, made up:\n");
        return tone + sink + CheckEarLatencyReader() == 0 ? 0 : 1;
    }
    double idleServer = 0.0;
    NodeLatency idleGraph;
    std::vector<uint32_t> streams;
    int at = 1;
    for (; at + 1 < argc && std::string(argv[at]).rfind("--", 0) == 0; at += 2) {
        const std::string option = argv[at];
        const char* value = argv[at + 1];
        if (option == "--idle-server") {
            idleServer = std::atof(value);
        } else if (option == "--idle-graph") {
            if (!idleGraph.Parse(value)) return Usage(argv[0]);
        } else if (option == "--streams") {
            if (!ParseStreams(value, streams)) return Usage(argv[0]);
        } else {
            return Usage(argv[0]);
        }
    }
    if (argc - at < 2) return Usage(argv[0]);
    const std::string dir = argv[at];
    std::vector<BlockLength> blocks;
    for (int i = at + 1; i < argc; ++i) {
        const BlockLength block{argv[i], BlockFrames(std::atof(argv[i]))};
        if (block.frames == 0) {
            std::fprintf(stderr, "%s ms is not a whole number of frames\n", argv[i]);
            return 2;
        }
        blocks.push_back(block);
    }
    const long tick = ::sysconf(_SC_CLK_TCK);
    const double ticksPerSecond = tick > 0 ? static_cast<double>(tick) : 100.0;

    if (!streams.empty()) {
        PrintStreamsTable(dir, blocks, streams, {ticksPerSecond, idleServer, idleGraph});
        return 0;
    }
    Runs runs;
    for (const char* who : kContenderNames) {
        for (const BlockLength& block : blocks) {
            const std::string stem = dir + "/" + who + "-" + block.label + "ms";
            runs[who][block.frames] = ReadRun(stem, ticksPerSecond, idleServer);
        }
    }
    PrintRunDetails(runs, blocks);
    std::printf(
        "stalls: wake-ups of a plain 5 ms sleeper beside the run 15 ms or more late, "
        "and the latest (ms)\n"
        "sink n/1: samples of the server's latency for the stream, and how many of them were "
        "matched as the only stream rather than by process\n");
    std::printf("\nidle sound server with the capture running: %.2f ms/s, taken off the CPU rows\n",
                idleServer);
    std::printf(
        "settled: from %.0f s into the tone on; '-' where the run did not go on that long\n",
        kSettledSeconds);
    std::printf("\n");
    const int missed = PrintTable(runs, blocks);
    std::printf("\ntarget checks missed: %d\n", missed);
    return 0;
}
