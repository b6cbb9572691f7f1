#include "environment_settings.h"

#include <cstdlib>
#include <cstring>

namespace mivo_dsound {

namespace {

// The value of `name` when it is a whole number in [low, high], else 0.
long NumberSetting(const char* name, long low, long high) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return 0;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < low || value > high) return 0;
    return value;
}

}  // namespace

BackendRequest RequestedBackend() {
    if (const char* named = std::getenv(kBackendSetting)) {
        if (std::strcmp(named, "pulse") == 0) return BackendRequest::kPulse;
        if (std::strcmp(named, "sdl") == 0) return BackendRequest::kSdl;
    }
    const char* sdlDriver = std::getenv("SDL_AUDIODRIVER");
    if (sdlDriver != nullptr && sdlDriver[0] != '\0') return BackendRequest::kSdl;
    return BackendRequest::kAny;
}

uint32_t PinnedLatencyMs() {
    return static_cast<uint32_t>(NumberSetting(kLatencySetting, 1, 2000));
}

uint32_t PeriodFramesAt(uint32_t rate, uint32_t perSecond) {
    if (const long forced = NumberSetting(kPeriodSetting, 16, 16384)) {
        return static_cast<uint32_t>(forced);
    }
    uint32_t frames = 64;
    while (uint64_t{frames} * perSecond < rate) frames *= 2;
    return frames;
}

}  // namespace mivo_dsound
