#include "platform_binding.h"

#include <cstddef>
#include <cstring>
#include <mutex>

#include "mivo.h"

namespace {

// Guarded by BindingMutex, like the two fields below it.
std::mutex BindingMutex;
std::size_t LiveObjects = 0;
HMODULE SoundLibrary = nullptr;
DirectSoundCreateFunction DirectSoundCreateEntry = nullptr;

DirectSoundCreateFunction AsDirectSoundCreate(FARPROC entry) {
    DirectSoundCreateFunction function = nullptr;
    static_assert(sizeof function == sizeof entry, "function pointers differ in size");
    std::memcpy(&function, &entry, sizeof function);
    return function;
}

}  // namespace

void AttachToPlatform() {
    const std::lock_guard<std::mutex> lock(BindingMutex);
    ++LiveObjects;
}

int32_t OpenPlatformDevice(const GUID* device, IDirectSound** opened) {
    const std::lock_guard<std::mutex> lock(BindingMutex);
    if (SoundLibrary == nullptr) {
        SoundLibrary = LoadLibraryA("dsound.dll");
        if (SoundLibrary == nullptr) return CdsStatusNoLibrary;
    }
    DirectSoundCreateEntry = AsDirectSoundCreate(GetProcAddress(SoundLibrary, "DirectSoundCreate"));
    if (DirectSoundCreateEntry == nullptr) return CdsStatusNoEntryPoint;

    // The call stays under the lock so that no concurrent destruction can
    // unload the library while it runs. Whatever a failing DirectSoundCreate
    // left in its output is neither kept nor released: the call opened no
    // device, so there is no object to own. (CreateSoundBuffer and
    // QueryInterface differ: there a success code hands over a live
    // reference, which the library keeps in order to release it.)
    IDirectSound* created = nullptr;
    if (DirectSoundCreateEntry(device, &created, nullptr) != DS_OK || created == nullptr) {
        return CdsStatusNoDevice;
    }
    *opened = created;
    return CdsStatusReady;
}

void DetachFromPlatform() {
    const std::lock_guard<std::mutex> lock(BindingMutex);
    if (LiveObjects > 0) --LiveObjects;
    if (LiveObjects > 0) return;
    if (SoundLibrary != nullptr) {
        FreeLibrary(SoundLibrary);
        SoundLibrary = nullptr;
    }
    DirectSoundCreateEntry = nullptr;
}
