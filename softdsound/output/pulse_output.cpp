#include "pulse_output.h"

#include <pulse/rtclock.h>
#include <pulse/stream.h>

#include <algorithm>
#include <atomic>

#include "environment_settings.h"
#include "latency_policy.h"
#include "pulse_format.h"
#include "pulse_loop.h"

namespace mivo_dsound {

namespace {

// Beyond the server's own latency, how long closing waits for what was
// written to play out.
constexpr pa_usec_t kDrainMarginUs = 100000;

// Requests a target latency is cut into (minreq = tlength / this).
// PulseAudio, with ADJUST_LATENCY, gives the sink (tlength - 2 minreq) / 2
// of the target and wakes it that often: small requests leave the sink a
// larger share, and the server, which costs more per wake-up than the
// device's refill, wakes less. An eighth gives the sink three eighths
// (7.5 ms of 20); measured on a null sink, half the CPU of a quarter, and a
// half (the sink left nothing) costs three times as much.
constexpr uint32_t kRequestsPerTarget = 8;
// PipeWire's pulse server runs its whole graph, every application's stream,
// at the shortest cycle any stream asks for. It gives a pulse stream a cycle
// of (tlength - 2 minreq) / 2, or minreq where that leaves nothing, at least
// 256 frames, and then holds at least that cycle plus two requests. So no
// request shape keeps a 20 ms target on it with a cycle longer than 256
// frames (5.3 ms: 190 wake-ups a second of the whole graph). A request of
// half the target asks for a 10 ms cycle instead; the server then holds
// 20 to 30 ms, refilled each time 10 ms are missing. A native PipeWire
// stream (pipewire_output.h) does better still, and is tried first there.
constexpr uint32_t kPipeWireRequestsPerTarget = 2;

class PulseOutput final : public Output {
public:
    PulseOutput(PulseLoop& loop, const PulseStreamPlan& plan, RenderTarget& target,
                const TimeSource& time)
        : loop_(loop),
          target_(target),
          time_(time),
          format_(plan.format),
          rate_(plan.format.rate),
          frameBytes_(OutputFrameBytes(plan.format)),
          periodFrames_(PeriodFramesAt(plan.format.rate, kPeriodsPerSecond)),
          requestsPerTarget_(plan.pipewire ? kPipeWireRequestsPerTarget : kRequestsPerTarget),
          policy_(plan.format.rate, PinnedLatencyMs(), time.NowNs()) {}
    ~PulseOutput() override;

    // Creates the stream on `sink` (empty: the default), corked, and waits
    // for the server to take it.
    bool Connect(const OutputFormat& format, const std::string& sink);

    const OutputFormat& Format() const override { return format_; }
    uint32_t PeriodFrames() const override { return periodFrames_; }
    uint32_t StartFrames() const override { return startFrames_; }
    bool Start() override;
    void Stop() override;
    bool Lost() const override { return lost_.load(std::memory_order_acquire); }
    bool Latency(OutputLatency& latency) const override;
    uint32_t Underruns() const override { return underruns_.load(std::memory_order_relaxed); }
    bool Starve(int64_t holdNs, int64_t quietNs) override;

private:
    static void OnState(pa_stream* stream, void* self);
    static void OnWritable(pa_stream* stream, size_t bytes, void* self);
    static void OnUnderflow(pa_stream* stream, void* self);
    static void OnLatencyUpdate(pa_stream* stream, void* self);
    static void OnDrained(pa_stream* stream, int success, void* self);
    static void OnStarted(pa_mainloop_api* api, pa_defer_event* event, void* self);
    static void OnTargetTaken(pa_stream* stream, int success, void* self);
    static void OnFed(pa_mainloop_api* api, pa_time_event* event, const timeval* at, void* self);
    // On the loop's thread, while started.
    void Fill(pa_stream* stream, size_t bytes);
    void ApplyTarget(pa_stream* stream);
    pa_buffer_attr BufferFor(uint32_t frames) const;
    void Drain();

