#include "output_engine.h"

#include <map>
#include <utility>

namespace mivo_dsound {

namespace {

// The pacing thread mixes at most a few pulls ahead of the output.
constexpr int kDrainLimitMs = 250;

// The running engines of the process, by backend and output name. An
// engine stays listed until its last device lets it go.
struct Engines {
    std::mutex mutex;
    std::map<std::pair<const OutputBackend*, std::string>, std::weak_ptr<OutputEngine>> running;
};

Engines& Running() {
    static auto* engines = new Engines;  // used until the process ends
    return *engines;
}

}  // namespace

std::shared_ptr<OutputEngine> OutputEngine::Join(const std::shared_ptr<OutputBackend>& backend,
                                                 const OutputInfo& output,
                                                 const WaveLayout& layout) {
    Engines& engines = Running();
    std::lock_guard<std::mutex> listing(engines.mutex);
    auto& slot = engines.running[{backend.get(), output.name}];
    if (std::shared_ptr<OutputEngine> running = slot.lock()) return running;
    std::shared_ptr<OutputEngine> engine(new OutputEngine(backend, output));
    {
        std::lock_guard<std::mutex> hold(engine->control_);
        if (!engine->OpenLocked(layout)) return nullptr;
    }
    slot = engine;
    // Engines that stopped leave their slots behind: cleared as others start.
    for (auto it = engines.running.begin(); it != engines.running.end();) {
        it = it->second.expired() ? engines.running.erase(it) : std::next(it);
    }
    return engine;
}

OutputEngine::~OutputEngine() {
    std::lock_guard<std::mutex> hold(control_);
    // The pacing thread and the output's pulls stop before the mixer goes.
    CloseLocked();
}

bool OutputEngine::OpenLocked(const WaveLayout& layout) {
    CloseLocked();
    const OutputFormat asked{layout.rate, layout.channels, layout.bits, layout.channelMask};
    std::unique_ptr<Output> output = backend_->Open(asked, info_.name, mixer_);
    if (!output) return false;
    // The output may play another format than the one asked (a sound
    // server's own): the mixer mixes to what it plays.
    mixer_.SetOutput(output->Format(), output->PeriodFrames());
    // The clock starts past what the output reads at once when it starts.
    mixer_.Start(output->StartFrames());
    if (!output->Start()) {
        mixer_.StopPacing();
        return false;
    }
    output_ = std::move(output);
    layout_ = layout;
    periodFrames_ = output_->PeriodFrames();
    return true;
}

void OutputEngine::CloseLocked() {
    mixer_.StopPacing();
    if (!output_) return;
    // What was mixed ahead was already announced as played; an output that
    // still runs gets it before closing.
    if (!output_->Lost()) mixer_.Drain(kDrainLimitMs);
    output_->Stop();
    output_.reset();
}

void OutputEngine::MarkLostLocked() {
    lost_ = true;
    ++losses_;
    // The output is gone (or taken away): nothing to drain into.
    mixer_.StopPacing();
    if (output_) output_->Stop();
    output_.reset();
    mixer_.LoseAll();
}

void OutputEngine::NoticeLossLocked() {
    if (!lost_ && output_ && output_->Lost()) MarkLostLocked();
}

uint64_t OutputEngine::Losses() {
    std::lock_guard<std::mutex> hold(control_);
    NoticeLossLocked();
    return losses_;
}

void OutputEngine::Lose(uint32_t failingRestores) {
    std::lock_guard<std::mutex> hold(control_);
    failingRestores_ = failingRestores;
    MarkLostLocked();
}

HRESULT OutputEngine::Restore() {
    std::lock_guard<std::mutex> hold(control_);
    NoticeLossLocked();
    if (!lost_) return DS_OK;
    if (failingRestores_ > 0) {
        --failingRestores_;
        return DSERR_BUFFERLOST;
    }
    if (!OpenLocked(layout_)) return DSERR_BUFFERLOST;
    lost_ = false;
    return DS_OK;
}

HRESULT OutputEngine::ChangeFormat(const WaveLayout& layout) {
    std::lock_guard<std::mutex> hold(control_);
    NoticeLossLocked();
    if (lost_) return DSERR_BUFFERLOST;
    // Every device holds its engine: another one plays on, undisturbed.
    if (weak_from_this().use_count() > 1) return DS_OK;
    const WaveLayout previous = layout_;
    CloseLocked();
    if (OpenLocked(layout)) return DS_OK;
    if (!OpenLocked(previous)) MarkLostLocked();
    return DSERR_BADFORMAT;
}

uint32_t OutputEngine::PeriodFrames() {
    std::lock_guard<std::mutex> hold(control_);
    return periodFrames_;
}

bool OutputEngine::Latency(OutputLatency& latency) {
    std::lock_guard<std::mutex> hold(control_);
    return output_ && output_->Latency(latency);
}

bool OutputEngine::Starve(int64_t holdNs, int64_t quietNs) {
    std::lock_guard<std::mutex> hold(control_);
    return output_ && output_->Starve(holdNs, quietNs);
}

}  // namespace mivo_dsound
