#include <cstdint>

#include "mivo.h"
#include "platform/platform.h"
#include "restore_retry.h"
#include "streaming_state.h"

int32_t CdsObject::PlayStreamingBuffer() {
    if (!StreamingReady(*this)) return 0;
    const bool playing = SucceedsWithOneRestore(
        *StreamingBuffer, [this] { return StreamingBuffer->Play(0, 0, DSBPLAY_LOOPING); });
    return playing ? 1 : 0;
}

int32_t CdsObject::StopStreamingBuffer() {
    if (!StreamingReady(*this)) return 0;
    return StreamingBuffer->Stop() == DS_OK ? 1 : 0;
}

int32_t CdsObject::ResetStreamingBuffer() {
    if (!StreamingReady(*this)) return 0;
    return StreamingBuffer->SetCurrentPosition(0) == DS_OK ? 1 : 0;
}

int32_t CdsObject::RestoreStreamingBuffer() {
    if (!StreamingReady(*this)) return 0;
    return StreamingBuffer->Restore() == DS_OK ? 1 : 0;
}

int32_t CdsObject::SetStreamingBufferPosition(uint32_t block) {
    if (!StreamingReady(*this) || !BlockNumberValid(*this, block)) return 0;
    return StreamingBuffer->SetCurrentPosition(BlockAt(*this, block).Offset) == DS_OK ? 1 : 0;
}

// The platform's cursor type may be wider in name than uint32_t, so the
// cursors pass through locals; a null pointer stays null.
int32_t CdsObject::GetStreamingBufferPositions(uint32_t* play, uint32_t* write) {
    if (!StreamingReady(*this)) return 0;
    DWORD playCursor = 0;
    DWORD writeCursor = 0;
    if (StreamingBuffer->GetCurrentPosition(play != nullptr ? &playCursor : nullptr,
                                            write != nullptr ? &writeCursor : nullptr) != DS_OK) {
        return 0;
    }
    if (play != nullptr) *play = static_cast<uint32_t>(playCursor);
    if (write != nullptr) *write = static_cast<uint32_t>(writeCursor);
    return 1;
}
