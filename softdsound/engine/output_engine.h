// One output of the process as every device object opened on it shares it:
// one backend stream, one pacing thread, one mix. The first device that
// opens an output (by name, or the default) starts its engine, later ones
// join it, and the last to leave stops it, as a system's audio engine
// serves every application stream on an endpoint.
//
// What DirectSound keeps per device stays with the device object: the
// primary buffer's format, the cooperative level, the master volume (a
// voice group), and whether it has seen the output come back after a loss.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "mixer/mixer.h"
#include "output/output_backend.h"
#include "wave_layout.h"

namespace mivo_dsound {

class OutputEngine : public std::enable_shared_from_this<OutputEngine> {
public:
    // The engine of `output` on `backend`: the running one, or a new one
    // opened in `layout` (the mixer converts whatever later devices play).
    // Null when the output does not open.
    static std::shared_ptr<OutputEngine> Join(const std::shared_ptr<OutputBackend>& backend,
                                              const OutputInfo& output, const WaveLayout& layout);
    ~OutputEngine();
    OutputEngine(const OutputEngine&) = delete;
    OutputEngine& operator=(const OutputEngine&) = delete;

    Mixer& Mix() { return mixer_; }
    const OutputInfo& Info() const { return info_; }
    // Losses of the output so far (noticing one the backend reported): a
    // device whose count is behind has not restored since the last.
    uint64_t Losses();
    // The output goes (as if unplugged); the next `failingRestores`
    // restores fail.
    void Lose(uint32_t failingRestores);
    // Reopens a lost output: DS_OK at once when it is not lost (another
    // device restored it), DSERR_BUFFERLOST while it stays gone.
    HRESULT Restore();
    // Reopens the output in `layout` when the caller is the only device on
    // it; with others on it, the output stays as it is and the mixer
    // converts. On failure the old format stays.
    HRESULT ChangeFormat(const WaveLayout& layout);
    uint32_t PeriodFrames();
    bool Latency(OutputLatency& latency);
    // Output::Starve on the open output; false with none open.
    bool Starve(int64_t holdNs, int64_t quietNs);

private:
    OutputEngine(std::shared_ptr<OutputBackend> backend, OutputInfo info)
        : backend_(std::move(backend)), mixer_(*backend_), info_(std::move(info)) {}
    bool OpenLocked(const WaveLayout& layout);
    void CloseLocked();
    void MarkLostLocked();
    void NoticeLossLocked();

    // In this order: the mixer reads the backend's time, and the output
    // pulls from the mixer, so each goes before what it uses.
    const std::shared_ptr<OutputBackend> backend_;
    Mixer mixer_;
    // Reopened by name after a loss, so a named output comes back as
    // itself and the default as whatever is default then.
    const OutputInfo info_;
    std::mutex control_;  // the members below
    std::unique_ptr<Output> output_;
    WaveLayout layout_;
    uint32_t periodFrames_ = 256;
    bool lost_ = false;
    uint64_t losses_ = 0;
    uint32_t failingRestores_ = 0;
};

}  // namespace mivo_dsound
