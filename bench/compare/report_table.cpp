#include "report_table.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

#include "workload.h"

namespace compare {

namespace {

constexpr const char* kContenders[] = {"mivo", "wine", "sdl2"};
constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

// Targets a row is held to, beyond "no worse than Wine", which every row is.
enum Target : unsigned {
    kHalfOfWine = 1,  // at most half of Wine's figure
    kNearSdl = 2,     // at most 1.5 times bare SDL2's
    kNoGap = 4,       // zero
};

struct Row {
    std::string name;
    int blockMs;  // 0: not tied to one block length
    std::function<double(const Run&)> value;
    unsigned targets;
};

const Run* Find(const Runs& runs, const std::string& who, int blockMs) {
    const auto c = runs.find(who);
    if (c == runs.end()) return nullptr;
    const auto r = c->second.find(blockMs);
    if (r == c->second.end() || !r->second.present || !r->second.figures.readable) return nullptr;
    return &r->second;
}

std::string Cell(double v, int decimals) {
    if (std::isnan(v)) return "-";
    if (std::isinf(v)) return "inf";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

double Ratio(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return kNone;
    if (b == 0.0) return a == 0.0 ? kNone : std::numeric_limits<double>::infinity();
    return a / b;
}

bool GapFree(const Run& run) {
    return run.faults.readable && run.figures.failures.empty() && run.faults.toneFrames > 0 &&
           run.faults.Gaps() == 0;
}

}  // namespace

void PrintRunDetails(const Runs& runs, const std::vector<int>& blockMs) {
    std::printf("%-5s %6s %7s %8s %12s %12s %9s %8s %7s %9s %9s %11s  %s\n", "run", "block",
                "events", "played s", "tone frames", "expected", "silences", "silent ms", "breaks",
                "cpu cli", "cpu srv", "stalls", "failures");
    for (const char* who : kContenders) {
        for (int ms : blockMs) {
            const Run* run = Find(runs, who, ms);
            if (run == nullptr) {
                std::printf("%-5s %4d ms  no log (the run failed; see its .out file)\n", who, ms);
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
            std::printf(
                "%-5s %4d ms %7u %8.2f %12llu %12llu %9u %8.1f %7u %9s %9s %11s  %s\n", who, ms,
                f.blocks, f.playedSeconds, static_cast<unsigned long long>(c.toneFrames),
                static_cast<unsigned long long>(f.toneBlocks) * BlockFrames(ms), c.silences,
                c.silentMs, c.phaseBreaks, Cell(f.cpuKnown ? f.cpuClient : kNone, 2).c_str(),
                Cell(f.cpuKnown ? f.cpuServers : kNone, 2).c_str(), stalls,
                c.readable ? failures.c_str() : "no capture");
        }
    }
}

int PrintTable(const Runs& runs, const std::vector<int>& blockMs) {
    std::vector<Row> rows;
    for (int ms : blockMs) {
        const unsigned gapTarget = ms <= 5 ? static_cast<unsigned>(kNoGap) : 0u;
        rows.push_back({"event latency p50, clock (ms)", ms,
                        [](const Run& r) { return r.figures.clockP50; }, 0});
        rows.push_back({"event latency p99, clock (ms)", ms,
                        [](const Run& r) { return r.figures.clockP99; }, kHalfOfWine});
        rows.push_back(
            {"event latency p50, cursor (ms)", ms,
             [](const Run& r) { return r.figures.hasCursor ? r.figures.cursorP50 : kNone; }, 0});
        rows.push_back(
            {"event latency p99, cursor (ms)", ms,
             [](const Run& r) { return r.figures.hasCursor ? r.figures.cursorP99 : kNone; },
             kHalfOfWine});
        rows.push_back(
            {"event period jitter, sd (ms)", ms, [](const Run& r) { return r.figures.jitter; }, 0});
        rows.push_back({"CPU, client+servers-idle (ms/s)", ms,
                        [](const Run& r) { return r.figures.cpuKnown ? r.figures.Cpu() : kNone; },
                        kHalfOfWine | kNearSdl});
        rows.push_back({"silences > 1 ms (count)", ms,
                        [](const Run& r) {
                            return r.faults.readable ? static_cast<double>(r.faults.silences)
                                                     : kNone;
                        },
                        gapTarget});
        rows.push_back({"sine phase breaks (count)", ms,
                        [](const Run& r) {
                            return r.faults.readable ? static_cast<double>(r.faults.phaseBreaks)
                                                     : kNone;
                        },
                        gapTarget});
    }

    int missed = 0;
    std::printf("%-32s %6s %9s %9s %9s %10s %10s  %s\n", "figure (lower is better)", "block",
                "mivo", "wine", "sdl2", "mivo/wine", "mivo/sdl2", "targets");
    const auto verdict = [&missed](double mivo, double wine, double sdl, unsigned targets) {
        std::string text;
        const auto miss = [&](const char* what) {
            text += text.empty() ? "MISS " : ", ";
            text += what;
            ++missed;
        };
        if (std::isnan(mivo)) {
            if (!std::isnan(wine)) miss("no figure");
            return text.empty() ? std::string("-") : text;
        }
        if (!std::isnan(wine) && mivo > wine) miss("worse than wine");
        if ((targets & kHalfOfWine) != 0 && !std::isnan(wine) && mivo > 0.5 * wine) {
            miss("over half of wine");
        }
        if ((targets & kNearSdl) != 0 && !std::isnan(sdl) && mivo > 1.5 * sdl)
            miss("over 1.5x sdl2");
        if ((targets & kNoGap) != 0 && mivo != 0.0) miss("gaps");
        return text.empty() ? std::string("ok") : text;
    };
    for (const Row& row : rows) {
        double v[3];
        for (int i = 0; i < 3; ++i) {
            const Run* run = Find(runs, kContenders[i], row.blockMs);
            v[i] = run != nullptr ? row.value(*run) : kNone;
        }
        const int decimals = row.name.find("count") != std::string::npos ? 0 : 2;
        std::printf("%-32s %3d ms %9s %9s %9s %10s %10s  %s\n", row.name.c_str(), row.blockMs,
                    Cell(v[0], decimals).c_str(), Cell(v[1], decimals).c_str(),
                    Cell(v[2], decimals).c_str(), Cell(Ratio(v[0], v[1]), 2).c_str(),
                    Cell(Ratio(v[0], v[2]), 2).c_str(),
                    verdict(v[0], v[1], v[2], row.targets).c_str());
    }

    // The smallest block length whose run had no gap at all.
    double smallest[3];
    for (int i = 0; i < 3; ++i) {
        smallest[i] = std::numeric_limits<double>::infinity();
        for (int ms : blockMs) {
            const Run* run = Find(runs, kContenders[i], ms);
            if (run != nullptr && GapFree(*run) && ms < smallest[i]) smallest[i] = ms;
        }
    }
    const auto shown = [](double v) { return std::isinf(v) ? std::string("none") : Cell(v, 0); };
    std::string gapVerdict;
    if (smallest[0] > smallest[1]) gapVerdict = "MISS worse than wine";
    if (smallest[0] > 5.0)
        gapVerdict += gapVerdict.empty() ? "MISS gaps at 5 ms" : ", gaps at 5 ms";
    if (!gapVerdict.empty()) ++missed;
    std::printf("%-32s %6s %9s %9s %9s %10s %10s  %s\n", "smallest gap-free block (ms)", "",
                shown(smallest[0]).c_str(), shown(smallest[1]).c_str(), shown(smallest[2]).c_str(),
                "", "", gapVerdict.empty() ? "ok" : gapVerdict.c_str());
    return missed;
}

}  // namespace compare
