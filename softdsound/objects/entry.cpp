// The library's one export, found by the loader as "DirectSoundCreate".
#include "mivo_dsound.h"
#include "output/output_backend.h"
#include "sound_device.h"

extern "C" __attribute__((visibility("default"))) HRESULT DirectSoundCreate(const GUID* device,
                                                                            IDirectSound** out,
                                                                            IUnknown* outer) {
    using namespace mivo_dsound;
    if (out == nullptr) return DSERR_INVALIDPARAM;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    // One output only: the system's default.
    if (device != nullptr && !IsEqualGUID(*device, kDefaultPlaybackDevice)) return DSERR_NODRIVER;
    std::unique_ptr<OutputBackend> backend = ChooseBackend();
    if (!backend) return DSERR_NODRIVER;
    SoundDevice* created = nullptr;
    const HRESULT result = SoundDevice::Create(std::move(backend), &created);
    if (result == DS_OK) *out = created;
    return result;
}
