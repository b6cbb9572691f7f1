// SDL2 as the device's one audio backend: the process-wide audio subsystem
// and the output devices opened on it.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <memory>

namespace mivo_dsound {

// One counted reference to SDL's audio subsystem. SDL_Init is process-wide,
// so the device pairs each SDL_InitSubSystem with SDL_QuitSubSystem and never
// calls SDL_Quit, which would pull the subsystem away from other users.
class AudioSubsystem {
public:
    // Null when no audio driver works. When the client names drivers in
    // SDL_AUDIODRIVER they are respected; otherwise the servers are tried
    // before the hardware (pulseaudio, pipewire, alsa, sndio), because SDL's
    // own first pick on a machine without a sound card is alsa, which then
    // fails to open. The file and null drivers are never chosen silently: a
    // client wanting them says so.
    static std::unique_ptr<AudioSubsystem> Acquire();
    ~AudioSubsystem();
    AudioSubsystem(const AudioSubsystem&) = delete;
    AudioSubsystem& operator=(const AudioSubsystem&) = delete;

private:
    AudioSubsystem() = default;
};

struct OutputRequest {
    int rate;
    int channels;
    SDL_AudioFormat format;
    int periodFrames;
};

// The frames per callback for an output rate: MIVO_DSOUND_PERIOD_FRAMES when
// set, otherwise about 5 ms, which keeps block events close to the audio
// (see OutputPeriodFrames in audio_backend.cpp).
int OutputPeriodFrames(int rate);

// How many frames the output takes at once when it starts: the sound
// server's buffer on PulseAudio, one period elsewhere. Ask before opening.
int OutputStartFrames(int rate, int periodFrames);

// An open output device whose callback is running. Closing waits for the
// callback to return, so the renderer must outlive the output.
class AudioOutput {
public:
    using Render = void (*)(void* context, uint8_t* out, int bytes);

    // SDL converts to whatever the hardware takes (no changes allowed), so
    // the obtained format always equals the request. Null on failure.
    static std::unique_ptr<AudioOutput> Open(const OutputRequest& request, Render render,
                                             void* context);
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // True once SDL has given up on the device (unplugged, server gone).
    bool Gone() const;
    const OutputRequest& Request() const { return request_; }

private:
    AudioOutput(SDL_AudioDeviceID id, const OutputRequest& request) : id_(id), request_(request) {}
    SDL_AudioDeviceID id_;
    OutputRequest request_;
};

}  // namespace mivo_dsound
