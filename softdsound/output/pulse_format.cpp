#include "pulse_format.h"

#include <bitset>

namespace mivo_dsound {

pa_sample_spec PulseSamples(const OutputFormat& format) {
    pa_sample_spec samples{};
    switch (format.bits) {
        case 8: samples.format = PA_SAMPLE_U8; break;
        case 16: samples.format = PA_SAMPLE_S16NE; break;
        default: samples.format = PA_SAMPLE_S32NE; break;
    }
    samples.rate = format.rate;
    samples.channels = static_cast<uint8_t>(format.channels);
    return samples;
}

pa_channel_map PulseChannelMap(const OutputFormat& format) {
    // Windows' speaker bits, lowest first.
    static constexpr pa_channel_position_t kSpeakers[] = {PA_CHANNEL_POSITION_FRONT_LEFT,
                                                          PA_CHANNEL_POSITION_FRONT_RIGHT,
                                                          PA_CHANNEL_POSITION_FRONT_CENTER,
                                                          PA_CHANNEL_POSITION_LFE,
                                                          PA_CHANNEL_POSITION_REAR_LEFT,
                                                          PA_CHANNEL_POSITION_REAR_RIGHT,
                                                          PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER,
                                                          PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER,
                                                          PA_CHANNEL_POSITION_REAR_CENTER,
                                                          PA_CHANNEL_POSITION_SIDE_LEFT,
                                                          PA_CHANNEL_POSITION_SIDE_RIGHT,
                                                          PA_CHANNEL_POSITION_TOP_CENTER,
                                                          PA_CHANNEL_POSITION_TOP_FRONT_LEFT,
                                                          PA_CHANNEL_POSITION_TOP_FRONT_CENTER,
                                                          PA_CHANNEL_POSITION_TOP_FRONT_RIGHT,
                                                          PA_CHANNEL_POSITION_TOP_REAR_LEFT,
                                                          PA_CHANNEL_POSITION_TOP_REAR_CENTER,
                                                          PA_CHANNEL_POSITION_TOP_REAR_RIGHT};
    constexpr unsigned kKnown = sizeof kSpeakers / sizeof kSpeakers[0];
    const std::bitset<kKnown> named(format.channelMask);
    const auto channels = static_cast<unsigned>(format.channels);
    pa_channel_map map{};
    if (named.count() != channels || format.channelMask >> kKnown != 0) {
        pa_channel_map_init_extend(&map, channels, PA_CHANNEL_MAP_WAVEEX);
        return map;
    }
    map.channels = static_cast<uint8_t>(channels);
    unsigned channel = 0;
    for (unsigned bit = 0; bit < kKnown; ++bit) {
        if (named.test(bit)) map.map[channel++] = kSpeakers[bit];
    }
    return map;
}

}  // namespace mivo_dsound
