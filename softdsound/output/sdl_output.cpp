#include "sdl_output.h"

#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <string>

#include "environment_settings.h"

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

bool AcquireSubsystem(SdlDrivers drivers) {
    std::lock_guard<std::mutex> hold(SubsystemGuard());
    const char* chosen = std::getenv("SDL_AUDIODRIVER");
    const bool running = SDL_WasInit(SDL_INIT_AUDIO) != 0;
    if (running || (chosen != nullptr && chosen[0] != '\0')) {
        return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    }
    // Servers before hardware; pulseaudio, first, is left out once libpulse
    // found no server to speak to.
    static const char* const kCandidates[] = {"pulseaudio", "pipewire", "alsa", "sndio"};
    const auto* first = std::begin(kCandidates) + (drivers == SdlDrivers::kAllButPulse ? 1 : 0);
    return std::any_of(first, std::end(kCandidates), InitWithDriver);
}

SDL_AudioFormat SdlFormatFor(int bits) {
    switch (bits) {
        case 8: return AUDIO_U8;
        case 16: return AUDIO_S16SYS;
        default: return AUDIO_S32SYS;  // 24-bit goes out in 32-bit containers
    }
}

// SDL 2.26 asks PulseAudio to buffer a single callback period, so a callback
// that is a little late leaves the server with nothing to play and it
// inserts silence. Over pulse the period is doubled (about 40 ms), which
// rarely runs dry; the libpulse backend does better where a server answers,
// and SDL plays over pulse only when asked to.
uint32_t SdlPeriodFrames(uint32_t rate) {
    const char* driver = SDL_GetCurrentAudioDriver();
    const bool pulse = driver != nullptr && SDL_strcmp(driver, "pulseaudio") == 0;
    return PeriodFramesAt(rate, pulse ? kPeriodsPerSecond / 2 : kPeriodsPerSecond);
}

class SdlOutput final : public Output {
public:
    SdlOutput(const OutputFormat& format, RenderTarget& target, const TimeSource& time)
        : format_(format), frameBytes_(OutputFrameBytes(format)), target_(target), time_(time) {}
    ~SdlOutput() override {
        if (id_ != 0) SDL_CloseAudioDevice(id_);
    }

    // Opens the device paused. SDL converts to whatever the hardware takes
    // (no changes allowed), so what it plays is always the format asked for.
    bool Open(const OutputFormat& format, const std::string& name) {
        std::lock_guard<std::mutex> hold(SubsystemGuard());
        periodFrames_ = SdlPeriodFrames(format.rate);
        SDL_AudioSpec want{};
        want.freq = static_cast<int>(format.rate);
        want.format = SdlFormatFor(format.bits);
        want.channels = static_cast<Uint8>(format.channels);
        want.samples = static_cast<Uint16>(periodFrames_);
        want.callback = &SdlOutput::Callback;
        want.userdata = this;
        SDL_AudioSpec have{};
        id_ = SDL_OpenAudioDevice(name.empty() ? nullptr : name.c_str(), 0, &want, &have, 0);
        return id_ != 0;
    }

    const OutputFormat& Format() const override { return format_; }
    uint32_t PeriodFrames() const override { return periodFrames_; }
    // SDL fills what it asks a server to buffer, one period, at once.
    uint32_t StartFrames() const override { return periodFrames_; }
    bool Start() override {
        SDL_PauseAudioDevice(id_, 0);
        return true;
    }
    // SDL_PauseAudioDevice returns once a running callback has finished.
    void Stop() override { SDL_PauseAudioDevice(id_, 1); }
    bool Lost() const override { return SDL_GetAudioDeviceStatus(id_) == SDL_AUDIO_STOPPED; }

private:
    static void Callback(void* context, Uint8* out, int bytes) {
        auto* self = static_cast<SdlOutput*>(context);
        // The moment the cursors move on: the ideal time of any notification
        // this callback passes.
        self->target_.Render(out, static_cast<uint32_t>(bytes) / self->frameBytes_,
                             self->time_.NowNs());
    }

    SDL_AudioDeviceID id_ = 0;
    uint32_t periodFrames_ = 0;
    const OutputFormat format_;
    const uint32_t frameBytes_;
    RenderTarget& target_;
    const TimeSource& time_;
};

class SdlBackend final : public OutputBackend {
public:
    // SDL_Init is process-wide and counted: each SDL_InitSubSystem is paired
    // with SDL_QuitSubSystem, never SDL_Quit, which would pull the subsystem
    // away from other users in the process.
    ~SdlBackend() override {
        std::lock_guard<std::mutex> hold(SubsystemGuard());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    const char* Name() const override { return "sdl"; }

    std::vector<OutputInfo> ListOutputs() override {
        std::lock_guard<std::mutex> hold(SubsystemGuard());
        std::vector<OutputInfo> outputs;
        const int count = SDL_GetNumAudioDevices(0);
        for (int i = 0; i < count; ++i) {
            if (const char* name = SDL_GetAudioDeviceName(i, 0)) outputs.push_back({name, name, 0});
        }
        return outputs;
    }

    std::unique_ptr<Output> Open(const OutputFormat& format, const std::string& name,
                                 RenderTarget& target) override {
        auto output = std::make_unique<SdlOutput>(format, target, *this);
        if (!output->Open(format, name)) return nullptr;
        return output;
    }
};

}  // namespace

std::unique_ptr<OutputBackend> OpenSdlBackend(SdlDrivers drivers) {
    if (!AcquireSubsystem(drivers)) return nullptr;
    return std::make_unique<SdlBackend>();
}

}  // namespace mivo_dsound