    PulseLoop& loop_;
    RenderTarget& target_;
    const TimeSource& time_;
    const OutputFormat format_;
    const uint32_t rate_;
    const uint32_t frameBytes_;
    const uint32_t periodFrames_;
    const uint32_t requestsPerTarget_;
    uint32_t startFrames_ = 0;
    // Under the loop's lock.
    pa_stream* stream_ = nullptr;
    pa_defer_event* starter_ = nullptr;
    pa_time_event* starved_ = nullptr;  // refills wait for it
    bool started_ = false;
    bool drained_ = false;
    LatencyPolicy policy_;
    // Read by client threads without the loop.
    std::atomic<bool> lost_{false};
    std::atomic<uint32_t> underruns_{0};
    std::atomic<uint32_t> targetFrames_{0};
    std::atomic<uint32_t> reportedFrames_{0};
};

PulseOutput::~PulseOutput() {
    const PulseLoop::Hold hold(loop_);
    if (starter_ != nullptr) loop_.Api()->defer_free(starter_);
    if (starved_ != nullptr) loop_.Api()->time_free(starved_);
    if (stream_ == nullptr) return;
    // Nothing may call back into an output that is gone.
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
    pa_stream_set_latency_update_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
}

pa_buffer_attr PulseOutput::BufferFor(uint32_t frames) const {
    pa_buffer_attr buffer{};
    buffer.maxlength = UINT32_MAX;
    buffer.tlength = frames * frameBytes_;
    buffer.minreq = std::max(1u, frames / requestsPerTarget_) * frameBytes_;
    // The server's largest (a full buffer less one request), so that after
    // an underflow it plays again only once it is well fed.
    buffer.prebuf = UINT32_MAX;
    buffer.fragsize = UINT32_MAX;
    return buffer;
}

bool PulseOutput::Connect(const OutputFormat& format, const std::string& sink) {
    const PulseLoop::Hold hold(loop_);
    if (!loop_.EnsureConnected()) return false;
    const pa_sample_spec samples = PulseSamples(format);
    const pa_channel_map map = PulseChannelMap(format);
    if (pa_sample_spec_valid(&samples) == 0 || pa_channel_map_valid(&map) == 0) return false;
    stream_ = pa_stream_new(loop_.Context(), "DirectSound", &samples, &map);
    if (stream_ == nullptr) return false;
    pa_stream_set_state_callback(stream_, &PulseOutput::OnState, this);
    pa_stream_set_write_callback(stream_, &PulseOutput::OnWritable, this);
    pa_stream_set_underflow_callback(stream_, &PulseOutput::OnUnderflow, this);
    pa_stream_set_latency_update_callback(stream_, &PulseOutput::OnLatencyUpdate, this);
    // The target is the whole latency, the server's buffer and the sink's
    // together: the server divides it between them.
    const pa_buffer_attr buffer = BufferFor(policy_.TargetFrames());
    // A stream on the default output follows the server's default when it
    // changes or goes; one on a named sink stays there, and is lost with it.
    const unsigned named = sink.empty() ? 0u : static_cast<unsigned>(PA_STREAM_DONT_MOVE);
    // No automatic timing updates: the server answers each one, and they
    // came some twenty times a second beside the requests, costing the
    // server and this process about as much as the requests themselves.
    // The latency is asked for when it is read.
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY | named);
    if (pa_stream_connect_playback(stream_, sink.empty() ? nullptr : sink.c_str(), &buffer, flags,
                                   nullptr, nullptr) < 0) {
        return false;
    }
    const auto settled = [this] {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    };
    if (!loop_.WaitUntil(settled, kPulseAnswerUs)) return false;
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) return false;
    // The server asks for its whole buffer at once when the stream starts.
    const pa_buffer_attr* granted = pa_stream_get_buffer_attr(stream_);
    startFrames_ = granted != nullptr ? granted->tlength / frameBytes_ : policy_.TargetFrames();
    targetFrames_.store(startFrames_, std::memory_order_relaxed);
    starter_ = loop_.Api()->defer_new(loop_.Api(), &PulseOutput::OnStarted, this);
    if (starter_ == nullptr) return false;
    loop_.Api()->defer_enable(starter_, 0);
    return true;
}

bool PulseOutput::Start() {
    const PulseLoop::Hold hold(loop_);
    if (Lost()) return false;
    started_ = true;
    // The first fill is pulled on the loop's thread, as every later one.
    loop_.Api()->defer_enable(starter_, 1);
    return true;
}

void PulseOutput::Stop() {
    const PulseLoop::Hold hold(loop_);
    loop_.Api()->defer_enable(starter_, 0);
    // Callbacks run under the loop's lock, so none is pulling now, and they
    // look at this before pulling again.
    if (!started_) return;
    started_ = false;
    Drain();
}

void PulseOutput::Drain() {
    // What the stream holds was announced as played: it plays out before
    // the stream goes, unless the server takes too long.
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) return;
    drained_ = false;
    pa_operation* drain = pa_stream_drain(stream_, &PulseOutput::OnDrained, this);
    if (drain == nullptr) return;
    const uint32_t held = std::max(targetFrames_.load(), reportedFrames_.load());
    const pa_usec_t limit = pa_usec_t{held} * 1000000 / rate_ + kDrainMarginUs;
    loop_.WaitUntil([this] { return drained_ || pa_stream_get_state(stream_) != PA_STREAM_READY; },
                    limit);
    if (pa_operation_get_state(drain) == PA_OPERATION_RUNNING) pa_operation_cancel(drain);
    pa_operation_unref(drain);
}

bool PulseOutput::Latency(OutputLatency& latency) const {
    latency.targetFrames = targetFrames_.load(std::memory_order_relaxed);
    latency.reportedFrames = reportedFrames_.load(std::memory_order_relaxed);
    // What the server last said; the next reading has a newer answer.
    const PulseLoop::Hold hold(loop_);
    if (!Lost() && pa_stream_get_state(stream_) == PA_STREAM_READY) {
        Forget(pa_stream_update_timing_info(stream_, nullptr, nullptr));
    }
    return true;
}

