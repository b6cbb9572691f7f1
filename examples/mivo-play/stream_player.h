// Streams a PcmSource through CdsObject: four blocks of 20 ms in a looping
// buffer, each refilled when its block event says it has been played.
#pragma once

#include <cstdint>
#include <string>

#include "mivo.h"
#include "pcm_source.h"

// Plays the whole source on an opened CdsObject. Shows progress on stderr
// when `progress`. When the device loses the stream, says so on stderr and
// restores it every 200 ms, playing on once it is back (what the lost
// buffer still held is skipped); fails when it stays lost for 5 s. Returns
// the frames read from the source, or false with `error`.
bool PlayThrough(CdsObject& sound, PcmSource& source, bool progress, uint64_t& frames,
                 std::string& error);
