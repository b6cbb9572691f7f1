// A minimal DirectSound for the loader tests: one device object that
// answers a 7.1 speaker configuration and counts the live devices, so that a
// test can tell it reached this library and that everything was released.
#include <atomic>

#include "platform/platform.h"

#define DOUBLE_EXPORT extern "C" __attribute__((visibility("default")))

extern "C" {
__attribute__((visibility("default"))) std::atomic<int> mivo_double_live_devices{0};
}

namespace {

class DoubleDevice final : public IDirectSound {
public:
    DoubleDevice() { ++mivo_double_live_devices; }

    HRESULT QueryInterface(const IID&, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) {
            --mivo_double_live_devices;
            delete this;
        }
        return left;
    }
    HRESULT CreateSoundBuffer(const DSBUFFERDESC*, IDirectSoundBuffer**, IUnknown*) override {
        return DSERR_UNSUPPORTED;
    }
    HRESULT GetCaps(DSCAPS*) override { return DSERR_UNSUPPORTED; }
    HRESULT DuplicateSoundBuffer(IDirectSoundBuffer*, IDirectSoundBuffer**) override {
        return DSERR_UNSUPPORTED;
    }
    HRESULT SetCooperativeLevel(HWND window, DWORD) override {
        return window != nullptr ? DS_OK : DSERR_INVALIDPARAM;
    }
    HRESULT Compact() override { return DS_OK; }
    HRESULT GetSpeakerConfig(DWORD* config) override {
        *config = DSSPEAKER_7POINT1;
        return DS_OK;
    }
    HRESULT SetSpeakerConfig(DWORD) override { return DSERR_UNSUPPORTED; }
    HRESULT Initialize(const GUID*) override { return DSERR_ALREADYINITIALIZED; }

private:
    ULONG refs_ = 1;
};

}  // namespace

DOUBLE_EXPORT HRESULT DirectSoundCreate(const GUID* device, IDirectSound** out, IUnknown*) {
    *out = nullptr;
    if (device != nullptr) return DSERR_NODRIVER;
    *out = new DoubleDevice;
    return DS_OK;
}
