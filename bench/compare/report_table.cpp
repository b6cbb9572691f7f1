#include "report_table.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "targets.h"

namespace compare {

namespace {

std::string Cell(double v, int decimals) {
    if (std::isnan(v)) return "-";
    if (std::isinf(v)) return "inf";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

// Only the smallest gap-free block is ever infinite: there was none.
std::string ValueCell(double v, int decimals) { return std::isinf(v) ? "none" : Cell(v, decimals); }

double Ratio(double a, double b) {
    if (std::isnan(a) || std::isnan(b) || std::isinf(a) || std::isinf(b)) return kNone;
    if (b == 0.0) return a == 0.0 ? kNone : std::numeric_limits<double>::infinity();
    return a / b;
}

std::string Shown(const Verdict& verdict) {
    if (!verdict.judged) return "-";
    if (verdict.misses.empty()) return "ok";
    std::string text = "MISS ";
    for (size_t i = 0; i < verdict.misses.size(); ++i) {
        text += (i == 0 ? "" : ", ") + verdict.misses[i];
    }
    return text;
}

std::string Label(const std::vector<BlockLength>& blocks, uint32_t frames) {
    for (const BlockLength& b : blocks) {
        if (b.frames == frames) return b.label + " ms";
    }
    return "";
}

}  // namespace

void PrintRunDetails(const Runs& runs, const std::vector<BlockLength>& blocks) {
    std::printf("%-5s %7s %7s %8s %12s %12s %9s %8s %7s %9s %9s %11s %9s  %s\n", "run", "block",
                "events", "played s", "tone frames", "expected", "silences", "silent ms", "breaks",
                "cpu cli", "cpu srv", "stalls", "sink n/1", "failures");
    for (const char* who : kContenderNames) {
        for (const BlockLength& block : blocks) {
            const Run* run = FindRun(runs, who, block.frames);
            if (run == nullptr) {
                const auto c = runs.find(who);
                const bool ran = c != runs.end() && c->second.count(block.frames) != 0 &&
                                 c->second.at(block.frames).ran;
                std::printf("%-5s %4s ms  %s\n", who, block.label.c_str(),
                            ran ? "no log (the run failed; see its .out file)" : "not run");
                continue;
            }
            const RunFigures& f = run->figures;
            const CaptureFaults& c = run->faults;
            std::string failures;
            for (const std::string& text : f.failures) failures += text + ";";
            char stalls[32] = "-";
            if (run->probe.known) {
                std::snprintf(stalls, sizeof stalls, "%llu/%.0f", run->probe.stalls,
                              run->probe.worstMs);
            }
            char sink[32];
            std::snprintf(sink, sizeof sink, "%u/%u", run->sink.samples, run->sink.byOnlyStream);
            std::printf("%-5s %4s ms %7u %8.2f %12llu %12llu %9u %8.1f %7u %9s %9s %11s %9s  %s\n",
                        who, block.label.c_str(), f.blocks, f.playedSeconds,
                        static_cast<unsigned long long>(c.toneFrames),
                        static_cast<unsigned long long>(f.toneBlocks) * block.frames, c.silences,
                        c.silentMs, c.phaseBreaks,
                        Cell(f.cpuKnown ? f.cpuClient : kNone, 2).c_str(),
                        Cell(f.cpuKnown ? f.cpuServers : kNone, 2).c_str(), stalls, sink,
                        c.readable ? failures.c_str() : "no capture");
        }
    }
}

int PrintTable(const Runs& runs, const std::vector<BlockLength>& blocks) {
    std::vector<uint32_t> frames;
    frames.reserve(blocks.size());
    for (const BlockLength& b : blocks) frames.push_back(b.frames);
    // Every figure first; the targets judge the finished rows.
    const std::vector<TableRow> rows = BuildRows(runs, frames);

    int missed = 0;
    std::printf("%-42s %8s %9s %9s %9s %10s %10s  %s\n", "figure (lower is better)", "block",
                "mivo", "wine", "sdl2", "mivo/wine", "mivo/sdl2", "targets");
    for (const TableRow& row : rows) {
        const Verdict verdict = Judge(row);
        missed += static_cast<int>(verdict.misses.size());
        const int decimals = FigureDecimals(row.figure);
        const double* v = row.values.data();
        std::printf("%-42s %8s %9s %9s %9s %10s %10s  %s\n", FigureName(row.figure),
                    Label(blocks, row.blockFrames).c_str(), ValueCell(v[kMivo], decimals).c_str(),
                    ValueCell(v[kWine], decimals).c_str(), ValueCell(v[kSdl2], decimals).c_str(),
                    Cell(Ratio(v[kMivo], v[kWine]), 2).c_str(),
                    Cell(Ratio(v[kMivo], v[kSdl2]), 2).c_str(), Shown(verdict).c_str());
    }
    return missed;
}

}  // namespace compare
