#include "device_state.h"
#include "mivo.h"
#include "platform_binding.h"

namespace {

void ResetToEmpty(CdsObject& object) {
    object.DirectSound = nullptr;
    object.PrimaryBuffer = nullptr;
    object.StreamingBuffer = nullptr;
    object.StreamingNotify = nullptr;
    object.NotifyPositions = nullptr;
    ZeroRecord(object.PrimaryDesc);
    ZeroRecord(object.PrimaryFormat);
    ZeroRecord(object.PrimaryFormatExtensible);
    ZeroRecord(object.StreamingDesc);
    ZeroRecord(object.StreamingFormat);
    ZeroRecord(object.StreamingFormatExtensible);
    object.ApplicationMode = -1;
    object.Window = nullptr;
    object.InitStatus = CdsStatusReady;
    object.StreamingBufferBytes = 0;
    object.BlockBytes = 0;
    object.BlockCount = 0;
    object.BlockEvent = nullptr;
    object.StopEvent = nullptr;
    object.Blocks = nullptr;
    object.StreamingBufferCreated = 0;
    object.PrimaryBufferCreated = 0;
    object.DeviceGuid = nullptr;
}

}  // namespace

CdsObject::CdsObject(HWND window, const GUID* device) {
    ResetToEmpty(*this);
    AttachToPlatform();
    if (window == nullptr) {
        InitStatus = CdsStatusNoWindow;
        return;
    }
    IDirectSound* opened = nullptr;
    InitStatus = OpenPlatformDevice(device, &opened);
    if (InitStatus != CdsStatusReady) return;
    DirectSound = opened;
    Window = window;
    DeviceGuid = device;
}

CdsObject::~CdsObject() {
    RemovePrimaryBuffer();
    RemoveStreamingBuffer();
    if (DirectSound != nullptr) {
        DirectSound->Release();
        DirectSound = nullptr;
    }
    Window = nullptr;
    DeviceGuid = nullptr;
    DetachFromPlatform();
}

// Each object owns its device, buffers and tables alone; copying any of them
// would release them twice. Assignment keeps the target as it is, which also
// makes self-assignment harmless.
// NOLINTNEXTLINE(bugprone-unhandled-self-assignment)
CdsObject& CdsObject::operator=(const CdsObject& /*other*/) { return *this; }

int32_t CdsObject::InitializationSuccessful() const { return DeviceReady(*this) ? 1 : 0; }
