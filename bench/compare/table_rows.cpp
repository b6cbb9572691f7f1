#include "table_rows.h"

#include <cmath>
#include <fstream>
#include <limits>

#include "workload.h"

namespace compare {

namespace {

// Faults in the capture from kSettledSeconds into the tone on, where the
// capture's tone went on that long.
double Settled(const Run& r, const std::vector<uint64_t>& at) {
    const auto settled = static_cast<uint64_t>(kSettledSeconds * kRate);
    if (!r.faults.readable || !r.figures.settledKnown || r.faults.toneFrames <= settled) {
        return kNone;
    }
    return CountFrom(at, settled);
}

struct FigureInfo {
    Figure figure;
    int decimals;
    const char* name;
    double (*value)(const Run&);  // null: not a per-run figure
};

// In the table's order.
const FigureInfo kFigures[] = {
    {Figure::kClockP50, 2, "event latency p50, clock (ms)",
     [](const Run& r) { return r.figures.timed ? r.figures.clockP50 : kNone; }},
    {Figure::kClockP99, 2, "event latency p99, clock (ms)",
     [](const Run& r) { return r.figures.timed ? r.figures.clockP99 : kNone; }},
    {Figure::kCursorP50, 2, "event latency p50, cursor (ms)",
     [](const Run& r) { return r.figures.hasCursor ? r.figures.cursorP50 : kNone; }},
    {Figure::kCursorP99, 2, "event latency p99, cursor (ms)",
     [](const Run& r) { return r.figures.hasCursor ? r.figures.cursorP99 : kNone; }},
    {Figure::kJitter, 2, "event period jitter, sd (ms)",
     [](const Run& r) { return r.figures.timed ? r.figures.jitter : kNone; }},
    {Figure::kEventsOffSettled, 0, "events not one per block, settled (count)",
     [](const Run& r) {
         return r.figures.settledKnown ? static_cast<double>(r.figures.eventsOffSettled) : kNone;
     }},
    {Figure::kSinkLatencyP50, 2, "latency to the sink p50 (ms)",
     [](const Run& r) { return r.sink.reported ? r.sink.p50 : kNone; }},
    {Figure::kSinkLatencyP99, 2, "latency to the sink p99 (ms)",
     [](const Run& r) { return r.sink.reported ? r.sink.p99 : kNone; }},
    {Figure::kEarLatency, 1, "latency Play to ear (ms)",
     [](const Run& r) { return r.ear.known ? r.ear.ms : kNone; }},
    {Figure::kMivoTargetP50, 2, "mivo target p50 (ms)",
     [](const Run& r) { return r.figures.targetKnown ? r.figures.targetP50 : kNone; }},
    {Figure::kMivoTargetLast, 2, "mivo target, last (ms)",
     [](const Run& r) { return r.figures.targetKnown ? r.figures.targetLast : kNone; }},
    {Figure::kCpu, 2, "CPU, client+servers-idle (ms/s)",
     [](const Run& r) { return r.figures.cpuKnown ? r.figures.Cpu() : kNone; }},
    {Figure::kSilences, 0, "silences > 1 ms (count)",
     [](const Run& r) {
         return r.faults.readable ? static_cast<double>(r.faults.silences) : kNone;
     }},
    {Figure::kSilencesSettled, 0, "silences > 1 ms, settled (count)",
     [](const Run& r) { return Settled(r, r.faults.silenceAt); }},
    {Figure::kBreaks, 0, "sine phase breaks (count)",
     [](const Run& r) {
         return r.faults.readable ? static_cast<double>(r.faults.phaseBreaks) : kNone;
     }},
    {Figure::kBreaksSettled, 0, "sine phase breaks, settled (count)",
     [](const Run& r) { return Settled(r, r.faults.breakAt); }},
    {Figure::kSmallestGapFree, 1, "smallest gap-free block (ms)", nullptr},
};

const FigureInfo& Info(Figure figure) {
    for (const FigureInfo& info : kFigures) {
        if (info.figure == figure) return info;
    }
    return kFigures[0];
}

bool GapFree(const Run& run) {
    return run.faults.readable && run.figures.failures.empty() && run.faults.toneFrames > 0 &&
           run.faults.Gaps() == 0;
}

}  // namespace

Run ReadRun(const std::string& stem, double ticksPerSecond, double idleServer) {
    Run run;
    run.figures = ReadRunFigures(stem + ".log", ticksPerSecond);
    run.figures.idleServer = idleServer;
    run.present = run.figures.readable;
    if (run.present) run.faults = AnalyseCapture(stem + ".raw");
    run.ran = std::ifstream(stem + ".out").good();
    run.probe = ReadWakeProbe(stem + ".wake");
    run.sink = ReadSinkLatency(stem + ".latency");
    run.ear = ReadEarLatency(stem + ".onset", run.figures.playRealtimeNs);
    return run;
}

const Run* FindRun(const Runs& runs, const std::string& who, uint32_t blockFrames) {
    const auto c = runs.find(who);
    if (c == runs.end()) return nullptr;
    const auto r = c->second.find(blockFrames);
    if (r == c->second.end() || !r->second.present || !r->second.figures.readable) return nullptr;
    return &r->second;
}

const char* FigureName(Figure figure) { return Info(figure).name; }

int FigureDecimals(Figure figure) { return Info(figure).decimals; }

std::vector<TableRow> BuildRows(const Runs& runs, const std::vector<uint32_t>& blockFrames) {
    std::vector<TableRow> rows;
    for (uint32_t frames : blockFrames) {
        for (const FigureInfo& info : kFigures) {
            if (info.value == nullptr) continue;
            TableRow row{info.figure, frames, {}, {}};
            for (size_t c = 0; c < kContenderCount; ++c) {
                const Run* run = FindRun(runs, kContenderNames[c], frames);
                row.values[c] = run != nullptr ? info.value(*run) : kNone;
                row.failed[c] = run != nullptr && !run->figures.failures.empty();
            }
            rows.push_back(row);
        }
    }
    TableRow smallest{Figure::kSmallestGapFree, 0, {}, {}};
    for (size_t c = 0; c < kContenderCount; ++c) {
        // Infinite when every run had a gap; none at all for a contender that
        // did not run.
        smallest.values[c] = kNone;
        for (uint32_t frames : blockFrames) {
            const Run* run = FindRun(runs, kContenderNames[c], frames);
            if (run == nullptr) continue;
            double& v = smallest.values[c];
            if (std::isnan(v)) v = std::numeric_limits<double>::infinity();
            if (GapFree(*run) && BlockMs(frames) < v) v = BlockMs(frames);
        }
    }
    rows.push_back(smallest);
    return rows;
}

}  // namespace compare
