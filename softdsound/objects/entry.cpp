// The library's exports, found by the loader as DirectSound's entry points:
// DirectSoundCreate, and DirectSoundEnumerateA/W for the outputs.
#include <memory>
#include <mutex>
#include <string>

#include "mivo_dsound.h"
#include "output/output_backend.h"
#include "output_directory.h"
#include "sound_device.h"

namespace {

using namespace mivo_dsound;

// Every device of the process plays through one backend (one connection to
// a sound server), so that devices on one output share its engine. A new
// one is chosen once the last device has gone.
std::shared_ptr<OutputBackend> SharedBackend() {
    static auto* mutex = new std::mutex;  // used until the process ends
    static auto* shared = new std::weak_ptr<OutputBackend>;
    std::lock_guard<std::mutex> hold(*mutex);
    std::shared_ptr<OutputBackend> backend = shared->lock();
    if (!backend) {
        backend = ChooseBackend();
        *shared = backend;
    }
    return backend;
}

template <typename Visit>
HRESULT Enumerate(bool haveCallback, const Visit& visit) {
    if (!haveCallback) return DSERR_INVALIDPARAM;
    const std::shared_ptr<OutputBackend> backend = SharedBackend();
    if (!backend) {
        // With no backend there is still the default entry, as on a
        // Windows machine without sound hardware; opening it fails.
        visit(nullptr, std::string(kDefaultOutputDescription), std::string());
        return DS_OK;
    }
    WalkOutputs(*backend, visit);
    return DS_OK;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DirectSoundCreate(const GUID* device,
                                                                            IDirectSound** out,
                                                                            IUnknown* outer) {
    if (out == nullptr) return DSERR_INVALIDPARAM;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    const std::shared_ptr<OutputBackend> backend = SharedBackend();
    if (!backend) return DSERR_NODRIVER;
    OutputInfo output;
    if (!FindOutput(*backend, device, output)) return DSERR_NODRIVER;
    SoundDevice* created = nullptr;
    const HRESULT result = SoundDevice::Create(backend, output, &created);
    if (result == DS_OK) *out = created;
    return result;
}

// The callback gets a GUID it may keep only during the call, as on Windows.
extern "C" __attribute__((visibility("default"))) HRESULT DirectSoundEnumerateA(
    LPDSENUMCALLBACKA callback, LPVOID context) {
    return Enumerate(callback != nullptr, [&](const GUID* guid, const std::string& description,
                                              const std::string& module) {
        GUID copy = guid != nullptr ? *guid : GUID{};
        return callback(guid != nullptr ? &copy : nullptr, description.c_str(), module.c_str(),
                        context) != FALSE;
    });
}

extern "C" __attribute__((visibility("default"))) HRESULT DirectSoundEnumerateW(
    LPDSENUMCALLBACKW callback, LPVOID context) {
    return Enumerate(callback != nullptr, [&](const GUID* guid, const std::string& description,
                                              const std::string& module) {
        GUID copy = guid != nullptr ? *guid : GUID{};
        const std::u16string wideDescription = Utf16(description);
        const std::u16string wideModule = Utf16(module);
        return callback(guid != nullptr ? &copy : nullptr, wideDescription.c_str(),
                        wideModule.c_str(), context) != FALSE;
    });
}
