// The libpulse backend: one connection to the server, the sinks it offers,
// and playback streams on them.
#include <pulse/introspect.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "pipewire_output.h"
#include "pulse_format.h"
#include "pulse_loop.h"
#include "pulse_output.h"
#include "wave_layout.h"

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

struct SinkQuery {
    PulseLoop* loop;
    bool done = false;
    bool found = false;
    pa_sample_spec samples{};
    pa_channel_map map{};
    bool named = false;  // the server said who it is
    bool pipewire = false;
};

void OnServer(pa_context* context, const pa_server_info* server, void* query) {
    (void)context;
    const PulseLoop::InCallback inside;
    auto* state = static_cast<SinkQuery*>(query);
    state->named = true;
    state->pipewire = server != nullptr && server->server_name != nullptr &&
                      std::strstr(server->server_name, "PipeWire") != nullptr;
    state->loop->Signal();
}

void OnSinkFormat(pa_context* context, const pa_sink_info* sink, int last, void* query) {
    (void)context;
    const PulseLoop::InCallback inside;
    auto* state = static_cast<SinkQuery*>(query);
    if (last != 0 || sink == nullptr) {
        state->done = true;
        state->loop->Signal();
        return;
    }
    state->found = true;
    state->samples = sink->sample_spec;
    state->map = sink->channel_map;
}

// What the device mixes for `sink` (empty: the default): float at the
// sink's own rate and channels, so that the server converts nothing and
// only orders the channels as the sink has them. `asked`'s rate and
// channels where the server does not say. And whose server it is: the
// stream is shaped for PipeWire's graph there.
PulseStreamPlan PlanFor(PulseLoop& loop, const std::string& sink, const OutputFormat& asked) {
    PulseStreamPlan plan{asked, false};
    plan.format.bits = 32;
    plan.format.floating = true;
    SinkQuery query{&loop};
    const char* name = sink.empty() ? "@DEFAULT_SINK@" : sink.c_str();
    pa_operation* asking =
        pa_context_get_sink_info_by_name(loop.Context(), name, &OnSinkFormat, &query);
    pa_operation* naming = pa_context_get_server_info(loop.Context(), &OnServer, &query);
    const bool answered = loop.WaitUntil(
        [&] { return (asking == nullptr || query.done) && (naming == nullptr || query.named); },
        kPulseAnswerUs);
    // An answer still under way must not write into `query` once it is gone.
    for (pa_operation* operation : {asking, naming}) {
        if (operation == nullptr) continue;
        if (!answered) pa_operation_cancel(operation);
        pa_operation_unref(operation);
    }
    plan.pipewire = query.pipewire;
    if (!answered || !query.found || pa_sample_spec_valid(&query.samples) == 0 ||
        query.samples.channels > kMaxChannels) {
        return plan;
    }
    plan.format.rate = query.samples.rate;
    plan.format.channels = query.samples.channels;
    const DWORD mask = SpeakerMaskOf(query.map);
    plan.format.channelMask = mask != 0 ? mask : DefaultChannelMask(plan.format.channels);
    return plan;
}

// PipeWire's own socket reaches the server that libpulse reached when
// libpulse found it where PipeWire keeps it: not when PULSE_SERVER names
// another server (a remote one, say) than this session's.
bool PipeWireOfThisSession() {
    const char* pulse = std::getenv("PULSE_SERVER");
    if (pulse == nullptr || *pulse == '\0') return true;
    const char* runtime = std::getenv("PIPEWIRE_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') return false;
    return std::string(pulse) == std::string("unix:") + runtime + "/pulse/native";
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
        PulseStreamPlan plan;
        {
            const PulseLoop::Hold hold(*loop_);
            if (!loop_->EnsureConnected()) return nullptr;
            plan = PlanFor(*loop_, name, format);
        }
        if (plan.pipewire && PipeWireOfThisSession()) {
            if (std::unique_ptr<Output> native =
                    OpenPipeWireOutput(plan.format, name, target, *this)) {
                return native;
            }
        }
        return OpenPulseOutput(*loop_, plan, name, target, *this);
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
