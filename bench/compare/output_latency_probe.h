// The output latency that mivo's software device aims at, read now and then
// while the client streams, through the device's private hooks. Wine's
// DirectSound has no such hooks, so the Windows build reads nothing and its
// log has no such figures.
#pragma once

#include <cstdint>

#include "mivo.h"
#include "run_log.h"

struct IMivoDeviceHooks;

namespace compare {

class OutputLatencyProbe {
public:
    OutputLatencyProbe(CdsObject& sound, RunLog& log);
    ~OutputLatencyProbe();
    OutputLatencyProbe(const OutputLatencyProbe&) = delete;
    OutputLatencyProbe& operator=(const OutputLatencyProbe&) = delete;

    // Logs a reading when one is due; called on every block event.
    void Sample(int64_t nowNs);

private:
    RunLog& log_;
    IMivoDeviceHooks* hooks_ = nullptr;
    int64_t lastNs_ = 0;
    bool sampled_ = false;
};

}  // namespace compare
