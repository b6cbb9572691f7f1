// The GUID a DirectSound client sees for an output: a name-based UUID
// (version 5, SHA-1) of the backend's name for it, so that the same output
// has the same GUID in every process and every run.
#pragma once

#include <string>

#include "mivo_dsound.h"

namespace mivo_dsound {

GUID OutputGuid(const std::string& name);

}  // namespace mivo_dsound
