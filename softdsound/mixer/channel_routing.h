// Which output channels each source channel plays on, from the speaker
// masks of the two formats.
#pragma once

#include <array>
#include <cstdint>

#include "wave_layout.h"

namespace mivo_dsound {

// Source channel -> up to two output channels (-1: none).
struct ChannelRoute {
    std::array<std::array<int8_t, 2>, kMaxChannels> to;
};

// A channel goes to the output channel of the same speaker. A mono source
// with no centre speaker to go to plays on both front speakers, as
// DirectSound does. Masks that do not name one speaker per channel (0, or
// SPEAKER_ALL) keep the channels in their order.
ChannelRoute RouteChannels(const WaveLayout& from, const WaveLayout& to);

}  // namespace mivo_dsound
