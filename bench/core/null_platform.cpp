// A platform that answers every call at once and does nothing, linked in
// place of the real loader so that benchmarks time the library alone. Calls
// go through the same virtual interfaces as on a real device.
#include "null_platform.h"

#include <cstdlib>

namespace {

unsigned char samples[1 << 16];

// Derived is the concrete class, so that the last Release deletes it whole.
template <typename Interface, typename Derived>
class Null : public Interface {
public:
    HRESULT QueryInterface(const IID&, void** object) override;
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete static_cast<Derived*>(this);
        return left;
    }

protected:
    ~Null() = default;

private:
    ULONG refs_ = 1;
};

class NullNotify final : public Null<IDirectSoundNotify, NullNotify> {
public:
    HRESULT SetNotificationPositions(DWORD, const DSBPOSITIONNOTIFY*) override { return DS_OK; }
};

template <typename Interface, typename Derived>
HRESULT Null<Interface, Derived>::QueryInterface(const IID&, void** object) {
    *object = static_cast<IDirectSoundNotify*>(new NullNotify);
    return DS_OK;
}

class NullBuffer final : public Null<IDirectSoundBuffer, NullBuffer> {
public:
    HRESULT GetCaps(DSBCAPS*) override { return DS_OK; }
    HRESULT GetCurrentPosition(DWORD* play, DWORD* write) override {
        if (play != nullptr) *play = 0;
        if (write != nullptr) *write = 0;
        return DS_OK;
    }
    HRESULT GetFormat(WAVEFORMATEX* format, DWORD, DWORD* written) override {
        if (written != nullptr) *written = sizeof format_;
        if (format != nullptr) *format = format_;
        return DS_OK;
    }
    HRESULT GetVolume(LONG* volume) override {
        *volume = 0;
        return DS_OK;
    }
    HRESULT GetPan(LONG*) override { return DS_OK; }
    HRESULT GetFrequency(DWORD*) override { return DS_OK; }
    HRESULT GetStatus(DWORD*) override { return DS_OK; }
    HRESULT Initialize(IDirectSound*, const DSBUFFERDESC*) override { return DS_OK; }
    HRESULT Lock(DWORD offset, DWORD bytes, void** p1, DWORD* n1, void**, DWORD*, DWORD) override {
        *p1 = samples + (offset % sizeof samples);
        *n1 = bytes;
        return DS_OK;
    }
    HRESULT Play(DWORD, DWORD, DWORD) override { return DS_OK; }
    HRESULT SetCurrentPosition(DWORD) override { return DS_OK; }
    HRESULT SetFormat(const WAVEFORMATEX* format) override {
        format_ = *format;
        return DS_OK;
    }
    HRESULT SetVolume(LONG) override { return DS_OK; }
    HRESULT SetPan(LONG) override { return DS_OK; }
    HRESULT SetFrequency(DWORD) override { return DS_OK; }
    HRESULT Stop() override { return DS_OK; }
    HRESULT Unlock(void*, DWORD, void*, DWORD) override { return DS_OK; }
    HRESULT Restore() override { return DS_OK; }

private:
    WAVEFORMATEX format_{};
};

class NullDevice final : public Null<IDirectSound, NullDevice> {
public:
    HRESULT CreateSoundBuffer(const DSBUFFERDESC*, IDirectSoundBuffer** buffer,
                              IUnknown*) override {
        *buffer = new NullBuffer;
        return DS_OK;
    }
    HRESULT GetCaps(DSCAPS*) override { return DS_OK; }
    HRESULT DuplicateSoundBuffer(IDirectSoundBuffer*, IDirectSoundBuffer**) override {
        return DSERR_UNSUPPORTED;
    }
    HRESULT SetCooperativeLevel(HWND, DWORD) override { return DS_OK; }
    HRESULT Compact() override { return DS_OK; }
    HRESULT GetSpeakerConfig(DWORD* config) override {
        *config = DSSPEAKER_STEREO;
        return DS_OK;
    }
    HRESULT SetSpeakerConfig(DWORD) override { return DS_OK; }
    HRESULT Initialize(const GUID*) override { return DS_OK; }
};

HRESULT WINAPI NullDirectSoundCreate(const GUID*, IDirectSound** out, IUnknown*) {
    *out = new NullDevice;
    return DS_OK;
}

int moduleTag = 0;

}  // namespace

HMODULE LoadLibraryA(const char*) { return reinterpret_cast<HMODULE>(&moduleTag); }

FARPROC GetProcAddress(HMODULE, const char*) {
    return reinterpret_cast<FARPROC>(&NullDirectSoundCreate);
}

int FreeLibrary(HMODULE) { return 1; }

void* PlatformAllocate(std::size_t bytes) { return std::malloc(bytes); }

void PlatformFree(void* memory) { std::free(memory); }
