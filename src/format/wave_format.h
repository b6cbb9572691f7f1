// The wave format pair that describes a buffer to the platform, built from
// the caller's channel count, container and valid bits, rate and layout kind.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Speaker mask for a channel count (its low 16 bits); the layout kind only
// matters for three channels.
DWORD ChannelMaskFor(uint16_t channels, int32_t layoutKind);

// Fills both records from all-zero bytes, whichever of them the platform
// will receive.
void FillWaveFormats(int32_t channels, uint16_t bits, uint16_t validBits, int32_t rate,
                     int32_t layoutKind, WAVEFORMATEX& plain, WAVEFORMATEXTENSIBLE& extensible);

// The record the platform receives: plain PCM for up to two channels,
// extensible PCM with a speaker mask for more.
WAVEFORMATEX* FormatForPlatform(int32_t channels, WAVEFORMATEX& plain,
                                WAVEFORMATEXTENSIBLE& extensible);

// Both create operations refuse more valid bits than the container holds.
inline bool ValidBitsFit(uint16_t bits, uint16_t validBits) { return validBits <= bits; }
