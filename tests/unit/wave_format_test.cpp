#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "format/wave_format.h"

namespace {

std::vector<uint8_t> Bytes(const void* record, std::size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(record);
    return {bytes, bytes + size};
}

// Little-endian record images, written out field by field.
struct Image {
    std::vector<uint8_t> bytes;
    Image& Word(uint32_t v) { return Put(v, 2); }
    Image& Dword(uint32_t v) { return Put(v, 4); }
    Image& Raw(std::vector<uint8_t> more) {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
    Image& Put(uint32_t v, int size) {
        for (int i = 0; i < size; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return *this;
    }
};

const std::vector<uint8_t> kPcmSubtype = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                          0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

struct FormatCase {
    const char* name;
    int32_t channels;
    uint16_t bits, validBits;
    int32_t rate, layoutKind;
    uint32_t blockAlign, avgBytes, mask;
};

inline void PrintTo(const FormatCase& value, std::ostream* out) { *out << value.name; }

class WaveFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(WaveFormatTest, FillsBothRecordsByteForByte) {
    const FormatCase& c = GetParam();
    WAVEFORMATEX plain;
    WAVEFORMATEXTENSIBLE extensible;
    std::memset(&plain, 0xCD, sizeof plain);
    std::memset(&extensible, 0xCD, sizeof extensible);
    FillWaveFormats(c.channels, c.bits, c.validBits, c.rate, c.layoutKind, plain, extensible);

    Image common;
    common.Word(static_cast<uint32_t>(c.channels))
        .Dword(static_cast<uint32_t>(c.rate))
        .Dword(c.avgBytes)
        .Word(c.blockAlign)
        .Word(c.bits);
    const auto expectedPlain = Image().Word(1).Raw(common.bytes).Word(0).bytes;
    const auto expectedExtensible = Image()
                                        .Word(0xFFFE)
                                        .Raw(common.bytes)
                                        .Word(22)
                                        .Word(c.validBits)
                                        .Dword(c.mask)
                                        .Raw(kPcmSubtype)
                                        .bytes;
    EXPECT_EQ(Bytes(&plain, sizeof plain), expectedPlain);
    EXPECT_EQ(Bytes(&extensible, sizeof extensible), expectedExtensible);

    const WAVEFORMATEX* chosen = FormatForPlatform(c.channels, plain, extensible);
    EXPECT_EQ(chosen, c.channels <= 2 ? &plain : &extensible.Format);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WaveFormatTest,
    ::testing::Values(FormatCase{"Stereo16", 2, 16, 16, 44100, 0, 4, 176400, 0x3},
                      FormatCase{"Six24With20Valid", 6, 24, 20, 48000, 0, 18, 864000, 0x3107},
                      FormatCase{"ThreeTopFrontLeft", 3, 16, 16, 48000, 0, 6, 288000, 0x1003},
                      FormatCase{"ThreeBackCenter", 3, 16, 16, 48000, 1, 6, 288000, 0x103},
                      FormatCase{"ThreeFrontCenter", 3, 16, 16, 48000, 2, 6, 288000, 0x7},
                      FormatCase{"Eight", 8, 16, 16, 48000, 0, 16, 768000, 0x80000000u},
                      FormatCase{"FourBitSamples", 2, 4, 4, 48000, 0, 0, 0, 0x3},
                      FormatCase{"MonoIsFrontLeft", 1, 8, 8, 22050, 0, 1, 22050, 0x1},
                      FormatCase{"FiveChannels", 5, 16, 16, 48000, 0, 10, 480000, 0x1107},
                      FormatCase{"TwelveBitContainer", 2, 12, 12, 8000, 0, 2, 16000, 0x3},
                      // Block align keeps 16 bits: 4 bytes x 0x10001 channels = 0x40004 -> 4.
                      FormatCase{"BlockAlignWraps", 0x10001, 32, 32, 1000, 0, 4, 4000, 0x1},
                      // The byte rate keeps 32 bits: 8 x 0x20000000 = 2^32 -> 0.
                      FormatCase{"ByteRateWraps", 2, 32, 32, 0x20000000, 0, 8, 0, 0x3}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ChannelMaskTest, CountsWithoutAnEntryGetAllSpeakers) {
    for (const uint16_t channels : {0, 7, 9, 0xFFFF}) {
        EXPECT_EQ(ChannelMaskFor(channels, 0), 0x80000000u) << channels;
    }
    // The layout kind only matters for three channels.
    EXPECT_EQ(ChannelMaskFor(4, 1), 0x107u);
    EXPECT_EQ(ChannelMaskFor(6, 2), 0x3107u);
}

TEST(ChannelMaskTest, SignedChannelCountPicksTheRecord) {
    WAVEFORMATEX plain;
    WAVEFORMATEXTENSIBLE extensible;
    FillWaveFormats(-1, 16, 16, 48000, 0, plain, extensible);
    const WORD channels = plain.nChannels;  // packed: copy first
    EXPECT_EQ(channels, 0xFFFF);
    // As a signed count -1 is "2 or less", so the plain record goes out.
    EXPECT_EQ(FormatForPlatform(-1, plain, extensible), &plain);
    EXPECT_EQ(FormatForPlatform(3, plain, extensible), &extensible.Format);
}

}  // namespace
