// Sound files through libsndfile (WAV, FLAC, Ogg Vorbis, AIFF and the rest
// it reads), converted to the PCM mivo streams:
//   - up to 16-bit integer samples (8-bit, A-law, ADPCM, ...) and the lossy
//     codecs (Vorbis, Opus, MPEG) become 16-bit;
//   - 20- and 24-bit samples become 32-bit with 24 valid bits;
//   - 32-bit integer, float and double samples become 32-bit integers, full
//     scale at +-1.0 and clipped beyond it.
#pragma once

#include <sndfile.h>

#include <memory>
#include <string>

#include "pcm_source.h"

// Null with a message in `error` when the file cannot be opened, libsndfile
// cannot read it, or it has no channels or more than 8.
std::unique_ptr<PcmSource> OpenSoundFile(const std::string& path, std::string& error);

// The same over a file libsndfile has opened for reading (from a path or
// through virtual I/O), which the source takes over: it is closed here on
// failure, or when the source goes. `name` is for messages.
std::unique_ptr<PcmSource> ReadSoundFile(SNDFILE* file, const SF_INFO& info,
                                         const std::string& name, std::string& error);
