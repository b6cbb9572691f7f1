#include "pulse_format.h"

#include <algorithm>
#include <bitset>
#include <iterator>

namespace mivo_dsound {

namespace {

// Windows' speaker bits, lowest first.
constexpr pa_channel_position_t kSpeakers[] = {PA_CHANNEL_POSITION_FRONT_LEFT,
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

}  // namespace

pa_sample_spec PulseSamples(const OutputFormat& format) {
    pa_sample_spec samples{};
    switch (format.floating ? 0 : format.bits) {
        case 0: samples.format = PA_SAMPLE_FLOAT32NE; break;
        case 8: samples.format = PA_SAMPLE_U8; break;
        case 16: samples.format = PA_SAMPLE_S16NE; break;
        default: samples.format = PA_SAMPLE_S32NE; break;
    }
    samples.rate = format.rate;
    samples.channels = static_cast<uint8_t>(format.channels);
    return samples;
}

pa_channel_map PulseChannelMap(const OutputFormat& format) {
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

DWORD SpeakerMaskOf(const pa_channel_map& map) {
    DWORD mask = 0;
    for (unsigned channel = 0; channel < map.channels; ++channel) {
        const pa_channel_position_t* speaker =
            std::find(std::begin(kSpeakers), std::end(kSpeakers), map.map[channel]);
        if (speaker == std::end(kSpeakers)) return 0;
        const DWORD bit = DWORD{1} << (speaker - std::begin(kSpeakers));
        if ((mask & bit) != 0) return 0;
        mask |= bit;
    }
    return mask;
}

}  // namespace mivo_dsound
