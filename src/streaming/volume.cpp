#include <cstdint>

#include "mivo.h"
#include "platform/platform.h"
#include "streaming_state.h"

int32_t CdsObject::GetStreamingBufferVolume(int32_t* volume, int32_t* maximum, int32_t* minimum) {
    if (!StreamingReady(*this)) return 0;
    LONG current = 0;
    if (StreamingBuffer->GetVolume(&current) != DS_OK) return 0;
    if (volume != nullptr) *volume = static_cast<int32_t>(current);
    if (maximum != nullptr) *maximum = DSBVOLUME_MAX;
    if (minimum != nullptr) *minimum = DSBVOLUME_MIN;
    return 1;
}

int32_t CdsObject::SetStreamingBufferVolume(int32_t volume) {
    if (!StreamingReady(*this)) return 0;
    if (volume > DSBVOLUME_MAX || volume < DSBVOLUME_MIN) return 0;
    return StreamingBuffer->SetVolume(volume) == DS_OK ? 1 : 0;
}
