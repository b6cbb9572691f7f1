#include "pulse_loop.h"

#include <pulse/rtclock.h>

#include "thread_priority.h"

#if defined(__SANITIZE_THREAD__)
#define MIVO_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define MIVO_TSAN 1
#endif
#endif
#if defined(MIVO_TSAN)
#include <sanitizer/tsan_interface.h>
#endif

namespace mivo_dsound {

namespace {

struct Deadline {
    PulseLoop* loop;
    bool passed = false;
};

void RaiseLoopPriority(pa_mainloop_api* api, void* data) {
    (void)api;
    (void)data;
    RaiseAudioThreadPriority();
}

#if defined(MIVO_TSAN)
// One mark for every loop: it orders more than the locks do (across
// devices), never less.
char lockMark;
#endif

void OnDeadline(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* data) {
    (void)api;
    (void)event;
    const PulseLoop::InCallback inside;
    auto* deadline = static_cast<Deadline*>(data);
    deadline->passed = true;
    deadline->loop->Signal();
}

}  // namespace

std::unique_ptr<PulseLoop> PulseLoop::Connect() {
    std::unique_ptr<PulseLoop> loop(new PulseLoop);
    loop->mainloop_ = pa_threaded_mainloop_new();
    if (loop->mainloop_ == nullptr) return nullptr;
    pa_threaded_mainloop_set_name(loop->mainloop_, "mivo-pulse");
    if (pa_threaded_mainloop_start(loop->mainloop_) < 0) return nullptr;
    bool connected = false;
    {
        const Hold hold(*loop);
        // The stream is refilled on the loop's thread.
        pa_mainloop_api_once(loop->Api(), &RaiseLoopPriority, nullptr);
        connected = loop->EnsureConnected();
    }
    if (!connected) return nullptr;
    return loop;
}

PulseLoop::~PulseLoop() {
    if (mainloop_ == nullptr) return;
    {
        const Hold hold(*this);
        DropContext();
    }
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
}

PulseLoop::Hold::Hold(PulseLoop& loop) : loop_(loop) {
    pa_threaded_mainloop_lock(loop_.mainloop_);
    Acquired();
}

PulseLoop::Hold::~Hold() {
    Releasing();
    pa_threaded_mainloop_unlock(loop_.mainloop_);
}

void PulseLoop::Acquired() {
#if defined(MIVO_TSAN)
    __tsan_acquire(&lockMark);
#endif
}

void PulseLoop::Releasing() {
#if defined(MIVO_TSAN)
    __tsan_release(&lockMark);
#endif
}

void PulseLoop::DropContext() {
    if (context_ == nullptr) return;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

void PulseLoop::OnContextState(pa_context* context, void* self) {
    (void)context;
    const InCallback inside;
    static_cast<PulseLoop*>(self)->Signal();
}

bool PulseLoop::EnsureConnected() {
    if (context_ != nullptr && pa_context_get_state(context_) == PA_CONTEXT_READY) return true;
    DropContext();
    // With no name libpulse names the client after the program.
    context_ = pa_context_new(Api(), nullptr);
    if (context_ == nullptr) return false;
    pa_context_set_state_callback(context_, &PulseLoop::OnContextState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
    const auto settled = [this] {
        const pa_context_state_t state = pa_context_get_state(context_);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    };
    return WaitUntil(settled, kPulseAnswerUs) && pa_context_get_state(context_) == PA_CONTEXT_READY;
}

bool PulseLoop::WaitUntil(const std::function<bool()>& done, pa_usec_t timeoutUs) {
    Deadline deadline{this};
    pa_mainloop_api* api = Api();
    pa_time_event* timer =
        pa_context_rttime_new(context_, pa_rtclock_now() + timeoutUs, &OnDeadline, &deadline);
    bool met = done();
    while (!met && !deadline.passed) {
        // The wait gives the lock up to the loop's thread meanwhile.
        Releasing();
        pa_threaded_mainloop_wait(mainloop_);
        Acquired();
        met = done();
    }
    if (timer != nullptr) api->time_free(timer);
    return met;
}

}  // namespace mivo_dsound
