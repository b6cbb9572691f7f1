#include "pipewire_output.h"

#include <pipewire/pipewire.h>
#include <pulse/channelmap.h>
#include <spa/param/audio/format-utils.h>
#include <spa/pod/builder.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "environment_settings.h"
#include "latency_policy.h"
#include "pulse_format.h"

namespace mivo_dsound {

namespace {

// Cycles the target is cut into: one cycle queued and one playing.
constexpr uint32_t kCyclesPerTarget = 2;
// PipeWire's own floor for a cycle.
constexpr uint32_t kShortestCycle = 64;
// How long the server may take to link the stream to a sink.
constexpr int64_t kLinkWaitNs = 2000000000;
// Beyond the cycles still queued, how long stopping waits for them to play.
constexpr auto kStopMargin = std::chrono::milliseconds(50);

// The speaker positions of Windows' mask bits, as libpulse names them, in
// PipeWire's terms.
spa_audio_channel SpaPosition(pa_channel_position_t position) {
    switch (position) {
        case PA_CHANNEL_POSITION_MONO: return SPA_AUDIO_CHANNEL_MONO;
        case PA_CHANNEL_POSITION_FRONT_LEFT: return SPA_AUDIO_CHANNEL_FL;
        case PA_CHANNEL_POSITION_FRONT_RIGHT: return SPA_AUDIO_CHANNEL_FR;
        case PA_CHANNEL_POSITION_FRONT_CENTER: return SPA_AUDIO_CHANNEL_FC;
        case PA_CHANNEL_POSITION_LFE: return SPA_AUDIO_CHANNEL_LFE;
        case PA_CHANNEL_POSITION_REAR_LEFT: return SPA_AUDIO_CHANNEL_RL;
        case PA_CHANNEL_POSITION_REAR_RIGHT: return SPA_AUDIO_CHANNEL_RR;
        case PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER: return SPA_AUDIO_CHANNEL_FLC;
        case PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER: return SPA_AUDIO_CHANNEL_FRC;
        case PA_CHANNEL_POSITION_REAR_CENTER: return SPA_AUDIO_CHANNEL_RC;
        case PA_CHANNEL_POSITION_SIDE_LEFT: return SPA_AUDIO_CHANNEL_SL;
        case PA_CHANNEL_POSITION_SIDE_RIGHT: return SPA_AUDIO_CHANNEL_SR;
        case PA_CHANNEL_POSITION_TOP_CENTER: return SPA_AUDIO_CHANNEL_TC;
        case PA_CHANNEL_POSITION_TOP_FRONT_LEFT: return SPA_AUDIO_CHANNEL_TFL;
        case PA_CHANNEL_POSITION_TOP_FRONT_CENTER: return SPA_AUDIO_CHANNEL_TFC;
        case PA_CHANNEL_POSITION_TOP_FRONT_RIGHT: return SPA_AUDIO_CHANNEL_TFR;
        case PA_CHANNEL_POSITION_TOP_REAR_LEFT: return SPA_AUDIO_CHANNEL_TRL;
        case PA_CHANNEL_POSITION_TOP_REAR_CENTER: return SPA_AUDIO_CHANNEL_TRC;
        case PA_CHANNEL_POSITION_TOP_REAR_RIGHT: return SPA_AUDIO_CHANNEL_TRR;
        default: return SPA_AUDIO_CHANNEL_UNKNOWN;
    }
}

class PipeWireOutput final : public Output {
public:
    PipeWireOutput(const OutputFormat& format, RenderTarget& target, const TimeSource& time)
        : target_(target),
          time_(time),
          format_(format),
          frameBytes_(OutputFrameBytes(format)),
          periodFrames_(PeriodFramesAt(format.rate, kPeriodsPerSecond)) {}
    ~PipeWireOutput() override;

    bool Connect(const std::string& sink);
    // Until the graph pulls for the first time; false when it does not.
    bool AwaitFirstCycle();

    const OutputFormat& Format() const override { return format_; }
    uint32_t PeriodFrames() const override { return periodFrames_; }
    // The first pull has come and gone (AwaitFirstCycle): the next comes a
    // cycle on, the pace every later one keeps.
    uint32_t StartFrames() const override { return 0; }
    bool Start() override;
    void Stop() override;
    bool Lost() const override { return lost_.load(std::memory_order_acquire); }
    bool Latency(OutputLatency& latency) const override;

private:
    static void OnState(void* self, pw_stream_state old, pw_stream_state state, const char* error);
    static void OnProcess(void* self);
    static void OnCoreError(void* self, uint32_t id, int seq, int res, const char* message);
    // On the stream's data thread, once a cycle.
    void Fill(uint8_t* out, uint32_t frames);

