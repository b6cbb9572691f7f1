// The PCM formats the device accepts, reduced to what the mixer needs.
#pragma once

#include <cstdint>

#include "mivo_dsound.h"

namespace mivo_dsound {

constexpr int kMaxChannels = 8;

struct WaveLayout {
    int channels = 2;
    int bits = 16;       // container size: 8, 16, 24 or 32
    int validBits = 16;  // for extensible formats; equal to bits otherwise
    uint32_t rate = 48000;
    uint32_t blockAlign = 4;
    DWORD channelMask = 0x3;  // speaker of each channel, lowest bit first
    bool extensible = false;
};

// What a WAVEFORMATEX (or extensible) record says, or an HRESULT explaining
// why DirectSound would refuse it: DSERR_INVALIDPARAM for a record that
// contradicts itself, DSERR_BADFORMAT for one that is consistent but not
// PCM this device can play.
HRESULT ReadWaveFormat(const WAVEFORMATEX* format, WaveLayout& layout);

// The speaker mask a channel count stands for when the record names none,
// in the order SDL hands channels to the sound server.
DWORD DefaultChannelMask(int channels);

// Writes the record describing `layout`: plain PCM (18 bytes) for formats
// that were given plainly, extensible (40 bytes) otherwise. Returns its size.
DWORD WriteWaveFormat(const WaveLayout& layout, WAVEFORMATEXTENSIBLE& record);

// The record size GetFormat reports for `layout`.
DWORD WaveFormatSize(const WaveLayout& layout);

// IDirectSoundBuffer::GetFormat for a buffer holding `layout`, in both of its
// forms: the size alone (null record), or the record into `bytes` of memory.
HRESULT AnswerGetFormat(const WaveLayout& layout, WAVEFORMATEX* format, DWORD bytes,
                        DWORD* written);

}  // namespace mivo_dsound
