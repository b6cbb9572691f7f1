// The same signal straight to SDL2, opened at the source's own rate and
// word length (24-bit samples in 32-bit words: SDL has no 24-bit format),
// so that every conversion is left to SDL or the sound server.
//
//   mivo-fidelity-sdl BUFFER SIGNAL SECONDS
#include <SDL.h>

#include <cstdio>
#include <cstdlib>

#include "signal_source.h"

namespace {

using mivo_fidelity::PcmFormat;
using mivo_fidelity::SignalSource;

// Frames per callback: enough that SDL over PulseAudio, which keeps one
// callback's worth ahead in the server, never runs dry on a busy machine.
constexpr Uint16 kCallbackFrames = 4096;
constexpr int kChannels = 2;

struct Player {
    SignalSource* source = nullptr;
    int containerBytes = 0;
    int silentCallbacks = 0;  // the audio thread's alone
    SDL_sem* finished = nullptr;
};

void Render(void* context, Uint8* out, int bytes) {
    auto& p = *static_cast<Player*>(context);
    const auto frames = static_cast<uint32_t>(bytes / (kChannels * p.containerBytes));
    if (p.source->Done() && ++p.silentCallbacks == 3) SDL_SemPost(p.finished);
    p.source->Write(out, frames, p.containerBytes);
}

int Run(const PcmFormat& format, SignalSource& source, double seconds) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        std::fprintf(stderr, "SDL audio: %s\n", SDL_GetError());
        return 1;
    }
    Player player;
    player.source = &source;
    player.containerBytes = format.bits == 16 ? 2 : 4;
    player.finished = SDL_CreateSemaphore(0);
    SDL_AudioSpec want{};
    want.freq = format.rate;
    want.format = format.bits == 16 ? AUDIO_S16LSB : AUDIO_S32LSB;
    want.channels = kChannels;
    want.samples = kCallbackFrames;
    want.callback = Render;
    want.userdata = &player;
    SDL_AudioSpec have{};
    // No changes allowed: SDL hands the server exactly this format.
    const SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (id == 0 || player.finished == nullptr) {
        std::fprintf(stderr, "SDL open: %s\n", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return 1;
    }
    SDL_PauseAudioDevice(id, 0);
    const auto bound = static_cast<Uint32>(seconds * 2000 + 10000);
    const bool ended = SDL_SemWaitTimeout(player.finished, bound) == 0;
    SDL_CloseAudioDevice(id);
    SDL_DestroySemaphore(player.finished);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    if (!ended) std::fprintf(stderr, "the callbacks stopped before the end\n");
    return ended ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    PcmFormat format;
    mivo_fidelity::SignalChoice signal;
    const double seconds = argc == 4 ? std::atof(argv[3]) : 0.0;
    if (argc != 4 || !mivo_fidelity::ParseFormat(argv[1], format) ||
        !mivo_fidelity::ParseSignal(argv[2], signal) || seconds <= 0.0 || seconds > 600.0) {
        std::fprintf(stderr, "usage: %s RATE/BITS tone:HZ|noise:SEED SECONDS\n", argv[0]);
        return 2;
    }
    SignalSource source(format, signal, seconds);
    return Run(format, source, seconds);
}
