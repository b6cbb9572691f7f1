#pragma once

#include <cstdint>

#include "device/device_state.h"
#include "mivo.h"

// Checked in this order by every operation on the streaming buffer.
inline bool StreamingReady(const CdsObject& object) {
    return DeviceReady(object) && object.PrimaryBufferCreated == 1 &&
           object.StreamingBufferCreated == 1;
}

// Blocks are numbered from 1 to BlockCount.
inline bool BlockNumberValid(const CdsObject& object, uint32_t block) {
    return block <= object.BlockCount && block != 0;
}

inline CdsBlock& BlockAt(CdsObject& object, uint32_t block) { return object.Blocks[block - 1]; }
