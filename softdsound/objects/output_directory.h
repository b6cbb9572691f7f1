// The outputs as a DirectSound client sees them: the default output first,
// with no GUID, then each output the backend lists, under the GUID of its
// name (output_guid.h).
#pragma once

#include <functional>
#include <string>

#include "mivo_dsound.h"
#include "output/output_backend.h"

namespace mivo_dsound {

// DirectSound's description of the default output.
constexpr const char* kDefaultOutputDescription = "Primary Sound Driver";

// Visits each output as (GUID or null, description, module) until `visit`
// returns false.
using OutputVisit = std::function<bool(const GUID* guid, const std::string& description,
                                       const std::string& module)>;
void WalkOutputs(OutputBackend& backend, const OutputVisit& visit);

// The output `device` names: null and DSDEVID_DefaultPlayback name the
// default (an empty name). False when no output has that GUID.
bool FindOutput(OutputBackend& backend, const GUID* device, OutputInfo& output);

// A name or description as DirectSoundEnumerateW hands it over: UTF-8 in,
// UTF-16 out, with surrogate pairs past the basic plane.
std::u16string Utf16(const std::string& utf8);

}  // namespace mivo_dsound
