#include <cstdint>

#include "device_state.h"
#include "mivo.h"
#include "platform/platform.h"

namespace {

// Speakers per DSSPEAKER_* configuration, indexed by the whole reported
// value; values past the table count as stereo.
int32_t SpeakersFor(DWORD configuration) {
    constexpr int32_t kSpeakers[] = {
        0,  // DSSPEAKER_DIRECTOUT
        2,  // DSSPEAKER_HEADPHONE
        1,  // DSSPEAKER_MONO
        4,  // DSSPEAKER_QUAD
        2,  // DSSPEAKER_STEREO
        5,  // DSSPEAKER_SURROUND
        6,  // DSSPEAKER_5POINT1
        8,  // DSSPEAKER_7POINT1
    };
    constexpr DWORD kKnown = sizeof kSpeakers / sizeof kSpeakers[0];
    return configuration < kKnown ? kSpeakers[configuration] : 2;
}

}  // namespace

int32_t CdsObject::GetNumberOfSystemSpeakerConfig(int32_t* count) {
    if (!DeviceReady(*this)) return 0;
    DWORD configuration = 0;
    if (DirectSound->GetSpeakerConfig(&configuration) != DS_OK) return 0;
    if (count != nullptr) *count = SpeakersFor(configuration);
    return 1;
}
