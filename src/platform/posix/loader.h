// The Windows loader, stood in for over dlopen. "dsound.dll" stands for
// libmivo-dsound.so, looked for first beside the library that holds this
// loader and then on the system's library search path.
#pragma once

#include "mivo_platform_types.h"

HMODULE LoadLibraryA(const char* name);
FARPROC GetProcAddress(HMODULE module, const char* name);
int FreeLibrary(HMODULE module);
