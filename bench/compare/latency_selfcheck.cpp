#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "run_figures.h"

namespace compare {

int CheckSinkLatencyReader() {
    struct Case {
        const char* name;
        const char* lines;
        uint32_t samples;
        bool reported;
        double p50;
        const char* smallestNode;  // "" for none
        uint32_t byOnlyStream;
    };
    const std::vector<Case> cases = {
        {"pulseaudio, two streams",
         "500 20000 2000 - pid 10\n500 30000 2000 - pid 11\n1000 25000 1000 - pid 10\n", 3, true,
         26.0, "", 0},
        {"pipewire reports 0, node latencies",
         "500 0 0 810/48000 pid 7\n1000 0 0 256/48000 pid 7\n1500 0 0 3600/48000 pid 7\n", 3, false,
         0.0, "256/48000", 0},
        {"the shortest node in time, not in frames",
         "500 0 0 256/48000 pid 7\n500 0 0 240/22050 pid 8\n", 2, false, 0.0, "256/48000", 0},
        {"matched as the only stream", "500 0 0 512/48000 only \n500 10000 0 - only 9\n", 2, true,
         0.0, "512/48000", 2},
        {"lines of another form are skipped",
         "500 20000 2000 pid 10\n\nlatency 1 2\n500 20000 2000 - pid 10\n", 1, true, 22.0, "", 0},
    };
    int wrong = 0;
    for (const Case& c : cases) {
        std::istringstream lines(c.lines);
        const SinkLatency found = ParseSinkLatency(lines);
        const std::string node = found.smallestNode.frames == 0 ? "" : found.smallestNode.Text();
        const bool ok = found.samples == c.samples && found.reported == c.reported &&
                        std::fabs(found.p50 - c.p50) < 1e-9 && node == c.smallestNode &&
                        found.byOnlyStream == c.byOnlyStream;
        std::printf(
            "  %-42s samples %u (want %u), reported %d (want %d), p50 %.1f (want %.1f), "
            "node '%s' (want '%s'), only %u (want %u)%s\n",
            c.name, found.samples, c.samples, found.reported, c.reported, found.p50, c.p50,
            node.c_str(), c.smallestNode, found.byOnlyStream, c.byOnlyStream, ok ? "" : "  WRONG");
        if (!ok) ++wrong;
    }
    return wrong;
}

}  // namespace compare

namespace compare {

int CheckEarLatencyReader() {
    struct Case {
        const char* name;
        const char* onset;
        bool known;
        double ms;
    };
    // Wall-clock times are near 1.7e18 ns, where a double has no ns left:
    // the difference must be taken before the conversion.
    const long long play = 1700000000000000000;
    const std::vector<Case> cases = {
        {"onset 23.5 ms after Play",
         "listening_realtime_ns 1699999999900000000\nonset_realtime_ns 1700000000023500000\n", true,
         23.5},
        {"the probe heard no onset", "listening_realtime_ns 1699999999900000000\n", false, 0.0},
    };
    int wrong = 0;
    for (const Case& c : cases) {
        std::istringstream onset(c.onset);
        const EarLatency found = ParseEarLatency(onset, play);
        const bool ok = found.known == c.known && std::fabs(found.ms - c.ms) < 1e-6;
        std::printf("  %-42s known %d (want %d), %.6f ms (want %.6f)%s\n", c.name, found.known,
                    c.known, found.ms, c.ms, ok ? "" : "  WRONG");
        if (!ok) ++wrong;
    }
    return wrong;
}

}  // namespace compare
