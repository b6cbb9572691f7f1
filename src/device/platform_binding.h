// The process-wide binding of the sound platform: the loaded "dsound.dll"
// and its DirectSoundCreate entry, shared by every CdsObject. Objects attach
// when constructed and detach when destroyed; the platform is unloaded when
// the last live object detaches. Every step runs under one process-wide lock,
// so objects may be constructed and destroyed on several threads at once.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Counts a new live object. Pair with DetachFromPlatform().
void AttachToPlatform();

// Loads the platform unless it is loaded, looks up DirectSoundCreate and
// opens `device`. Returns the construction status (CdsStatusReady and the
// device in *opened, or the code of the first failing step).
int32_t OpenPlatformDevice(const GUID* device, IDirectSound** opened);

// Uncounts a live object; the last one out unloads the platform.
void DetachFromPlatform();
