// The one seam between the library and the sound platform: DirectSound's
// types, records and interfaces, the loader that binds it at run time, and
// the allocator behind the library's own tables.
#pragma once

#include "mivo_dsound.h"
#if !defined(_WIN32)
#include "posix/loader.h"
#endif

#include <cstddef>

// DirectSoundCreate as found by GetProcAddress.
using DirectSoundCreateFunction = HRESULT(WINAPI*)(const GUID* device, IDirectSound** out,
                                                   IUnknown* outer);

// Heap memory for the library's tables and scratch space. Failure is a null
// result, never an exception.
void* PlatformAllocate(std::size_t bytes);
void PlatformFree(void* memory);
