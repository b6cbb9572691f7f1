// The libpulse backend: one connection to the server, the sinks it offers,
// and playback streams on them.
#include <pulse/introspect.h>

#include "pulse_loop.h"
#include "pulse_output.h"

namespace mivo_dsound {

namespace {

struct SinkWalk {
    PulseLoop* loop;
    std::vector<OutputInfo> sinks;
    bool done = false;
};

void OnSink(pa_context* context, const pa_sink_info* sink, int last, void* walk) {
    (void)context;
    const PulseLoop::InCallback inside;
    auto* state = static_cast<SinkWalk*>(walk);
    if (last != 0 || sink == nullptr) {
        state->done = true;
        state->loop->Signal();
        return;
    }
    state->sinks.push_back({sink->name != nullptr ? sink->name : "",
                            sink->description != nullptr ? sink->description : "",
                            sink->channel_map.channels});
}

class PulseBackend final : public OutputBackend {
public:
    explicit PulseBackend(std::unique_ptr<PulseLoop> loop) : loop_(std::move(loop)) {}
    const char* Name() const override { return "pulse"; }

    std::vector<OutputInfo> ListOutputs() override {
        const PulseLoop::Hold hold(*loop_);
        SinkWalk walk{loop_.get(), {}};
        if (!loop_->EnsureConnected()) return {};
        pa_operation* listing = pa_context_get_sink_info_list(loop_->Context(), &OnSink, &walk);
        if (listing == nullptr) return {};
        const bool answered = loop_->WaitUntil([&walk] { return walk.done; }, kPulseAnswerUs);
        // A walk still under way must not write into `walk` once it is gone.
        if (!answered) pa_operation_cancel(listing);
        pa_operation_unref(listing);
        return answered ? walk.sinks : std::vector<OutputInfo>{};
    }

    std::unique_ptr<Output> Open(const OutputFormat& format, const std::string& name,
                                 RenderTarget& target) override {
        return OpenPulseOutput(*loop_, format, name, target, *this);
    }

private:
    std::unique_ptr<PulseLoop> loop_;
};

}  // namespace

std::unique_ptr<OutputBackend> OpenPulseBackend() {
    std::unique_ptr<PulseLoop> loop = PulseLoop::Connect();
    if (!loop) return nullptr;
    return std::make_unique<PulseBackend>(std::move(loop));
}

}  // namespace mivo_dsound
