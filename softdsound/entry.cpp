// The library's one export, found by the loader as "DirectSoundCreate".
#include "com_identity.h"
#include "dsound.h"
#include "sound_device.h"

extern "C" __attribute__((visibility("default"))) HRESULT DirectSoundCreate(const GUID* device,
                                                                            IDirectSound** out,
                                                                            IUnknown* outer) {
    using namespace mivo_dsound;
    if (out == nullptr) return DSERR_INVALIDPARAM;
    *out = nullptr;
    if (outer != nullptr) return DSERR_NOAGGREGATION;
    // One output only: the system's default.
    if (device != nullptr && !IsEqualGUID(*device, kDefaultPlayback)) return DSERR_NODRIVER;
    SoundDevice* created = nullptr;
    const HRESULT result = SoundDevice::Create(&created);
    if (result == DS_OK) *out = created;
    return result;
}
