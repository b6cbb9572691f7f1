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
// contenders mivo, wine and sdl2, and <contender>-<ms>ms.wake when
// mivo-compare-wake-probe ran beside it.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "report_table.h"

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
    std::vector<int> blockMs;
    for (int i = 2; i < argc; ++i) blockMs.push_back(std::atoi(argv[i]));
    const long tick = ::sysconf(_SC_CLK_TCK);
    const double ticksPerSecond = tick > 0 ? static_cast<double>(tick) : 100.0;

    Runs runs;
    for (const char* who : {"mivo", "wine", "sdl2"}) {
        for (int ms : blockMs) {
            const std::string stem = dir + "/" + who + "-" + std::to_string(ms) + "ms";
            Run& run = runs[who][ms];
            run.figures = ReadRunFigures(stem + ".log", ticksPerSecond);
            run.present = run.figures.readable;
            if (run.present) run.faults = AnalyseCapture(stem + ".raw");
            run.probe = ReadWakeProbe(stem + ".wake");
        }
    }
    for (auto& contender : runs) {
        for (auto& run : contender.second) run.second.figures.idleServer = idleServer;
    }
    PrintRunDetails(runs, blockMs);
    std::printf(
        "stalls: wake-ups of a plain 5 ms sleeper beside the run 15 ms or more late, "
        "and the latest (ms)\n");
    std::printf("\nidle sound server with the capture running: %.2f ms/s, taken off the CPU rows\n",
                idleServer);
    std::printf("\n");
    const int missed = PrintTable(runs, blockMs);
    std::printf("\ntarget checks missed: %d\n", missed);
    return 0;
}
