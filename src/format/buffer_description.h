#pragma once

#include <cstring>

#include "platform/platform.h"

// A buffer description from all-zero bytes. The size is the record's size in
// this build (40 bytes on 64-bit, 36 on 32-bit): DirectSound refuses any
// other with DSERR_INVALIDPARAM.
inline void DescribeBuffer(DSBUFFERDESC& desc, DWORD flags, DWORD bytes, WAVEFORMATEX* format) {
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof(DSBUFFERDESC);
    desc.dwFlags = flags;
    desc.dwBufferBytes = bytes;
    desc.lpwfxFormat = format;
}

// Creates a buffer from `desc`. Only a zero result with an object counts;
// whatever a failing call left in its output is neither kept nor released.
inline bool CreateBuffer(IDirectSound& device, const DSBUFFERDESC& desc,
                         IDirectSoundBuffer*& buffer) {
    IDirectSoundBuffer* created = nullptr;
    if (device.CreateSoundBuffer(&desc, &created, nullptr) != DS_OK || created == nullptr) {
        return false;
    }
    buffer = created;
    return true;
}
