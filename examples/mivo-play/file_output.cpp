#include "file_output.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

FileOutput::FileOutput(std::string wavPath)
    : wavPath_(std::move(wavPath)), rawPath_(wavPath_ + ".raw") {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", rawPath_.c_str(), 1);
    // The disk driver then keeps to real time, so block events come at the
    // pace the player refills at.
    unsetenv("SDL_DISKAUDIODELAY");
}

FileOutput::~FileOutput() { unlink(rawPath_.c_str()); }

bool FileOutput::Finish(const WavFormat& format, uint64_t frames, std::string& error) {
    std::ifstream raw(rawPath_, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(raw),
                                     std::istreambuf_iterator<char>()};
    // 24-bit output travels in 32-bit containers.
    const uint32_t container = format.bits == 24 ? 4 : format.bits / 8u;
    const uint32_t frameBytes = container * static_cast<uint32_t>(format.channels);
    const uint8_t silence = format.bits == 8 ? 0x80 : 0x00;

    size_t start = 0;
    while (start < bytes.size() && bytes[start] == silence) ++start;
    start -= start % frameBytes;

    std::string samples;
    samples.reserve(frames * format.FrameBytes());
    for (uint64_t f = 0; f < frames; ++f) {
        for (uint32_t b = 0; b < frameBytes; ++b) {
            if (format.bits == 24 && b % 4 == 0) continue;  // the container's padding byte
            const size_t at = start + f * frameBytes + b;
            samples.push_back(static_cast<char>(at < bytes.size() ? bytes[at] : silence));
        }
    }
    std::ofstream wav(wavPath_, std::ios::binary | std::ios::trunc);
    wav << WavHeader(format, samples.size()) << samples;
    if (!wav) {
        error = "cannot write " + wavPath_;
        return false;
    }
    return true;
}
