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

// Creates a buffer from `desc` into `buffer`, which must be null; the
// caller's removal releases whatever ends up there. Only a zero result with
// an object counts as created. Any other success code (DS_NO_VIRTUALIZATION,
// S_FALSE) fails the step too, yet the object it hands back is a live
// reference of ours, so it is kept for that release. An error code's output
// is not ours, whatever the callee left in it, and stays untouched.
inline bool CreateBuffer(IDirectSound& device, const DSBUFFERDESC& desc,
                         IDirectSoundBuffer*& buffer) {
    IDirectSoundBuffer* created = nullptr;
    const HRESULT result = device.CreateSoundBuffer(&desc, &created, nullptr);
    if (result >= 0) buffer = created;
    return result == DS_OK && created != nullptr;
}