bool PulseOutput::Starve(int64_t holdNs, int64_t quietNs) {
    const PulseLoop::Hold hold(loop_);
    if (quietNs > 0) policy_.SetQuietSpell(quietNs);
    if (holdNs <= 0 || starved_ != nullptr) return true;
    const auto holdUs = static_cast<pa_usec_t>(holdNs / 1000);
    starved_ = pa_context_rttime_new(loop_.Context(), pa_rtclock_now() + holdUs, &OnFed, this);
    return starved_ != nullptr;
}

void PulseOutput::OnFed(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* self) {
    const PulseLoop::InCallback inside;
    auto* output = static_cast<PulseOutput*>(self);
    api->time_free(event);
    output->starved_ = nullptr;
    // The server asks for nothing more once it has asked for its whole
    // buffer: what it asked meanwhile is written now.
    if (output->started_) output->Fill(output->stream_, pa_stream_writable_size(output->stream_));
}

void PulseOutput::OnState(pa_stream* stream, void* self) {
    const PulseLoop::InCallback inside;
    auto* output = static_cast<PulseOutput*>(self);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        output->lost_.store(true, std::memory_order_release);
    }
    output->loop_.Signal();
}

void PulseOutput::OnStarted(pa_mainloop_api* api, pa_defer_event* event, void* self) {
    const PulseLoop::InCallback inside;
    auto* output = static_cast<PulseOutput*>(self);
    api->defer_enable(event, 0);
    if (!output->started_) return;
    output->Fill(output->stream_, pa_stream_writable_size(output->stream_));
    Forget(pa_stream_cork(output->stream_, 0, nullptr, nullptr));
}

void PulseOutput::OnWritable(pa_stream* stream, size_t bytes, void* self) {
    const PulseLoop::InCallback inside;
    auto* output = static_cast<PulseOutput*>(self);
    if (output->started_) output->Fill(stream, bytes);
}

void PulseOutput::Fill(pa_stream* stream, size_t bytes) {
    if (bytes == static_cast<size_t>(-1)) return;  // the stream failed meanwhile
    if (starved_ != nullptr) return;
    const size_t most = size_t{periodFrames_} * frameBytes_;
    int64_t now = time_.NowNs();
    if (policy_.Quiet(now)) ApplyTarget(stream);
    while (bytes >= frameBytes_) {
        size_t piece = std::min(bytes, most);
        void* data = nullptr;
        if (pa_stream_begin_write(stream, &data, &piece) < 0 || data == nullptr) return;
        piece -= piece % frameBytes_;
        if (piece == 0) {
            pa_stream_cancel_write(stream);
            return;
        }
        target_.Render(static_cast<uint8_t*>(data), static_cast<uint32_t>(piece / frameBytes_),
                       now);
        if (pa_stream_write(stream, data, piece, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
        bytes -= piece;
        now = time_.NowNs();
    }
}

void PulseOutput::OnUnderflow(pa_stream* stream, void* self) {
    const PulseLoop::InCallback inside;
    auto* output = static_cast<PulseOutput*>(self);
    // A stream that is not pulled (not yet started, or draining) runs
    // empty by design.
    if (!output->started_) return;
    output->underruns_.fetch_add(1, std::memory_order_relaxed);
    if (output->policy_.Underflow(output->time_.NowNs())) output->ApplyTarget(stream);
}

void PulseOutput::ApplyTarget(pa_stream* stream) {
    const pa_buffer_attr buffer = BufferFor(policy_.TargetFrames());
    Forget(pa_stream_set_buffer_attr(stream, &buffer, &PulseOutput::OnTargetTaken, this));
}

// What the server granted is what it holds, and what is reported.
void PulseOutput::OnTargetTaken(pa_stream* stream, int success, void* self) {
    const PulseLoop::InCallback inside;
    auto* output = static_cast<PulseOutput*>(self);
    const pa_buffer_attr* granted = pa_stream_get_buffer_attr(stream);
    if (success == 0 || granted == nullptr) return;
    output->targetFrames_.store(granted->tlength / output->frameBytes_, std::memory_order_relaxed);
}

void PulseOutput::OnLatencyUpdate(pa_stream* stream, void* self) {
    const PulseLoop::InCallback inside;
    auto* output = static_cast<PulseOutput*>(self);
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream, &latency, &negative) != 0) return;
    const uint64_t frames = negative != 0 ? 0 : latency * output->rate_ / 1000000;
    output->reportedFrames_.store(static_cast<uint32_t>(std::min<uint64_t>(frames, UINT32_MAX)),
                                  std::memory_order_relaxed);
}

void PulseOutput::OnDrained(pa_stream* stream, int success, void* self) {
    (void)stream;
    (void)success;
    const PulseLoop::InCallback inside;
    auto* output = static_cast<PulseOutput*>(self);
    output->drained_ = true;
    output->loop_.Signal();
}

}  // namespace

std::unique_ptr<Output> OpenPulseOutput(PulseLoop& loop, const PulseStreamPlan& plan,
                                        const std::string& sink, RenderTarget& target,
                                        const TimeSource& time) {
    auto output = std::make_unique<PulseOutput>(loop, plan, target, time);
    if (!output->Connect(plan.format, sink)) return nullptr;
    return output;
}

}  // namespace mivo_dsound
