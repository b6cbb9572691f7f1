// SDL2 as an output backend: the process-wide audio subsystem, and output
// devices whose audio callback pulls from the mixer.
#pragma once

#include <memory>

#include "output_backend.h"

namespace mivo_dsound {

// Which of SDL's drivers are tried when the client names none.
enum class SdlDrivers {
    kAll,
    // The libpulse backend already found no PulseAudio-protocol server.
    kAllButPulse,
};

// Null when no SDL audio driver can play. When the client names drivers in
// SDL_AUDIODRIVER they are respected; otherwise the servers are tried before
// the hardware (pulseaudio, pipewire, alsa, sndio), because SDL's own first
// pick on a machine without a sound card is alsa, which then fails to open.
// The file and null drivers are never chosen silently: a client wanting them
// says so.
std::unique_ptr<OutputBackend> OpenSdlBackend(SdlDrivers drivers);

}  // namespace mivo_dsound
