#include "sound_file.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr int kMaxChannels = 8;

// How samples leave libsndfile: integers it already scales to the width
// asked for exactly, or doubles that mivo-play scales and clips itself (so
// that NaN and out-of-range floats have one defined outcome).
enum class Reading { kShort, kInt, kDoubleTo16, kDoubleTo32 };

struct Conversion {
    Reading reading;
    uint16_t bits;
    uint16_t validBits;
};

Conversion ConversionFor(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_DWVW_24:
        case SF_FORMAT_ALAC_20:
        case SF_FORMAT_ALAC_24: return {Reading::kInt, 32, 24};
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_ALAC_32: return {Reading::kInt, 32, 32};
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE: return {Reading::kDoubleTo32, 32, 32};
        case SF_FORMAT_VORBIS:
        case SF_FORMAT_OPUS:
        case SF_FORMAT_MPEG_LAYER_I:
        case SF_FORMAT_MPEG_LAYER_II:
        case SF_FORMAT_MPEG_LAYER_III: return {Reading::kDoubleTo16, 16, 16};
        default: return {Reading::kShort, 16, 16};
    }
}

// Full scale is 2^15 or 2^31, as libsndfile reads integers into doubles.
template <typename Sample>
Sample FromUnit(double x) {
    constexpr double kScale = -static_cast<double>(std::numeric_limits<Sample>::min());
    if (std::isnan(x)) return 0;
    const double scaled = x * kScale;
    if (scaled >= kScale - 1) return std::numeric_limits<Sample>::max();
    if (scaled <= -kScale) return std::numeric_limits<Sample>::min();
    return static_cast<Sample>(std::lrint(scaled));
}

// CreatePrimaryBuffer's layouts for 3 channels: 1 with a back centre, 2
// with a front centre.
int32_t LayoutKindOf(SNDFILE* file, int channels) {
    if (channels != 3) return 0;
    int map[3] = {};
    if (sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map, sizeof map) != SF_TRUE) return 0;
    const bool left = map[0] == SF_CHANNEL_MAP_LEFT || map[0] == SF_CHANNEL_MAP_FRONT_LEFT;
    const bool right = map[1] == SF_CHANNEL_MAP_RIGHT || map[1] == SF_CHANNEL_MAP_FRONT_RIGHT;
    if (!left || !right) return 0;
    if (map[2] == SF_CHANNEL_MAP_REAR_CENTER) return 1;
    if (map[2] == SF_CHANNEL_MAP_CENTER || map[2] == SF_CHANNEL_MAP_FRONT_CENTER) return 2;
    return 0;
}

class SoundFileSource final : public PcmSource {
public:
    SoundFileSource(SNDFILE* file, const SF_INFO& info)
        : file_(file), conversion_(ConversionFor(info.format)) {
        format_.channels = info.channels;
        format_.bits = conversion_.bits;
        format_.validBits = conversion_.validBits;
        format_.rate = info.samplerate;
        format_.layoutKind = LayoutKindOf(file, info.channels);
        total_ = info.frames > 0 ? static_cast<uint64_t>(info.frames) : 0;
    }
    ~SoundFileSource() override { sf_close(file_); }
    SoundFileSource(const SoundFileSource&) = delete;
    SoundFileSource& operator=(const SoundFileSource&) = delete;

    const PcmFormat& Format() const override { return format_; }
    uint64_t TotalFrames() const override { return total_; }

    size_t Read(uint8_t* out, size_t bytes) override {
        const size_t frames = bytes / format_.FrameBytes();
        const size_t samples = frames * static_cast<size_t>(format_.channels);
        const auto asked = static_cast<sf_count_t>(frames);
        sf_count_t got = 0;
        switch (conversion_.reading) {
            case Reading::kShort:
                shorts_.resize(samples);
                got = sf_readf_short(file_, shorts_.data(), asked);
                return Copy(shorts_, got, out);
            case Reading::kInt:
                ints_.resize(samples);
                got = sf_readf_int(file_, ints_.data(), asked);
                return Copy(ints_, got, out);
            case Reading::kDoubleTo16:
                got = ReadDoubles(samples, asked);
                shorts_.resize(samples);
                for (size_t i = 0; i < Count(got); ++i) shorts_[i] = FromUnit<int16_t>(doubles_[i]);
                return Copy(shorts_, got, out);
            case Reading::kDoubleTo32:
                got = ReadDoubles(samples, asked);
                ints_.resize(samples);
                for (size_t i = 0; i < Count(got); ++i) ints_[i] = FromUnit<int32_t>(doubles_[i]);
                return Copy(ints_, got, out);
        }
        return 0;
    }

private:
    sf_count_t ReadDoubles(size_t samples, sf_count_t frames) {
        doubles_.resize(samples);
        return sf_readf_double(file_, doubles_.data(), frames);
    }
    size_t Count(sf_count_t frames) const {
        return frames > 0 ? static_cast<size_t>(frames) * static_cast<size_t>(format_.channels) : 0;
    }
    template <typename Sample>
    size_t Copy(const std::vector<Sample>& from, sf_count_t frames, uint8_t* out) const {
        const size_t bytes = Count(frames) * sizeof(Sample);
        std::memcpy(out, from.data(), bytes);
        return bytes;
    }

    SNDFILE* file_;
    Conversion conversion_;
    PcmFormat format_;
    uint64_t total_ = 0;
    std::vector<int16_t> shorts_;
    std::vector<int32_t> ints_;
    std::vector<double> doubles_;
};

}  // namespace

std::unique_ptr<PcmSource> ReadSoundFile(SNDFILE* file, const SF_INFO& info,
                                         const std::string& name, std::string& error) {
    if (info.channels < 1 || info.channels > kMaxChannels) {
        sf_close(file);
        error = name + " has " + std::to_string(info.channels) + " channels; mivo plays 1 to " +
                std::to_string(kMaxChannels);
        return nullptr;
    }
    if (info.samplerate <= 0) {
        sf_close(file);
        error = name + " has no sample rate";
        return nullptr;
    }
    return std::make_unique<SoundFileSource>(file, info);
}

std::unique_ptr<PcmSource> OpenSoundFile(const std::string& path, std::string& error) {
    // libsndfile reports a missing file as a "system error"; the system's
    // own words are clearer.
    if (access(path.c_str(), R_OK) != 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        error = path + " is not a sound file libsndfile can read (" + sf_strerror(nullptr) + ")";
        return nullptr;
    }
    return ReadSoundFile(file, info, path, error);
}
