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
