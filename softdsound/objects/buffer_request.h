// Checks a DSBUFFERDESC the way DirectSound does before any buffer exists.
#pragma once

#include "mivo_dsound.h"
#include "wave_layout.h"

namespace mivo_dsound {

struct BufferRequest {
    bool primary = false;
    DWORD flags = 0;
    DWORD bytes = 0;
    WaveLayout layout;  // secondary buffers only
};

// DS_OK and a filled request, or the error CreateSoundBuffer answers.
HRESULT ReadBufferDescription(const DSBUFFERDESC* desc, BufferRequest& request);

}  // namespace mivo_dsound
