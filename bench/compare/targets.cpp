#include "targets.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "workload.h"

namespace compare {

namespace {

enum class Against { kLimit, kWine, kSdl2 };

enum class Rule {
    kAtMost,       // mivo <= factor * reference (against kLimit: mivo <= factor)
    kFewerOrNone,  // mivo < reference, or mivo == 0
};

struct Threshold {
    std::vector<Figure> figures;  // empty: every figure
    std::vector<double> atMs;     // block lengths it holds at; empty: all, and untied rows
    Against against;
    Rule rule;
    double factor;
    const char* miss;
};

// The one place where mivo's targets are set. Where a threshold compares
// with another contender, it is that contender in the same run of the
// script, so that both met the same machine.
const std::vector<Threshold>& Thresholds() {
    using F = Figure;
    static const std::vector<Threshold> table = {
        {{}, {}, Against::kWine, Rule::kAtMost, 1.0, "worse than wine"},
        {{F::kClockP99, F::kCursorP99, F::kCpu},
         {},
         Against::kWine,
         Rule::kAtMost,
         0.5,
         "over half of wine"},
        {{F::kCpu, F::kSinkLatencyP50}, {}, Against::kSdl2, Rule::kAtMost, 1.5, "over 1.5x sdl2"},
        {{F::kBreaks}, {}, Against::kLimit, Rule::kAtMost, 0.0, "phase breaks"},
        {{F::kSilences}, {5.0}, Against::kLimit, Rule::kAtMost, 0.0, "silences"},
        {{F::kSilences}, {}, Against::kWine, Rule::kFewerOrNone, 1.0, "not fewer than wine"},
        {{F::kSilences}, {}, Against::kSdl2, Rule::kFewerOrNone, 1.0, "not fewer than sdl2"},
        {{F::kSilencesSettled}, {2.5, 5.0, 10.0}, Against::kLimit, Rule::kAtMost, 0.0, "silences"},
        {{F::kBreaksSettled}, {2.5}, Against::kLimit, Rule::kAtMost, 0.0, "phase breaks"},
        {{F::kEventsOffSettled},
         {2.5},
         Against::kLimit,
         Rule::kAtMost,
         0.0,
         "not one event per block"},
        {{F::kSmallestGapFree}, {}, Against::kLimit, Rule::kAtMost, 5.0, "gaps at 5 ms"},
    };
    return table;
}

bool Applies(const Threshold& t, const TableRow& row) {
    const bool figure = t.figures.empty() || std::find(t.figures.begin(), t.figures.end(),
                                                       row.figure) != t.figures.end();
    if (!figure) return false;
    return t.atMs.empty() || std::any_of(t.atMs.begin(), t.atMs.end(), [&row](double ms) {
               return row.blockFrames != 0 && BlockFrames(ms) == row.blockFrames;
           });
}

}  // namespace

Verdict Judge(const TableRow& row) {
    Verdict verdict;
    const double mivo = row.values[kMivo];
    if (std::isnan(mivo)) {
        // A figure the others have and mivo lacks is a fault of mivo's run.
        const bool othersHave = !std::isnan(row.values[kWine]) || !std::isnan(row.values[kSdl2]);
        for (const Threshold& t : Thresholds()) {
            if (othersHave && Applies(t, row)) {
                verdict.judged = true;
                verdict.misses.emplace_back("no figure");
                break;
            }
        }
        return verdict;
    }
    for (const Threshold& t : Thresholds()) {
        if (!Applies(t, row)) continue;
        double limit = t.factor;
        if (t.against != Against::kLimit) {
            const Contender other = t.against == Against::kWine ? kWine : kSdl2;
            // A run that failed (Wine gives no events at 2.5 ms blocks) is no
            // yardstick: its CPU and latency are those of a stream that did
            // not do the work.
            const double reference = row.failed[other] ? kNone : row.values[other];
            if (std::isnan(reference)) continue;
            limit = t.factor * reference;
        }
        verdict.judged = true;
        const bool met = t.rule == Rule::kAtMost ? mivo <= limit : mivo < limit || mivo == 0.0;
        if (!met) verdict.misses.emplace_back(t.miss);
    }
    return verdict;
}

}  // namespace compare
