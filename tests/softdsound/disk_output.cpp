#include "disk_output.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace device_test {

DiskFile::DiskFile(int delayMs) {
    static std::atomic<int> serial{0};
    const char* tmp = std::getenv("TMPDIR");
    path_ = std::string(tmp != nullptr ? tmp : "/tmp") + "/mivo-device-test-" +
            std::to_string(getpid()) + "-" + std::to_string(serial++) + ".raw";
    setenv("SDL_DISKAUDIOFILE", path_.c_str(), 1);
    if (delayMs >= 0) {
        setenv("SDL_DISKAUDIODELAY", std::to_string(delayMs).c_str(), 1);
    } else {
        unsetenv("SDL_DISKAUDIODELAY");
    }
}

DiskFile::~DiskFile() { unlink(path_.c_str()); }

std::vector<uint8_t> DiskFile::Read() const {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::unique_ptr<CdsObject> OpenDevice(const Format& primary) {
    static int window = 0;
    auto sound = std::make_unique<CdsObject>(reinterpret_cast<HWND>(&window), nullptr);
    if (sound->InitializationSuccessful() == 0) return nullptr;
    if (sound->SetApplicationMode(CdsModePriority) == 0) return nullptr;
    if (sound->CreatePrimaryBuffer(primary.channels, primary.bits, primary.bits, primary.rate,
                                   primary.layoutKind) == 0) {
        return nullptr;
    }
    return sound;
}

bool FillBlock(CdsObject& sound, uint32_t block, const uint8_t* bytes, uint32_t count) {
    void* data = nullptr;
    uint32_t granted = 0;
    if (sound.LockStreamingBuffer(block, &data, &granted) == 0 || granted != count) return false;
    std::memcpy(data, bytes, count);
    return sound.UnlockStreamingBuffer(block) == 1;
}

std::vector<int32_t> Samples(const std::vector<uint8_t>& file, uint16_t bits) {
    std::vector<int32_t> samples;
    if (bits == 8) {
        for (uint8_t b : file) samples.push_back(b);
    } else if (bits == 16) {
        for (size_t i = 0; i + 2 <= file.size(); i += 2) {
            int16_t v;
            std::memcpy(&v, &file[i], sizeof v);
            samples.push_back(v);
        }
    } else {
        for (size_t i = 0; i + 4 <= file.size(); i += 4) {
            int32_t v;
            std::memcpy(&v, &file[i], sizeof v);
            samples.push_back(v);
        }
    }
    return samples;
}

size_t FirstSound(const std::vector<int32_t>& samples, uint16_t bits) {
    const int32_t silence = bits == 8 ? 128 : 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (samples[i] != silence) return i;
    }
    return samples.size();
}

}  // namespace device_test
