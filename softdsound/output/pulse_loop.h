// libpulse's threaded main loop and one connection to a PulseAudio-protocol
// server (PulseAudio itself, or PipeWire's pulse server). Everything libpulse
// does happens on the loop's thread with the loop's lock held: a client
// thread holds it (Hold) around each call, and callbacks already have it.
#pragma once

#include <pulse/context.h>
#include <pulse/thread-mainloop.h>

#include <functional>
#include <memory>

namespace mivo_dsound {

// How long a server has to answer a connection or a new stream.
constexpr pa_usec_t kPulseAnswerUs = 2000000;

class PulseLoop {
public:
    // A running loop connected to the server, or null when none answers in
    // time. Never starts a server.
    static std::unique_ptr<PulseLoop> Connect();
    ~PulseLoop();
    PulseLoop(const PulseLoop&) = delete;
    PulseLoop& operator=(const PulseLoop&) = delete;

    // A client thread's hold on the loop.
    class Hold {
    public:
        explicit Hold(PulseLoop& loop);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        PulseLoop& loop_;
    };

    // Made first thing in every callback, on the loop's thread. libpulse
    // takes the loop's lock inside itself, where the race detector cannot
    // see it (the library is not built for it); this tells the detector
    // what the lock orders, as Hold does on client threads. Nothing in
    // other builds.
    class InCallback {
    public:
        InCallback() { Acquired(); }
        ~InCallback() { Releasing(); }
        InCallback(const InCallback&) = delete;
        InCallback& operator=(const InCallback&) = delete;
    };

    // Held: the context is connected, or connects anew (when the server
    // went away and may be back). False when no server answers.
    bool EnsureConnected();
    // Held: waits until `done` is true or `timeoutUs` have passed; false on
    // timeout. Callbacks that change what `done` looks at call Signal.
    bool WaitUntil(const std::function<bool()>& done, pa_usec_t timeoutUs);
    // In a callback: wakes WaitUntil.
    void Signal() { pa_threaded_mainloop_signal(mainloop_, 0); }

    pa_context* Context() const { return context_; }
    pa_mainloop_api* Api() const { return pa_threaded_mainloop_get_api(mainloop_); }

private:
    PulseLoop() = default;
    void DropContext();
    static void OnContextState(pa_context* context, void* self);
    // What one holder of the lock did comes before what the next one does.
    static void Acquired();
    static void Releasing();

    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
};

// Releases an operation whose result nobody waits for.
inline void Forget(pa_operation* operation) {
    if (operation != nullptr) pa_operation_unref(operation);
}

}  // namespace mivo_dsound
