#include "buffer_request.h"

#include <cstddef>

namespace mivo_dsound {

namespace {

// DirectSound accepts the record of this build and its older form, which
// ends before guid3DAlgorithm (DSBUFFERDESC1).
constexpr DWORD kCurrentSize = sizeof(DSBUFFERDESC);
constexpr DWORD kOlderSize = offsetof(DSBUFFERDESC, guid3DAlgorithm);

constexpr DWORD kKnownFlags = DSBCAPS_PRIMARYBUFFER | DSBCAPS_STATIC | DSBCAPS_LOCHARDWARE |
                              DSBCAPS_LOCSOFTWARE | DSBCAPS_CTRL3D | DSBCAPS_CTRLFREQUENCY |
                              DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPOSITIONNOTIFY |
                              DSBCAPS_CTRLFX | DSBCAPS_STICKYFOCUS | DSBCAPS_GLOBALFOCUS |
                              DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_MUTE3DATMAXDISTANCE |
                              DSBCAPS_LOCDEFER | DSBCAPS_TRUEPLAYPOSITION;

// A primary buffer is the output itself: it has no memory of its own to
// notify on, resample or apply effects to.
constexpr DWORD kNotForPrimary = DSBCAPS_STATIC | DSBCAPS_CTRLPOSITIONNOTIFY |
                                 DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLFX | DSBCAPS_LOCDEFER;

}  // namespace

HRESULT ReadBufferDescription(const DSBUFFERDESC* desc, BufferRequest& request) {
    if (desc == nullptr) return DSERR_INVALIDPARAM;
    if (desc->dwSize != kCurrentSize && desc->dwSize != kOlderSize) return DSERR_INVALIDPARAM;
    const DWORD flags = desc->dwFlags;
    if ((flags & ~kKnownFlags) != 0) return DSERR_INVALIDPARAM;
    if ((flags & DSBCAPS_LOCHARDWARE) != 0 && (flags & DSBCAPS_LOCSOFTWARE) != 0) {
        return DSERR_INVALIDPARAM;
    }
    // Everything here is mixed in software, without 3D or effects.
    if ((flags & (DSBCAPS_LOCHARDWARE | DSBCAPS_CTRL3D | DSBCAPS_CTRLFX)) != 0) {
        return DSERR_UNSUPPORTED;
    }

    BufferRequest read;
    read.flags = flags;
    read.primary = (flags & DSBCAPS_PRIMARYBUFFER) != 0;
    if (read.primary) {
        if ((flags & kNotForPrimary) != 0) return DSERR_INVALIDPARAM;
        if (desc->dwBufferBytes != 0 || desc->lpwfxFormat != nullptr) return DSERR_INVALIDPARAM;
        request = read;
        return DS_OK;
    }

    if (desc->dwBufferBytes < DSBSIZE_MIN || desc->dwBufferBytes > DSBSIZE_MAX) {
        return DSERR_INVALIDPARAM;
    }
    const HRESULT format = ReadWaveFormat(desc->lpwfxFormat, read.layout);
    if (format != DS_OK) return format;
    // The mixer moves whole frames, so a partial frame at the end could never
    // be played or reached by the cursors.
    if (desc->dwBufferBytes % read.layout.blockAlign != 0) return DSERR_INVALIDPARAM;
    read.bytes = desc->dwBufferBytes;
    request = read;
    return DS_OK;
}

}  // namespace mivo_dsound
