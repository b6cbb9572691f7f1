#include "device_state.h"
#include "mivo.h"
#include "platform/platform.h"

int32_t CdsObject::SetApplicationMode(int32_t mode) {
    if (!DeviceReady(*this)) return 0;
    DWORD level = 0;
    switch (mode) {
        case CdsModePriority: level = DSSCL_PRIORITY; break;
        case CdsModeExclusive: level = DSSCL_EXCLUSIVE; break;
        default: return 0;
    }
    if (DirectSound->SetCooperativeLevel(Window, level) != DS_OK) return 0;
    DirectSound->Compact();
    ApplicationMode = mode;
    return 1;
}
