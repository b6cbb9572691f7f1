// The output's format as libpulse describes it.
#pragma once

#include <pulse/channelmap.h>
#include <pulse/sample.h>

#include "output_backend.h"

namespace mivo_dsound {

// 8-bit unsigned, 16 and 32-bit signed, or 32-bit float, in this machine's
// order; 24-bit travels in 32-bit containers.
pa_sample_spec PulseSamples(const OutputFormat& format);

// Channels take the speakers of the mask, lowest bit first, when it names
// one per channel; otherwise they keep Windows' order for their count.
pa_channel_map PulseChannelMap(const OutputFormat& format);

// The Windows speaker mask of a server's channel map, or 0 when one of its
// positions has no Windows speaker or comes twice.
DWORD SpeakerMaskOf(const pa_channel_map& map);

}  // namespace mivo_dsound
