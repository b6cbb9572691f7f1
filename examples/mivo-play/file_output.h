// Rendering into a WAV file through the very same device path: the software
// device plays into SDL's disk driver, whose raw output becomes the file.
#pragma once

#include <SDL_log.h>

#include <cstdint>
#include <string>

#include "pcm_source.h"

class FileOutput {
public:
    // Points SDL at a raw file beside `wavPath`. Must run before the sound
    // device is opened, since SDL reads these settings when it starts.
    explicit FileOutput(std::string wavPath);
    ~FileOutput();
    FileOutput(const FileOutput&) = delete;
    FileOutput& operator=(const FileOutput&) = delete;

    // Writes `frames` of what the device wrote into the WAV file, with the
    // sample width the source's valid bits call for. The output runs before
    // playback starts, so the silence ahead of the first sound is dropped
    // (with it, any silence the source itself starts with).
    bool Finish(const PcmFormat& format, uint64_t frames, std::string& error);

private:
    static void Log(void* self, int category, SDL_LogPriority priority, const char* message);

    std::string wavPath_;
    std::string rawPath_;
    SDL_LogOutputFunction sdlLog_ = nullptr;
    void* sdlLogContext_ = nullptr;
};
