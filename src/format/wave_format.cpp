#include "wave_format.h"

#include <cstring>

namespace {

constexpr DWORD kStereo = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
constexpr DWORD kFour = kStereo | SPEAKER_FRONT_CENTER | SPEAKER_BACK_CENTER;

}  // namespace

DWORD ChannelMaskFor(uint16_t channels, int32_t layoutKind) {
    switch (channels) {
        case 1: return SPEAKER_FRONT_LEFT;
        case 2: return kStereo;
        case 3:
            if (layoutKind == 1) return kStereo | SPEAKER_BACK_CENTER;
            if (layoutKind == 2) return kStereo | SPEAKER_FRONT_CENTER;
            return kStereo | SPEAKER_TOP_FRONT_LEFT;
        case 4: return kFour;
        case 5: return kFour | SPEAKER_TOP_FRONT_LEFT;
        case 6: return kFour | SPEAKER_TOP_FRONT_LEFT | SPEAKER_TOP_FRONT_CENTER;
        default: return SPEAKER_ALL;
    }
}

void FillWaveFormats(int32_t channels, uint16_t bits, uint16_t validBits, int32_t rate,
                     int32_t layoutKind, WAVEFORMATEX& plain, WAVEFORMATEXTENSIBLE& extensible) {
    // Unsigned arithmetic keeps the documented truncation to 16 and 32 bits
    // well defined for any channel count and rate.
    const auto channelBits = static_cast<uint32_t>(channels);
    const auto blockAlign = static_cast<WORD>((bits / 8u) * channelBits);
    const auto avgBytes = static_cast<DWORD>(blockAlign * static_cast<uint32_t>(rate));

    std::memset(&plain, 0, sizeof plain);
    plain.wFormatTag = WAVE_FORMAT_PCM;
    plain.nChannels = static_cast<WORD>(channelBits);
    plain.nSamplesPerSec = static_cast<DWORD>(rate);
    plain.nAvgBytesPerSec = avgBytes;
    plain.nBlockAlign = blockAlign;
    plain.wBitsPerSample = bits;
    plain.cbSize = 0;

    std::memset(&extensible, 0, sizeof extensible);
    extensible.Format = plain;
    extensible.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    extensible.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    extensible.Samples.wValidBitsPerSample = validBits;
    extensible.dwChannelMask = ChannelMaskFor(static_cast<uint16_t>(channelBits), layoutKind);
    extensible.SubFormat = kSubtypePcm;
}

WAVEFORMATEX* FormatForPlatform(int32_t channels, WAVEFORMATEX& plain,
                                WAVEFORMATEXTENSIBLE& extensible) {
    return channels <= 2 ? &plain : &extensible.Format;
}
