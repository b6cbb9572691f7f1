// libpulse as an output backend: a playback stream on a PulseAudio-protocol
// server, refilled from the loop's thread as the server asks, holding what
// the latency policy targets.
#pragma once

#include <memory>

#include "output_backend.h"

namespace mivo_dsound {

// Null when no PulseAudio-protocol server answers (none is ever started).
std::unique_ptr<OutputBackend> OpenPulseBackend();

}  // namespace mivo_dsound
