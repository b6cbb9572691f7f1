// The one seam between the library and the sound platform: DirectSound's
// types, records and interfaces, the loader that binds it at run time, and
// the allocator behind the library's own tables.
#pragma once

#if defined(_WIN32)
#include <dsound.h>
#include <mmreg.h>
#include <windows.h>
#else
#include "posix/dsound.h"
#include "posix/loader.h"
#endif

#include <cstddef>

// DirectSoundCreate as found by GetProcAddress.
using DirectSoundCreateFunction = HRESULT(WINAPI*)(const GUID* device, IDirectSound** out,
                                                   IUnknown* outer);

// Identifiers used by the library, defined here so that no GUID library has
// to be linked.
constexpr GUID kIidDirectSoundNotify = {
    0xb0210783, 0x89cd, 0x11d0, {0xaf, 0x08, 0x00, 0xa0, 0xc9, 0x25, 0xcd, 0x16}};
constexpr GUID kSubtypePcm = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// Heap memory for the library's tables and scratch space. Failure is a null
// result, never an exception.
void* PlatformAllocate(std::size_t bytes);
void PlatformFree(void* memory);
