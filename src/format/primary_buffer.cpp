#include <cstddef>
#include <cstring>

#include "buffer_description.h"
#include "device/device_state.h"
#include "mivo.h"
#include "platform/platform.h"
#include "wave_format.h"

namespace {

// The verification reads channels, rate and bits, which end here.
constexpr DWORD kComparedBytes = offsetof(WAVEFORMATEX, wBitsPerSample) + sizeof(WORD);

bool SameOutput(const WAVEFORMATEX& held, const WAVEFORMATEX& wanted) {
    return held.nChannels == wanted.nChannels && held.wBitsPerSample == wanted.wBitsPerSample &&
           held.nSamplesPerSec == wanted.nSamplesPerSec;
}

// Asks the device which format it now holds, in DirectSound's two calls
// (size, then record), and compares it with the plain record.
bool DeviceHoldsFormat(IDirectSoundBuffer& buffer, const WAVEFORMATEX& wanted) {
    DWORD size = 0;
    if (buffer.GetFormat(nullptr, 0, &size) != DS_OK) return false;
    if (size < kComparedBytes) return false;

    void* scratch = PlatformAllocate(size);
    if (scratch == nullptr) return false;
    bool holds = false;
    if (buffer.GetFormat(static_cast<WAVEFORMATEX*>(scratch), size, nullptr) == DS_OK) {
        WAVEFORMATEX held{};
        std::memcpy(&held, scratch, kComparedBytes);
        holds = SameOutput(held, wanted);
    }
    PlatformFree(scratch);
    return holds;
}

bool OpenPrimaryBuffer(CdsObject& object, int32_t channels) {
    if (!CreateBuffer(*object.DirectSound, object.PrimaryDesc, object.PrimaryBuffer)) return false;
    const WAVEFORMATEX* format =
        FormatForPlatform(channels, object.PrimaryFormat, object.PrimaryFormatExtensible);
    if (object.PrimaryBuffer->SetFormat(format) != DS_OK) return false;
    return DeviceHoldsFormat(*object.PrimaryBuffer, object.PrimaryFormat);
}

}  // namespace

int32_t CdsObject::CreatePrimaryBuffer(int32_t channels, uint16_t bits, uint16_t validBits,
                                       int32_t rate, int32_t layoutKind) {
    if (!DeviceReady(*this) || !ValidBitsFit(bits, validBits)) return 0;
    RemovePrimaryBuffer();

    DescribeBuffer(PrimaryDesc, DSBCAPS_PRIMARYBUFFER, 0, nullptr);
    FillWaveFormats(channels, bits, validBits, rate, layoutKind, PrimaryFormat,
                    PrimaryFormatExtensible);
    if (!OpenPrimaryBuffer(*this, channels)) {
        RemovePrimaryBuffer();
        return 0;
    }
    PrimaryBufferCreated = 1;
    return 1;
}

void CdsObject::RemovePrimaryBuffer() {
    PrimaryBufferCreated = 0;
    if (PrimaryBuffer != nullptr) {
        PrimaryBuffer->Release();
        PrimaryBuffer = nullptr;
    }
    ZeroRecord(PrimaryFormatExtensible);
    ZeroRecord(PrimaryFormat);
    ZeroRecord(PrimaryDesc);
}
