// libpulse as an output backend: a playback stream on a PulseAudio-protocol
// server, refilled from the loop's thread as the server asks, holding what
// the latency policy targets.
#pragma once

#include <memory>
#include <string>

#include "output_backend.h"

namespace mivo_dsound {

class PulseLoop;

// Null when no PulseAudio-protocol server answers (none is ever started).
std::unique_ptr<OutputBackend> OpenPulseBackend();

// What a stream is opened with: the format the device mixes for it, and
// whether the server is PipeWire's pulse server.
struct PulseStreamPlan {
    OutputFormat format;
    bool pipewire = false;
};

// A stream on `sink` (empty: the server's default), not yet started, or
// null when the server refuses it.
std::unique_ptr<Output> OpenPulseOutput(PulseLoop& loop, const PulseStreamPlan& plan,
                                        const std::string& sink, RenderTarget& target,
                                        const TimeSource& time);

}  // namespace mivo_dsound
