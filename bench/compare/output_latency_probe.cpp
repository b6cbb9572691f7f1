#include "output_latency_probe.h"

#include "mivo_dsound.h"
#include "mivo_dsound_hooks.h"

namespace compare {

namespace {

// Often enough to follow an output that adapts its latency over seconds,
// seldom enough that the readings cost the timed path nothing to speak of.
constexpr int64_t kSamplePeriodNs = 500000000;

}  // namespace

OutputLatencyProbe::OutputLatencyProbe(CdsObject& sound, RunLog& log) : log_(log) {
    void* hooks = nullptr;
    if (sound.DirectSound != nullptr &&
        sound.DirectSound->QueryInterface(kIidMivoDeviceHooks, &hooks) == DS_OK) {
        hooks_ = static_cast<IMivoDeviceHooks*>(hooks);
    } else {
        log_.OutputLatencyUnsupported();
    }
}

OutputLatencyProbe::~OutputLatencyProbe() {
    if (hooks_ != nullptr) hooks_->Release();
}

void OutputLatencyProbe::Sample(int64_t nowNs) {
    if (hooks_ == nullptr || (sampled_ && nowNs - lastNs_ < kSamplePeriodNs)) return;
    sampled_ = true;
    lastNs_ = nowNs;
    DWORD target = 0;
    DWORD reported = 0;
    if (hooks_->GetOutputLatency(&target, &reported) != DS_OK) {
        // An output without the figures never gains them: stop asking.
        log_.OutputLatencyUnsupported();
        hooks_->Release();
        hooks_ = nullptr;
        return;
    }
    log_.OutputLatency(nowNs, target, reported);
}

}  // namespace compare
