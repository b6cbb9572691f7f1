// Reads the logs and captures of one comparison run and prints the table.
//
//   mivo-compare-report [--idle-server MS_PER_S] DIR BLOCK_MS...
//   mivo-compare-report --self-check
//
// --idle-server: what the sound server spends with the capture running and
// nothing playing; it is taken off every run's server CPU, so that the
// figure is what the contender costs.
// DIR holds <contender>-<ms>ms.log (written by the client) and
// <contender>-<ms>ms.raw (the sink's monitor while it played) for the
// contenders mivo, wine and sdl2, <contender>-<ms>ms.wake when
// mivo-compare-wake-probe ran beside it and <contender>-<ms>ms.latency when
// the server's latency of its stream was sampled. BLOCK_MS may be
// fractional (2.5) and names the files as given.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "report_table.h"
#include "workload.h"

int main(int argc, char** argv) {
    using namespace compare;
    if (argc == 2 && std::string(argv[1]) == "--self-check") {
        std::printf("capture analysis on made-up captures:\n");
        return CheckToneFaultFinder() == 0 ? 0 : 1;
    }
    double idleServer = 0.0;
    if (argc >= 3 && std::string(argv[1]) == "--idle-server") {
        idleServer = std::atof(argv[2]);
        argv += 2;
        argc -= 2;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s [--idle-server MS_PER_S] DIR BLOCK_MS... | --self-check\n",
                     argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    std::vector<BlockLength> blocks;
    for (int i = 2; i < argc; ++i) {
        const BlockLength block{argv[i], BlockFrames(std::atof(argv[i]))};
        if (block.frames == 0) {
            std::fprintf(stderr, "%s ms is not a whole number of frames\n", argv[i]);
            return 2;
        }
        blocks.push_back(block);
    }
    const long tick = ::sysconf(_SC_CLK_TCK);
    const double ticksPerSecond = tick > 0 ? static_cast<double>(tick) : 100.0;

    Runs runs;
    for (const char* who : kContenderNames) {
        for (const BlockLength& block : blocks) {
            const std::string stem = dir + "/" + who + "-" + block.label + "ms";
            Run& run = runs[who][block.frames];
            run.figures = ReadRunFigures(stem + ".log", ticksPerSecond);
            run.figures.idleServer = idleServer;
            run.present = run.figures.readable;
            if (run.present) run.faults = AnalyseCapture(stem + ".raw");
            run.ran = std::ifstream(stem + ".out").good();
            run.probe = ReadWakeProbe(stem + ".wake");
            run.sink = ReadSinkLatency(stem + ".latency");
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
