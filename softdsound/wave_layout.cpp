#include "wave_layout.h"

#include <cstring>

namespace mivo_dsound {

namespace {

// Windows' own playback frequency limits (DSBFREQUENCY_MIN / _MAX).
constexpr uint32_t kMinRate = 100;
constexpr uint32_t kMaxRate = 200000;

constexpr DWORD kExtensibleExtra = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);

bool SupportedBits(int bits) { return bits == 8 || bits == 16 || bits == 24 || bits == 32; }

}  // namespace

DWORD DefaultChannelMask(int channels) {
    // FL FR FC LFE BL BR FLC FRC BC SL SR ...: SDL's orders for 1 to 8
    // channels, written as Windows speaker bits.
    switch (channels) {
        case 1: return 0x4;    // mono is front centre
        case 2: return 0x3;    // FL FR
        case 3: return 0xB;    // FL FR LFE
        case 4: return 0x33;   // FL FR BL BR
        case 5: return 0x3B;   // FL FR LFE BL BR
        case 6: return 0x3F;   // FL FR FC LFE BL BR
        case 7: return 0x70F;  // FL FR FC LFE BC SL SR
        case 8: return 0x63F;  // FL FR FC LFE BL BR SL SR
        default: return 0;
    }
}

HRESULT ReadWaveFormat(const WAVEFORMATEX* format, WaveLayout& layout) {
    if (format == nullptr) return DSERR_INVALIDPARAM;
    WAVEFORMATEX plain{};
    std::memcpy(&plain, format, sizeof plain);

    WaveLayout read;
    read.channels = plain.nChannels;
    read.bits = plain.wBitsPerSample;
    read.validBits = read.bits;
    read.rate = plain.nSamplesPerSec;
    read.blockAlign = plain.nBlockAlign;
    read.channelMask = DefaultChannelMask(read.channels);

    if (plain.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        if (plain.cbSize < kExtensibleExtra) return DSERR_INVALIDPARAM;
        WAVEFORMATEXTENSIBLE extensible{};
        std::memcpy(&extensible, format, sizeof extensible);
        if (!IsEqualGUID(extensible.SubFormat, kSubtypePcm)) return DSERR_BADFORMAT;
        read.extensible = true;
        read.validBits = extensible.Samples.wValidBitsPerSample;
        if (read.validBits == 0) read.validBits = read.bits;
        if (read.validBits > read.bits) return DSERR_INVALIDPARAM;
        read.channelMask = extensible.dwChannelMask;
    } else if (plain.wFormatTag != WAVE_FORMAT_PCM) {
        return DSERR_BADFORMAT;
    }

    if (read.channels == 0 || read.bits == 0 || read.rate == 0) return DSERR_INVALIDPARAM;
    // Widened: a record's fields multiply past 32 bits.
    const uint64_t frameBytes = uint64_t{plain.nChannels} * plain.wBitsPerSample / 8;
    if (read.blockAlign != frameBytes) return DSERR_INVALIDPARAM;
    if (plain.nAvgBytesPerSec != uint64_t{read.rate} * read.blockAlign) return DSERR_INVALIDPARAM;
    if (read.channels > kMaxChannels || !SupportedBits(read.bits)) return DSERR_BADFORMAT;
    if (read.rate < kMinRate || read.rate > kMaxRate) return DSERR_BADFORMAT;
    layout = read;
    return DS_OK;
}

DWORD WaveFormatSize(const WaveLayout& layout) {
    return layout.extensible ? sizeof(WAVEFORMATEXTENSIBLE) : sizeof(WAVEFORMATEX);
}

DWORD WriteWaveFormat(const WaveLayout& layout, WAVEFORMATEXTENSIBLE& record) {
    std::memset(&record, 0, sizeof record);
    WAVEFORMATEX& plain = record.Format;
    plain.wFormatTag = layout.extensible ? WAVE_FORMAT_EXTENSIBLE : WAVE_FORMAT_PCM;
    plain.nChannels = static_cast<WORD>(layout.channels);
    plain.nSamplesPerSec = layout.rate;
    plain.nAvgBytesPerSec = layout.rate * layout.blockAlign;
    plain.nBlockAlign = static_cast<WORD>(layout.blockAlign);
    plain.wBitsPerSample = static_cast<WORD>(layout.bits);
    if (layout.extensible) {
        plain.cbSize = kExtensibleExtra;
        record.Samples.wValidBitsPerSample = static_cast<WORD>(layout.validBits);
        record.dwChannelMask = layout.channelMask;
        record.SubFormat = kSubtypePcm;
    }
    return WaveFormatSize(layout);
}

HRESULT AnswerGetFormat(const WaveLayout& layout, WAVEFORMATEX* format, DWORD bytes,
                        DWORD* written) {
    if (format == nullptr && written == nullptr) return DSERR_INVALIDPARAM;
    WAVEFORMATEXTENSIBLE record{};
    const DWORD size = WriteWaveFormat(layout, record);
    if (format != nullptr) {
        if (bytes < size) return DSERR_INVALIDPARAM;
        std::memcpy(format, &record, size);
    }
    if (written != nullptr) *written = size;
    return DS_OK;
}

}  // namespace mivo_dsound
