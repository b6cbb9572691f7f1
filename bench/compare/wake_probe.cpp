// How late a plain thread of this machine wakes: it sleeps to the next 5 ms
// boundary, over and over, and counts the wake-ups that came 15 ms or more
// late (three 5 ms blocks, when a four-block client can no longer tell
// which blocks have played) and the latest one. run.sh runs it beside each
// contender, so that a gap in a run can be set against what the machine did
// to every program at the time.
//
//   mivo-compare-wake-probe SECONDS OUT_FILE
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr int64_t kPeriodNs = 5000000;
constexpr int64_t kStallNs = 15000000;

int64_t Now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || std::atof(argv[1]) <= 0.0) {
        std::fprintf(stderr, "usage: %s SECONDS OUT_FILE\n", argv[0]);
        return 2;
    }
    const auto end = Now() + static_cast<int64_t>(std::atof(argv[1]) * 1e9);
    int64_t next = Now();
    uint64_t wakes = 0;
    uint64_t stalls = 0;
    int64_t worst = 0;
    while (next < end) {
        next += kPeriodNs;
        const timespec at{static_cast<time_t>(next / 1000000000),
                          static_cast<long>(next % 1000000000)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != 0) {
        }
        const int64_t late = Now() - next;
        ++wakes;
        worst = std::max(worst, late);
        if (late >= kStallNs) {
            ++stalls;
            // Periods slept through count once: start again from now.
            next = Now();
        }
    }
    std::FILE* out = std::fopen(argv[2], "w");
    if (out == nullptr) return 1;
    std::fprintf(out, "wakes %llu\nstalls %llu\nworst_ms %.1f\n",
                 static_cast<unsigned long long>(wakes), static_cast<unsigned long long>(stalls),
                 static_cast<double>(worst) / 1e6);
    return std::fclose(out) == 0 ? 0 : 1;
}
