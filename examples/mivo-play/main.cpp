// mivo-play: the streaming demo. Plays a sound file or a tone through
// mivo's CdsObject on the output the user picks, refilling each block of the
// streaming buffer when its block event fires; renders into a WAV file
// instead when asked to, or when the machine has no sound device.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "device_choice.h"
#include "device_list.h"
#include "file_output.h"
#include "guid_text.h"
#include "mivo.h"
#include "options.h"
#include "pcm_source.h"
#include "sound_file.h"
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

void PrintDevices(const DeviceList& list) {
    if (!list.limitation.empty()) {
        std::fprintf(stderr, "mivo-play: %s; only the default output is listed\n",
                     list.limitation.c_str());
    }
    // The name goes last, in parentheses: descriptions hold spaces, and two
    // outputs may share one.
    for (size_t i = 0; i < list.outputs.size(); ++i) {
        const OutputDevice& output = list.outputs[i];
        std::printf("%zu  %s  %s", i, GuidText(output.guid).c_str(), output.description.c_str());
        if (!output.name.empty()) std::printf("  (%s)", output.name.c_str());
        std::printf("\n");
    }
}

// Where `chosen` ends up when the user named an output other than the
// default: CdsObject keeps the pointer it is given, so `chosen` must outlive
// the object.
bool ChooseDevice(const std::string& text, GUID& chosen, const GUID*& device) {
    device = nullptr;
    if (text.empty()) return true;
    std::string error;
    const DeviceList list = ListOutputDevices();
    const OutputDevice* output = FindDevice(list, ParseDeviceChoice(text), error);
    if (output == nullptr) {
        std::fprintf(stderr, "mivo-play: %s\n", error.c_str());
        return false;
    }
    if (!IsNullGuid(output->guid)) {
        chosen = output->guid;
        device = &chosen;
    }
    return true;
}

int Play(CdsObject& sound, PcmSource& source, bool progress, uint64_t& frames) {
    std::string error;
    if (!PlayThrough(sound, source, progress, frames, error)) {
        std::fprintf(stderr, "mivo-play: %s\n", error.c_str());
        return kPlayFailed;
    }
    return kOk;
}

int RenderToFile(const std::string& path, const GUID* device, PcmSource& source) {
    FileOutput file(path);
    uint64_t frames = 0;
    {
        CdsObject sound(ThisWindow(), device);
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
    if (options.help) {
        std::fputs(Usage(), stdout);
        return kOk;
    }
    if (options.listDevices) {
        PrintDevices(ListOutputDevices());
        return kOk;
    }
    GUID chosen{};
    const GUID* device = nullptr;
    if (!ChooseDevice(options.device, chosen, device)) return kNoDevice;

    std::unique_ptr<PcmSource> source = options.inputPath.empty()
                                            ? MakeToneSource(options.toneHertz, options.seconds)
                                            : OpenSoundFile(options.inputPath, error);
    if (!source) {
        std::fprintf(stderr, "mivo-play: %s\n", error.c_str());
        return kBadInput;
    }
    if (!options.outputPath.empty()) return RenderToFile(options.outputPath, device, *source);

    {
        CdsObject sound(ThisWindow(), device);
        if (sound.InitializationSuccessful() == 1) {
            uint64_t frames = 0;
            return Play(sound, *source, isatty(STDERR_FILENO) != 0, frames);
        }
        // A chosen output that cannot open is the user's to hear about; only
        // the default one falls back to a file.
        if (!options.fallBackToFile || !options.device.empty() ||
            sound.InitStatus != CdsStatusNoDevice) {
            std::fprintf(stderr, "mivo-play: %s\n", WhyNoDevice(sound.InitStatus));
            return kNoDevice;
        }
    }
    std::fprintf(stderr, "mivo-play: no sound device; rendering into %s instead\n", kFallbackFile);
    return RenderToFile(kFallbackFile, nullptr, *source);
}
