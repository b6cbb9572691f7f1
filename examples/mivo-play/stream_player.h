// Streams a PcmSource through CdsObject: four blocks of 20 ms in a looping
// buffer, each refilled when its block event says it has been played.
#pragma once

#include <cstdint>
#include <string>

#include "mivo.h"
#include "pcm_source.h"

// Plays the whole source on an opened CdsObject. Shows progress on stderr
// when `progress`. Returns the frames played, or false with `error`.
bool PlayThrough(CdsObject& sound, PcmSource& source, bool progress, uint64_t& frames,
                 std::string& error);
