// A secondary buffer as the mixer sees it.
#pragma once

#include <cstdint>
#include <vector>

#include "channel_routing.h"
#include "mivo_dsound.h"
#include "sample_converters.h"
#include "wave_layout.h"

namespace mivo_dsound {

struct Notification {
    DWORD offset;  // byte offset, or DSBPN_OFFSETSTOP
    int fd;
};

// Owned by its buffer object, changed only through the Mixer, under its
// lock. The client writes `samples` between Lock and Unlock, which both take
// that lock, so the audio threads and the client see each other's bytes in
// order.
struct Voice {
    WaveLayout layout;
    FrameReader read = nullptr;
    ChannelRoute route{};  // to the current output
    std::vector<uint8_t> samples;
    uint32_t frames = 0;
    bool playing = false;
    bool looping = false;
    bool lost = false;
    uint32_t position = 0;  // next frame to mix
    uint32_t fraction = 0;  // between `position` and the next frame, of 2^32
    LONG volume = DSBVOLUME_MAX;
    int64_t gain = 0;  // amplitude in 2^-30
    // The output frame it starts at: Play starts a buffer at the clock's
    // present, even when earlier output frames are still to be mixed.
    uint64_t startFrame = 0;
    std::vector<Notification> notifications;
};

// What Lock hands the client: the region and, when it wraps, its second part.
struct LockedRegion {
    void* first = nullptr;
    DWORD firstBytes = 0;
    void* second = nullptr;
    DWORD secondBytes = 0;
};

struct VoiceStatus {
    bool playing;
    bool looping;
    bool lost;
};

// Amplitude of a DirectSound volume (hundredths of a decibel) in 2^-30.
int64_t GainOfVolume(LONG volume);
constexpr int64_t kUnityGain = int64_t{1} << 30;

}  // namespace mivo_dsound
