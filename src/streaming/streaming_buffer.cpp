#include <cstdint>

#include "device/device_state.h"
#include "format/buffer_description.h"
#include "format/wave_format.h"
#include "mivo.h"
#include "platform/platform.h"
#include "table_allocation.h"

namespace {

constexpr DWORD kStreamingFlags =
    DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS | DSBCAPS_CTRLVOLUME;

bool SizesAcceptable(uint32_t bufferBytes, uint32_t blockBytes) {
    return bufferBytes >= DSBSIZE_MIN && bufferBytes <= DSBSIZE_MAX && bufferBytes >= blockBytes &&
           blockBytes != 0 && bufferBytes % blockBytes == 0;
}

// One entry at the last byte of every block on the block event, then the
// stop entry on the stop event.
bool BuildNotifyPositions(CdsObject& object) {
    const uint64_t entries = uint64_t{object.BlockCount} + 1;
    object.NotifyPositions = AllocateTable<DSBPOSITIONNOTIFY>(entries);
    if (object.NotifyPositions == nullptr) return false;
    for (uint32_t i = 0; i < object.BlockCount; ++i) {
        object.NotifyPositions[i].dwOffset = (i + 1) * object.BlockBytes - 1;
        object.NotifyPositions[i].hEventNotify = object.BlockEvent;
    }
    object.NotifyPositions[object.BlockCount].dwOffset = DSBPN_OFFSETSTOP;
    object.NotifyPositions[object.BlockCount].hEventNotify = object.StopEvent;
    return true;
}

bool BuildBlockTable(CdsObject& object) {
    object.Blocks = AllocateTable<CdsBlock>(object.BlockCount);
    if (object.Blocks == nullptr) return false;
    uint32_t offset = 0;
    for (uint32_t i = 0; i < object.BlockCount; ++i, offset += object.BlockBytes) {
        object.Blocks[i] = CdsBlock{offset, nullptr, 0, 0};
    }
    return true;
}

// As with the buffer: a success code other than zero fails the step, but the
// interface it hands back is kept for the removal to release; an error
// code's output stays untouched.
bool OpenNotifyInterface(CdsObject& object) {
    void* notify = nullptr;
    const HRESULT result = object.StreamingBuffer->QueryInterface(kIidDirectSoundNotify, &notify);
    if (result >= 0) object.StreamingNotify = static_cast<IDirectSoundNotify*>(notify);
    return result == DS_OK && notify != nullptr;
}

bool OpenStreamingBuffer(CdsObject& object, bool notified) {
    if (!CreateBuffer(*object.DirectSound, object.StreamingDesc, object.StreamingBuffer)) {
        return false;
    }
    if (notified && !(BuildNotifyPositions(object) && OpenNotifyInterface(object))) return false;
    if (!BuildBlockTable(object)) return false;
    return !notified || object.StreamingNotify->SetNotificationPositions(
                            object.BlockCount + 1, object.NotifyPositions) == DS_OK;
}

}  // namespace

int32_t CdsObject::CreateStreamingBuffer(uint32_t bufferBytes, uint32_t blockBytes,
                                         HANDLE blockEvent, HANDLE stopEvent, int32_t channels,
                                         uint16_t bits, uint16_t validBits, int32_t rate,
                                         int32_t layoutKind) {
    if (!DeviceReady(*this) || PrimaryBufferCreated != 1 || StreamingBufferCreated != 0) return 0;
    if (!SizesAcceptable(bufferBytes, blockBytes) || !ValidBitsFit(bits, validBits)) return 0;
    RemoveStreamingBuffer();

    StopEvent = stopEvent;
    StreamingBufferBytes = bufferBytes;
    BlockBytes = blockBytes;
    BlockCount = bufferBytes / blockBytes;
    BlockEvent = blockEvent;

    const bool notified = blockEvent != nullptr && stopEvent != nullptr;
    FillWaveFormats(channels, bits, validBits, rate, layoutKind, StreamingFormat,
                    StreamingFormatExtensible);
    DescribeBuffer(
        StreamingDesc, notified ? kStreamingFlags | DSBCAPS_CTRLPOSITIONNOTIFY : kStreamingFlags,
        bufferBytes, FormatForPlatform(channels, StreamingFormat, StreamingFormatExtensible));
    if (!OpenStreamingBuffer(*this, notified)) {
        RemoveStreamingBuffer();
        return 0;
    }
    StreamingBufferCreated = 1;
    return 1;
}

// Locked blocks are not unlocked first: releasing the buffer discards them.
void CdsObject::RemoveStreamingBuffer() {
    StreamingBufferCreated = 0;
    FreeTable(Blocks);
    if (StreamingNotify != nullptr) {
        StreamingNotify->Release();
        StreamingNotify = nullptr;
    }
    FreeTable(NotifyPositions);
    if (StreamingBuffer != nullptr) {
        StreamingBuffer->Release();
        StreamingBuffer = nullptr;
    }
    ZeroRecord(StreamingDesc);
    ZeroRecord(StreamingFormat);
    ZeroRecord(StreamingFormatExtensible);
    StopEvent = nullptr;
    BlockEvent = nullptr;
    BlockCount = 0;
    BlockBytes = 0;
    StreamingBufferBytes = 0;
}
