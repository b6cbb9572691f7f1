// Which backend plays. A PulseAudio-protocol server (PulseAudio, or
// PipeWire's pulse server) is driven through libpulse, which tells the
// device its latency and underflows and lets it resize the server's buffer
// as it runs; where that server is PipeWire's, the backend plays on native
// PipeWire streams. SDL2 serves everything else, and whoever asks for it.
#include "environment_settings.h"
#include "output_backend.h"
#include "pulse_output.h"
#include "sdl_output.h"

namespace mivo_dsound {

std::unique_ptr<OutputBackend> ChooseBackend() {
    switch (RequestedBackend()) {
        case BackendRequest::kPulse: return OpenPulseBackend();
        case BackendRequest::kSdl: return OpenSdlBackend(SdlDrivers::kAll);
        case BackendRequest::kAny: break;
    }
    if (std::unique_ptr<OutputBackend> pulse = OpenPulseBackend()) return pulse;
    return OpenSdlBackend(SdlDrivers::kAllButPulse);
}

}  // namespace mivo_dsound
