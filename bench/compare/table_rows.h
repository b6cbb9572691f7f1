// The table's figures, all computed from the runs before anything is
// judged: one row per figure and block length, one value per contender
// (NaN where a contender has none).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "capture_analysis.h"
#include "run_figures.h"

namespace compare {

// A figure a contender does not have.
constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

// The contenders, in the table's column order.
enum Contender : size_t { kMivo, kWine, kSdl2, kContenderCount };
constexpr const char* kContenderNames[kContenderCount] = {"mivo", "wine", "sdl2"};

struct Run {
    bool ran = false;      // the script started it (it left an output file)
    bool present = false;  // it left a readable log
    RunFigures figures;
    CaptureFaults faults;
    WakeProbe probe;
    SinkLatency sink;
    EarLatency ear;
};

// Runs by contender name and block length in frames.
using Runs = std::map<std::string, std::map<uint32_t, Run>>;

// Reads the files of one run, DIR/<contender>-<ms>ms (and a suffix for
// runs of several streams): .log, .raw, .out, .wake, .latency and .onset.
// `idleServer` is what the servers spend with nothing playing, in ms/s.
Run ReadRun(const std::string& stem, double ticksPerSecond, double idleServer);

// The run, when it left a readable log.
const Run* FindRun(const Runs& runs, const std::string& who, uint32_t blockFrames);

enum class Figure {
    kClockP50,
    kClockP99,
    kCursorP50,
    kCursorP99,
    kJitter,
    kEventsOffSettled,
    kSinkLatencyP50,
    kSinkLatencyP99,
    kEarLatency,
    kMivoTargetP50,
    kMivoTargetLast,
    kCpu,
    kSilences,
    kSilencesSettled,
    kBreaks,
    kBreaksSettled,
    kSmallestGapFree,
};

struct TableRow {
    Figure figure;
    uint32_t blockFrames;  // 0: not tied to one block length
    std::array<double, kContenderCount> values;
    // The contender's run ended in a failure (no events, say): its figures
    // are shown, but they describe a run that did not do the work.
    std::array<bool, kContenderCount> failed;
};

const char* FigureName(Figure figure);
int FigureDecimals(Figure figure);

std::vector<TableRow> BuildRows(const Runs& runs, const std::vector<uint32_t>& blockFrames);

}  // namespace compare
