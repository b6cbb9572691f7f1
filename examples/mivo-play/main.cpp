// mivo-play: the streaming demo. Plays a WAV file or a tone through mivo's
// CdsObject, refilling each block of the streaming buffer when its block
// event fires; renders into a WAV file instead when asked to, or when the
// machine has no sound device.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "file_output.h"
#include "mivo.h"
#include "options.h"
#include "pcm_source.h"
#include "stream_player.h"

namespace {

enum Exit { kOk = 0, kUsage = 1, kBadInput = 2, kNoDevice = 3, kPlayFailed = 4 };

constexpr const char* kFallbackFile = "mivo-play.wav";

HWND ThisWindow() {
    // On POSIX the window is any non-null value naming the client's window.
    static int window = 0;
    return reinterpret_cast<HWND>(&window);
}

const char* WhyNoDevice(int32_t status) {
    switch (status) {
        case CdsStatusNoLibrary: return "the sound platform (libmivo-dsound.so) cannot be loaded";
        case CdsStatusNoEntryPoint: return "the sound platform has no DirectSoundCreate";
        default: return "no sound device is available";
    }
}

int Play(CdsObject& sound, PcmSource& source, bool progress, uint64_t& frames) {
    std::string error;
    if (!PlayThrough(sound, source, progress, frames, error)) {
        std::fprintf(stderr, "mivo-play: %s\n", error.c_str());
        return kPlayFailed;
    }
    return kOk;
}

int RenderToFile(const std::string& path, PcmSource& source) {
    FileOutput file(path);
    uint64_t frames = 0;
    {
        CdsObject sound(ThisWindow(), nullptr);
        if (sound.InitializationSuccessful() == 0) {
            std::fprintf(stderr, "mivo-play: cannot render to a file: %s\n",
                         WhyNoDevice(sound.InitStatus));
            return kNoDevice;
        }
        const int played = Play(sound, source, isatty(STDERR_FILENO) != 0, frames);
        if (played != kOk) return played;
    }  // closing the device completes the raw file
    std::string error;
    if (!file.Finish(source.Format(), frames, error)) {
        std::fprintf(stderr, "mivo-play: %s\n", error.c_str());
        return kPlayFailed;
    }
    std::fprintf(stderr, "mivo-play: wrote %s\n", path.c_str());
    return kOk;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "mivo-play: %s\n%s", error.c_str(), Usage());
        return kUsage;
    }
    std::unique_ptr<PcmSource> source = options.wavPath.empty()
                                            ? MakeToneSource(options.toneHertz, options.seconds)
                                            : OpenWavSource(options.wavPath, error);
    if (!source) {
        std::fprintf(stderr, "mivo-play: %s\n", error.c_str());
        return kBadInput;
    }
    if (!options.outputPath.empty()) return RenderToFile(options.outputPath, *source);

    {
        CdsObject sound(ThisWindow(), nullptr);
        if (sound.InitializationSuccessful() == 1) {
            uint64_t frames = 0;
            return Play(sound, *source, isatty(STDERR_FILENO) != 0, frames);
        }
        if (!options.fallBackToFile || sound.InitStatus != CdsStatusNoDevice) {
            std::fprintf(stderr, "mivo-play: %s\n", WhyNoDevice(sound.InitStatus));
            return kNoDevice;
        }
    }
    std::fprintf(stderr, "mivo-play: no sound device; rendering into %s instead\n", kFallbackFile);
    return RenderToFile(kFallbackFile, *source);
}
