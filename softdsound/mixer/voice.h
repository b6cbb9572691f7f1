// A secondary buffer as the mixer sees it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "channel_routing.h"
#include "mivo_dsound.h"
#include "resampler.h"
#include "sample_converters.h"
#include "wave_layout.h"

namespace mivo_dsound {

struct Notification {
    DWORD offset;  // byte offset, or DSBPN_OFFSETSTOP
    int fd;
};

// The voices of one device object: its primary buffer's volume scales
// them all. Changed only through the Mixer, under its lock.
struct VoiceGroup {
    float master = 1.0f;
};

// Owned by its buffer object, changed only through the Mixer, under its
// lock. The client writes `samples` between Lock and Unlock, which both take
// that lock, so the audio threads and the client see each other's bytes in
// order.
struct Voice {
    WaveLayout layout;
    SampleReader read = nullptr;
    ChannelRoute route{};  // to the current output
    // To the output's rate, when the voice's differs; its filter starts
    // afresh whenever the voice does.
    std::unique_ptr<VoiceResampler> resampler;
    std::vector<uint8_t> samples;
    uint32_t frames = 0;
    bool playing = false;
    bool looping = false;
    bool lost = false;
    uint32_t position = 0;  // next frame to mix
    uint32_t phase = 0;     // between `position` and the next frame (see RateStep)
    // Output frames of a finished one-shot voice still in its resampler.
    uint32_t tail = 0;
    LONG volume = DSBVOLUME_MAX;
    float gain = 1.0f;
    const VoiceGroup* group = nullptr;  // its device's, which outlives it
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

// Amplitude of a DirectSound volume (hundredths of a decibel): 1 at 0,
// silence at -10000.
float GainOfVolume(LONG volume);

}  // namespace mivo_dsound
