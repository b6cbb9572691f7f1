#include "file_output.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

template <typename Sample>
bool WriteSamples(SNDFILE* file, const std::vector<uint8_t>& bytes, sf_count_t frames) {
    std::vector<Sample> samples(bytes.size() / sizeof(Sample));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(Sample));
    if constexpr (sizeof(Sample) == 2) {
        return sf_writef_short(file, samples.data(), frames) == frames;
    } else {
        return sf_writef_int(file, samples.data(), frames) == frames;
    }
}

int SubtypeFor(uint16_t validBits) {
    switch (validBits) {
        case 16: return SF_FORMAT_PCM_16;
        case 24: return SF_FORMAT_PCM_24;  // libsndfile keeps the top 24 bits
        default: return SF_FORMAT_PCM_32;
    }
}

}  // namespace

FileOutput::FileOutput(std::string wavPath)
    : wavPath_(std::move(wavPath)), rawPath_(wavPath_ + ".raw") {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", rawPath_.c_str(), 1);
    // The disk driver then keeps to real time, so block events come at the
    // pace the player refills at.
    unsetenv("SDL_DISKAUDIODELAY");
    // SDL's disk driver announces itself at CRITICAL priority each time it
    // opens, to warn programs that fell back on it by accident. Here it was
    // chosen, so SDL's messages pass through Log while the file is made.
    SDL_LogGetOutputFunction(&sdlLog_, &sdlLogContext_);
    SDL_LogSetOutputFunction(&FileOutput::Log, this);
}

FileOutput::~FileOutput() {
    SDL_LogSetOutputFunction(sdlLog_, sdlLogContext_);
    unlink(rawPath_.c_str());
}

void FileOutput::Log(void* self, int category, SDL_LogPriority priority, const char* message) {
    // The announcement is a critical audio message; everything else goes
    // where it went before.
    if (category == SDL_LOG_CATEGORY_AUDIO && priority == SDL_LOG_PRIORITY_CRITICAL) return;
    const auto* output = static_cast<const FileOutput*>(self);
    if (output->sdlLog_ != nullptr) {
        output->sdlLog_(output->sdlLogContext_, category, priority, message);
    }
}

bool FileOutput::Finish(const PcmFormat& format, uint64_t frames, std::string& error) {
    std::ifstream raw(rawPath_, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(raw),
                                     std::istreambuf_iterator<char>()};
    const uint32_t frameBytes = format.FrameBytes();
    size_t start = 0;
    while (start < bytes.size() && bytes[start] == 0) ++start;
    start -= start % frameBytes;

    // Anything the device did not get to write stays silent.
    std::vector<uint8_t> samples(frames * frameBytes, 0);
    if (start < bytes.size()) {
        const size_t have = std::min(samples.size(), bytes.size() - start);
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(start), have, samples.begin());
    }

    SF_INFO info{};
    info.samplerate = format.rate;
    info.channels = format.channels;
    // WAVE_FORMAT_EXTENSIBLE where a plain header cannot say it all.
    const bool extensible = format.channels > 2 || format.validBits > 16;
    info.format = (extensible ? SF_FORMAT_WAVEX : SF_FORMAT_WAV) | SubtypeFor(format.validBits);
    SNDFILE* file = sf_open(wavPath_.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        error = "cannot write " + wavPath_ + ": " + sf_strerror(nullptr);
        return false;
    }
    const auto count = static_cast<sf_count_t>(frames);
    const bool written = format.bits == 16 ? WriteSamples<int16_t>(file, samples, count)
                                           : WriteSamples<int32_t>(file, samples, count);
    if (sf_close(file) != 0 || !written) {
        error = "cannot write " + wavPath_;
        return false;
    }
    return true;
}
