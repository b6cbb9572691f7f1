#include "channel_routing.h"

#include <algorithm>

namespace mivo_dsound {

namespace {

int PopCount(DWORD mask) {
    int count = 0;
    for (; mask != 0; mask &= mask - 1) ++count;
    return count;
}

// Bit of the `index`-th speaker named by `mask`.
DWORD NthSpeaker(DWORD mask, int index) {
    for (; mask != 0; mask &= mask - 1) {
        if (index-- == 0) return mask & (~mask + 1);
    }
    return 0;
}

int ChannelOfSpeaker(DWORD mask, DWORD speaker) {
    if ((mask & speaker) == 0) return -1;
    return PopCount(mask & (speaker - 1));
}

}  // namespace

ChannelRoute RouteChannels(const WaveLayout& from, const WaveLayout& to) {
    ChannelRoute route{};
    for (auto& targets : route.to) targets = {-1, -1};
    const bool named =
        PopCount(from.channelMask) == from.channels && PopCount(to.channelMask) == to.channels;
    if (!named) {
        for (int c = 0; c < from.channels && c < to.channels; ++c) {
            route.to[static_cast<size_t>(c)][0] = static_cast<int8_t>(c);
        }
        return route;
    }
    for (int c = 0; c < from.channels; ++c) {
        auto& targets = route.to[static_cast<size_t>(c)];
        const int direct = ChannelOfSpeaker(to.channelMask, NthSpeaker(from.channelMask, c));
        if (direct >= 0) {
            targets[0] = static_cast<int8_t>(direct);
        } else if (from.channels == 1) {
            targets[0] = static_cast<int8_t>(
                std::max(0, ChannelOfSpeaker(to.channelMask, SPEAKER_FRONT_LEFT)));
            targets[1] = static_cast<int8_t>(ChannelOfSpeaker(to.channelMask, SPEAKER_FRONT_RIGHT));
        }
    }
    return route;
}

}  // namespace mivo_dsound