    RenderTarget& target_;
    const TimeSource& time_;
    const OutputFormat format_;
    const uint32_t frameBytes_;
    const uint32_t periodFrames_;
    uint32_t cycleFrames_ = 0;
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    spa_hook coreListener_{};
    spa_hook streamListener_{};
    pw_core_events coreEvents_{};
    pw_stream_events streamEvents_{};
    bool linked_ = false;  // under the loop's lock
    std::atomic<bool> lost_{false};
    // Between the data thread's fills and Start/Stop.
    std::mutex fill_;
    std::condition_variable silent_;
    bool started_ = false;
    uint32_t silentCycles_ = 0;
    uint32_t lastCycleFrames_ = 0;  // the graph may run longer cycles than asked
};

PipeWireOutput::~PipeWireOutput() {
    if (loop_ == nullptr) return;
    pw_thread_loop_lock(loop_);
    if (stream_ != nullptr) pw_stream_destroy(stream_);
    if (core_ != nullptr) pw_core_disconnect(core_);
    pw_thread_loop_unlock(loop_);
    pw_thread_loop_stop(loop_);
    if (context_ != nullptr) pw_context_destroy(context_);
    pw_thread_loop_destroy(loop_);
}

bool PipeWireOutput::Connect(const std::string& sink) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { pw_init(nullptr, nullptr); });
    loop_ = pw_thread_loop_new("mivo-pipewire", nullptr);
    if (loop_ == nullptr) return false;
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
    if (context_ == nullptr || pw_thread_loop_start(loop_) < 0) return false;
    pw_thread_loop_lock(loop_);
    struct Unlock {
        pw_thread_loop* loop;
        ~Unlock() { pw_thread_loop_unlock(loop); }
    } unlock{loop_};
    core_ = pw_context_connect(context_, nullptr, 0);
    if (core_ == nullptr) return false;
    coreEvents_.version = PW_VERSION_CORE_EVENTS;
    coreEvents_.error = &PipeWireOutput::OnCoreError;
    // libpipewire's method macros are C: casts in C's way, and a GNU
    // statement expression.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wpedantic"
#ifdef __clang__
#pragma clang diagnostic ignored "-Wgnu-statement-expression"
#endif
    pw_core_add_listener(core_, &coreListener_, &coreEvents_, this);
#pragma GCC diagnostic pop

    // The latency policy's first target; a native stream does not resize.
    const LatencyPolicy policy(format_.rate, PinnedLatencyMs(), 0);
    cycleFrames_ = PipeWireCycleFrames(policy.TargetFrames());
    pw_properties* props =
        pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback",
                          PW_KEY_MEDIA_ROLE, "Game", PW_KEY_NODE_NAME, "DirectSound", nullptr);
    if (props == nullptr) return false;
    pw_properties_setf(props, PW_KEY_NODE_LATENCY, "%u/%u", cycleFrames_, format_.rate);
    if (!sink.empty()) {
        // A stream on a named output stays there, and is lost with it.
        pw_properties_set(props, PW_KEY_TARGET_OBJECT, sink.c_str());
        pw_properties_set(props, PW_KEY_NODE_DONT_RECONNECT, "true");
    }
    stream_ = pw_stream_new(core_, "DirectSound", props);
    if (stream_ == nullptr) return false;
    streamEvents_.version = PW_VERSION_STREAM_EVENTS;
    streamEvents_.state_changed = &PipeWireOutput::OnState;
    streamEvents_.process = &PipeWireOutput::OnProcess;
    pw_stream_add_listener(stream_, &streamListener_, &streamEvents_, this);

    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_F32;
    info.rate = format_.rate;
    info.channels = static_cast<uint32_t>(format_.channels);
    const pa_channel_map map = PulseChannelMap(format_);
    for (uint32_t i = 0; i < info.channels && i < SPA_AUDIO_MAX_CHANNELS; ++i) {
        info.position[i] = SpaPosition(map.map[i]);
    }
    uint8_t pod[1024];
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, pod, sizeof(pod));
    const spa_pod* params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
    const auto flags = static_cast<pw_stream_flags>(
        PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
    if (pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) < 0) {
        return false;
    }
    timespec until{};
    pw_thread_loop_get_time(loop_, &until, kLinkWaitNs);
    while (!linked_ && !Lost()) {
        if (pw_thread_loop_timed_wait_full(loop_, &until) != 0) break;
    }
    return linked_ && !Lost();
}

bool PipeWireOutput::AwaitFirstCycle() {
    // The device's clock starts when this returns: from the first pull on,
    // not from the link, which may come a few cycles before the graph runs.
    std::unique_lock<std::mutex> hold(fill_);
    const auto limit = std::chrono::nanoseconds(kLinkWaitNs);
    return silent_.wait_for(hold, limit, [this] { return lastCycleFrames_ > 0 || Lost(); }) &&
           !Lost();
}

bool PipeWireOutput::Start() {
    if (Lost()) return false;
    const std::lock_guard<std::mutex> hold(fill_);
    started_ = true;
    return true;
}

