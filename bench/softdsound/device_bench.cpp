// Measures what a streaming client of mivo sees from the software device:
// how late block events come after their ideal times, how much CPU the
// process spends per second of audio, and how often a refill came too late.
//
// Two ideal times are reported. "latency" is measured from the moment the
// device's mixer took the play cursor past the block's end (the device
// reports it through its private interface): the delay a client adds to
// the device. "grid" is measured against a regular grid of block ends
// fitted to the events: it also shows how unevenly the output consumes
// audio (a sound server asks for it in bursts).
//
//   mivo-device-bench [--seconds N] [--blocks-ms 5,10,20]
//
// The driver is SDL's choice (set SDL_AUDIODRIVER: disk, dummy, pulseaudio).
// The output is a continuous 1 kHz tone at half of full scale, so that a
// capture of it can be checked for gaps.
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "event_fd.h"
#include "mivo.h"
#include "mivo_dsound_hooks.h"

namespace {

constexpr int32_t kRate = 48000;
constexpr uint32_t kFrameBytes = 4;
constexpr uint32_t kBlocks = 4;

using mivo_support::EventFd;

// CLOCK_MONOTONIC, as the device's signal times.
double Now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// CPU time of the whole process, or of the calling (client) thread.
double CpuSeconds(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

class Tone {
public:
    void Fill(void* data, uint32_t bytes) {
        auto* out = static_cast<int16_t*>(data);
        for (uint32_t f = 0; f < bytes / kFrameBytes; ++f, ++n_) {
            const auto s = static_cast<int16_t>(std::lround(
                16383.0 * std::sin(2.0 * M_PI * 1000.0 * static_cast<double>(n_ % 48) / kRate)));
            out[size_t{2} * f] = s;
            out[size_t{2} * f + 1] = s;
        }
    }

private:
    uint64_t n_ = 0;
};

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto at = static_cast<size_t>(p * static_cast<double>(values.size() - 1));
    return values[at];
}

// Event k should come at a + k * b. The device's clock may run a little
// apart from this machine's (SDL's disk driver paces in whole
// milliseconds), so b is fitted; a puts the earliest event at zero.
std::vector<double> LatenciesAfterIdeal(const std::vector<double>& times) {
    const auto n = static_cast<double>(times.size());
    double sk = 0;
    double st = 0;
    double skk = 0;
    double skt = 0;
    for (size_t k = 0; k < times.size(); ++k) {
        const auto kk = static_cast<double>(k);
        sk += kk;
        st += times[k];
        skk += kk * kk;
        skt += kk * times[k];
    }
    const double b = (n * skt - sk * st) / (n * skk - sk * sk);
    double a = times[0];
    for (size_t k = 0; k < times.size(); ++k)
        a = std::min(a, times[k] - static_cast<double>(k) * b);
    std::vector<double> late;
    for (size_t k = 0; k < times.size(); ++k)
        late.push_back(times[k] - a - static_cast<double>(k) * b);
    return late;
}

bool Run(double blockMs, double seconds) {
    static int window = 0;
    CdsObject sound(reinterpret_cast<HWND>(&window), nullptr);
    EventFd blockEvent;
    EventFd stopEvent;
    const auto blockFrames = static_cast<uint32_t>(std::lround(kRate * blockMs / 1000.0));
    const uint32_t blockBytes = blockFrames * kFrameBytes;
    if (sound.InitializationSuccessful() == 0 || sound.SetApplicationMode(CdsModePriority) == 0 ||
        sound.CreatePrimaryBuffer(2, 16, 16, kRate, 0) == 0 ||
        sound.CreateStreamingBuffer(blockBytes * kBlocks, blockBytes, blockEvent.Handle(),
                                    stopEvent.Handle(), 2, 16, 16, kRate, 0) == 0) {
        std::fprintf(stderr, "mivo-device-bench: no sound device (status %d)\n", sound.InitStatus);
        return false;
    }
    IMivoDeviceHooks* hooks = nullptr;
    if (sound.DirectSound->QueryInterface(kIidMivoDeviceHooks, reinterpret_cast<void**>(&hooks)) !=
        DS_OK) {
        std::fprintf(stderr, "mivo-device-bench: this is not mivo's software device\n");
        return false;
    }
    Tone tone;
    auto refill = [&](uint32_t block) {
        void* data = nullptr;
        uint32_t bytes = 0;
        if (sound.LockStreamingBuffer(block, &data, &bytes) == 1) {
            tone.Fill(data, bytes);
            sound.UnlockStreamingBuffer(block);
        }
    };
    for (uint32_t b = 1; b <= kBlocks; ++b) refill(b);

    const auto wanted = static_cast<uint64_t>(seconds * 1000.0 / blockMs);
    std::vector<double> times;
    std::vector<double> afterSignal;
    times.reserve(wanted);
    afterSignal.reserve(wanted);
    uint64_t late = 0;
    const double cpuBefore = CpuSeconds();
    const double clientBefore = CpuSeconds(RUSAGE_THREAD);
    const double start = Now();
    sound.PlayStreamingBuffer();
    while (times.size() < wanted) {
        pollfd ready{blockEvent.Fd(), POLLIN, 0};
        if (poll(&ready, 1, 2000) <= 0) {
            std::fprintf(stderr, "mivo-device-bench: block events stopped\n");
            return false;
        }
        const double t = Now();
        uint64_t signalled = 0;
        hooks->GetLastSignalTime(&signalled);
        afterSignal.push_back(t - static_cast<double>(signalled) / 1e9);
        for (uint64_t n = blockEvent.Take(); n > 0; --n) {
            const auto finished = static_cast<uint32_t>(times.size() % kBlocks);
            times.push_back(t);
            // The block about to be refilled must not be playing yet: the
            // play cursor is at most two blocks past its end.
            uint32_t play = 0;
            sound.GetStreamingBufferPositions(&play, nullptr);
            const uint32_t end = (finished + 1) * blockBytes % (blockBytes * kBlocks);
            const uint32_t past = (play + blockBytes * kBlocks - end) % (blockBytes * kBlocks);
            if (past >= 3 * blockBytes) ++late;
            refill(finished + 1);
        }
    }
    const double elapsed = Now() - start;
    sound.StopStreamingBuffer();
    const double cpu = CpuSeconds() - cpuBefore;
    const double client = CpuSeconds(RUSAGE_THREAD) - clientBefore;
    hooks->Release();

    const std::vector<double> grid = LatenciesAfterIdeal(times);
    const char* driver = std::getenv("SDL_AUDIODRIVER");
    std::printf(
        "driver=%-10s block=%4.1fms events=%6zu latency_p50=%6.3fms latency_p99=%6.3fms "
        "latency_max=%6.3fms grid_p50=%6.3fms grid_p99=%6.3fms cpu=%5.2f%% "
        "(device %5.2f%%) late_refills=%llu\n",
        driver != nullptr ? driver : "(default)", blockMs, times.size(),
        1000 * Percentile(afterSignal, 0.50), 1000 * Percentile(afterSignal, 0.99),
        1000 * Percentile(afterSignal, 1.0), 1000 * Percentile(grid, 0.50),
        1000 * Percentile(grid, 0.99), 100.0 * cpu / elapsed, 100.0 * (cpu - client) / elapsed,
        static_cast<unsigned long long>(late));
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 30;
    std::vector<double> blocks = {5, 10, 20};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--blocks-ms") == 0 && i + 1 < argc) {
            blocks.clear();
            std::stringstream list(argv[++i]);
            for (std::string item; std::getline(list, item, ',');)
                blocks.push_back(std::atof(item.c_str()));
        } else {
            std::fprintf(stderr, "usage: mivo-device-bench [--seconds N] [--blocks-ms 5,10,20]\n");
            return 1;
        }
    }
    for (double block : blocks) {
        if (block <= 0 || seconds <= 0 || !Run(block, seconds)) return 1;
    }
    return 0;
}
