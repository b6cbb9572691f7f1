#include "audio_backend.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>

namespace mivo_dsound {

namespace {

// SDL's subsystem counts and hints are not thread-safe; devices may be made
// and dropped on several client threads at once.
std::mutex& SubsystemGuard() {
    static std::mutex guard;
    return guard;
}

bool DriverCompiledIn(const char* name) {
    for (int i = 0; i < SDL_GetNumAudioDrivers(); ++i) {
        if (SDL_strcmp(SDL_GetAudioDriver(i), name) == 0) return true;
    }
    return false;
}

// A driver that initialises may still have nothing to play on (alsa without
// a card initialises and then fails every open), so a candidate counts only
// once a default output really opens.
bool DefaultOutputOpens() {
    SDL_AudioSpec want{};
    want.freq = 48000;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;
    SDL_AudioSpec have{};
    const SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (id == 0) return false;
    SDL_CloseAudioDevice(id);
    return true;
}

bool InitWithDriver(const char* driver) {
    if (!DriverCompiledIn(driver)) return false;
    // Without sound hardware alsa and sndio can only fail, and say so on
    // stderr; it is not worth asking.
    const bool hardware = SDL_strcmp(driver, "alsa") == 0 || SDL_strcmp(driver, "sndio") == 0;
    if (hardware && ::access("/dev/snd", F_OK) != 0) return false;
    const char* previous = SDL_GetHint(SDL_HINT_AUDIODRIVER);
    const std::string saved = previous != nullptr ? previous : "";
    SDL_SetHint(SDL_HINT_AUDIODRIVER, driver);
    bool usable = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    SDL_SetHint(SDL_HINT_AUDIODRIVER, previous != nullptr ? saved.c_str() : nullptr);
    if (usable && !DefaultOutputOpens()) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        usable = false;
    }
    return usable;
}

}  // namespace

std::unique_ptr<AudioSubsystem> AudioSubsystem::Acquire() {
    std::lock_guard<std::mutex> hold(SubsystemGuard());
    const char* chosen = std::getenv("SDL_AUDIODRIVER");
    const bool running = SDL_WasInit(SDL_INIT_AUDIO) != 0;
    if (running || (chosen != nullptr && chosen[0] != '\0')) {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return nullptr;
        return std::unique_ptr<AudioSubsystem>(new AudioSubsystem());
    }
    for (const char* driver : {"pulseaudio", "pipewire", "alsa", "sndio"}) {
        if (InitWithDriver(driver)) return std::unique_ptr<AudioSubsystem>(new AudioSubsystem());
    }
    return nullptr;
}

AudioSubsystem::~AudioSubsystem() {
    std::lock_guard<std::mutex> hold(SubsystemGuard());
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

int OutputPeriodFrames(int rate) {
    if (const char* forced = std::getenv("MIVO_DSOUND_PERIOD_FRAMES")) {
        const long frames = std::strtol(forced, nullptr, 10);
        if (frames >= 16 && frames <= 16384) return static_cast<int>(frames);
    }
    // Block events come from the device's clock thread, not from the
    // callback, so the period only sets how often SDL's thread and the sound
    // server wake: about 20 ms, as few wake-ups as the server's buffer
    // (kPulseBufferMs) comfortably covers.
    int frames = 64;
    while (frames * 50 < rate) frames *= 2;
    return frames;
}

namespace {

// SDL 2.26 asks PulseAudio to buffer a single callback period, so a callback
// that is a little late leaves the server with nothing to play and it
// inserts silence. libpulse reads PULSE_LATENCY_MSEC when a stream connects:
// setting it for just that moment (unless the client chose a value) lets the
// server hold this much while SDL still fills it period by period: nearly
// three ~20 ms periods.
constexpr const char* kPulseBufferMs = "60";

class PulseBufferRequest {
public:
    PulseBufferRequest() {
        const char* driver = SDL_GetCurrentAudioDriver();
        set_ = driver != nullptr && SDL_strcmp(driver, "pulseaudio") == 0 &&
               std::getenv("PULSE_LATENCY_MSEC") == nullptr;
        if (set_) setenv("PULSE_LATENCY_MSEC", kPulseBufferMs, 0);
    }
    ~PulseBufferRequest() {
        if (set_) unsetenv("PULSE_LATENCY_MSEC");
    }
    PulseBufferRequest(const PulseBufferRequest&) = delete;
    PulseBufferRequest& operator=(const PulseBufferRequest&) = delete;

private:
    bool set_ = false;
};

}  // namespace

int OutputStartFrames(int rate, int periodFrames) {
    const char* driver = SDL_GetCurrentAudioDriver();
    if (driver == nullptr || SDL_strcmp(driver, "pulseaudio") != 0) return periodFrames;
    const char* chosen = std::getenv("PULSE_LATENCY_MSEC");
    long ms = std::strtol(chosen != nullptr ? chosen : kPulseBufferMs, nullptr, 10);
    if (ms <= 0 || ms > 10000) ms = std::strtol(kPulseBufferMs, nullptr, 10);
    return std::max(periodFrames, static_cast<int>(rate * ms / 1000));
}

std::unique_ptr<AudioOutput> AudioOutput::Open(const OutputRequest& request, Render render,
                                               void* context) {
    SDL_AudioSpec want{};
    want.freq = request.rate;
    want.format = request.format;
    want.channels = static_cast<Uint8>(request.channels);
    want.samples = static_cast<Uint16>(request.periodFrames);
    want.callback = render;
    want.userdata = context;
    SDL_AudioSpec have{};
    SDL_AudioDeviceID id = 0;
    {
        std::lock_guard<std::mutex> hold(SubsystemGuard());
        PulseBufferRequest buffer;
        id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    }
    if (id == 0) return nullptr;
    std::unique_ptr<AudioOutput> output(new AudioOutput(id, request));
    SDL_PauseAudioDevice(id, 0);
    return output;
}

AudioOutput::~AudioOutput() { SDL_CloseAudioDevice(id_); }

bool AudioOutput::Gone() const { return SDL_GetAudioDeviceStatus(id_) == SDL_AUDIO_STOPPED; }

}  // namespace mivo_dsound
