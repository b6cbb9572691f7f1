#include <cstdint>

#include "mivo.h"
#include "platform/platform.h"
#include "restore_retry.h"
#include "streaming_state.h"

int32_t CdsObject::LockStreamingBuffer(uint32_t block, void** data, uint32_t* bytes) {
    if (!StreamingReady(*this) || data == nullptr || bytes == nullptr) return 0;
    if (!BlockNumberValid(*this, block)) return 0;
    CdsBlock& entry = BlockAt(*this, block);
    if (entry.Locked == 1) return 0;

    // A block ends at or before the buffer's end, so it is one region.
    void* start = nullptr;
    DWORD length = 0;
    const bool locked = SucceedsWithOneRestore(*StreamingBuffer, [&] {
        start = nullptr;
        length = 0;
        return StreamingBuffer->Lock(entry.Offset, BlockBytes, &start, &length, nullptr, nullptr,
                                     0);
    });
    if (!locked) {
        *data = nullptr;
        *bytes = 0;
        return 0;
    }
    entry.LockedPtr = start;
    entry.LockedBytes = length;
    entry.Locked = 1;
    *data = start;
    *bytes = length;
    return 1;
}

// A failed unlock keeps the block recorded as locked so that the client can
// try again.
int32_t CdsObject::UnlockStreamingBuffer(uint32_t block) {
    if (!StreamingReady(*this) || !BlockNumberValid(*this, block)) return 0;
    CdsBlock& entry = BlockAt(*this, block);
    if (entry.Locked == 0) return 0;
    if (StreamingBuffer->Unlock(entry.LockedPtr, entry.LockedBytes, nullptr, 0) != DS_OK) return 0;
    entry.Locked = 0;
    entry.LockedPtr = nullptr;
    entry.LockedBytes = 0;
    return 1;
}