void PipeWireOutput::Stop() {
    std::unique_lock<std::mutex> hold(fill_);
    if (!started_) return;
    started_ = false;
    // What was rendered was announced as played: the cycles still queued
    // play out before the stream goes, unless the graph has stopped.
    silentCycles_ = 0;
    const uint32_t frames = std::max(cycleFrames_, lastCycleFrames_);
    const auto cycle = std::chrono::microseconds(uint64_t{frames} * 1000000 / format_.rate);
    silent_.wait_for(hold, cycle * (kCyclesPerTarget + 1) + kStopMargin,
                     [this] { return silentCycles_ > kCyclesPerTarget || Lost(); });
}

bool PipeWireOutput::Latency(OutputLatency& latency) const {
    latency.targetFrames = cycleFrames_ * kCyclesPerTarget;
    pw_time time{};
    if (pw_stream_get_time_n(stream_, &time, sizeof(time)) == 0 && time.rate.denom != 0) {
        const int64_t delay =
            std::max<int64_t>(0, time.delay) * time.rate.num * format_.rate / time.rate.denom;
        const uint64_t frames = static_cast<uint64_t>(delay) + time.queued / frameBytes_;
        latency.reportedFrames = static_cast<uint32_t>(std::min<uint64_t>(frames, UINT32_MAX));
    }
    return true;
}

void PipeWireOutput::OnState(void* self, pw_stream_state old, pw_stream_state state,
                             const char* error) {
    (void)old;
    (void)error;
    auto* output = static_cast<PipeWireOutput*>(self);
    if (state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING) {
        output->linked_ = true;
    }
    // A stream that reached a sink and then left it has lost its output.
    if (state == PW_STREAM_STATE_ERROR ||
        (state == PW_STREAM_STATE_UNCONNECTED && output->linked_)) {
        output->lost_.store(true, std::memory_order_release);
        output->silent_.notify_all();
    }
    pw_thread_loop_signal(output->loop_, false);
}

void PipeWireOutput::OnCoreError(void* self, uint32_t id, int seq, int res, const char* message) {
    (void)seq;
    (void)message;
    auto* output = static_cast<PipeWireOutput*>(self);
    // The server went away.
    if (id == PW_ID_CORE && res == -EPIPE) {
        output->lost_.store(true, std::memory_order_release);
        output->silent_.notify_all();
        pw_thread_loop_signal(output->loop_, false);
    }
}

void PipeWireOutput::OnProcess(void* self) {
    auto* output = static_cast<PipeWireOutput*>(self);
    pw_buffer* buffer = pw_stream_dequeue_buffer(output->stream_);
    if (buffer == nullptr) return;
    spa_data& data = buffer->buffer->datas[0];
    if (data.data != nullptr && data.chunk != nullptr) {
        uint64_t frames = data.maxsize / output->frameBytes_;
        if (buffer->requested != 0) frames = std::min<uint64_t>(frames, buffer->requested);
        output->Fill(static_cast<uint8_t*>(data.data), static_cast<uint32_t>(frames));
        data.chunk->offset = 0;
        data.chunk->stride = static_cast<int32_t>(output->frameBytes_);
        data.chunk->size = static_cast<uint32_t>(frames) * output->frameBytes_;
    }
    pw_stream_queue_buffer(output->stream_, buffer);
}

void PipeWireOutput::Fill(uint8_t* out, uint32_t frames) {
    std::unique_lock<std::mutex> hold(fill_);
    lastCycleFrames_ = frames;
    if (!started_) {
        std::memset(out, 0, size_t{frames} * frameBytes_);
        ++silentCycles_;
        hold.unlock();
        silent_.notify_all();
        return;
    }
    int64_t now = time_.NowNs();
    while (frames > 0) {
        const uint32_t piece = std::min(frames, periodFrames_);
        target_.Render(out, piece, now);
        out += size_t{piece} * frameBytes_;
        frames -= piece;
        now = time_.NowNs();
    }
}

}  // namespace

uint32_t PipeWireCycleFrames(uint32_t targetFrames) {
    // The graph's cycle is a power of two of frames (a cycle asked for is
    // rounded down to one): the nearest to the target's share.
    const uint32_t share = std::max(kShortestCycle, targetFrames / kCyclesPerTarget);
    uint32_t cycle = kShortestCycle;
    while (cycle * 2 <= share) cycle *= 2;
    return share - cycle < cycle * 2 - share ? cycle : cycle * 2;
}

std::unique_ptr<Output> OpenPipeWireOutput(const OutputFormat& format, const std::string& sink,
                                           RenderTarget& target, const TimeSource& time) {
    if (!format.floating) return nullptr;
    auto output = std::make_unique<PipeWireOutput>(format, target, time);
    if (!output->Connect(sink) || !output->AwaitFirstCycle()) return nullptr;
    return output;
}

}  // namespace mivo_dsound
