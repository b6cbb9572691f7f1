#include "options.h"

#include <cstdlib>
#include <cstring>

namespace {

bool ReadNumber(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && value > 0;
}

}  // namespace

const char* Usage() {
    return "usage: mivo-play [--to-file OUT.wav] [--no-fallback] [--tone HZ --seconds S | "
           "FILE.wav]\n"
           "  Streams a PCM WAV file (8/16/24/32-bit, 1 to 8 channels) or a tone (440 Hz,\n"
           "  2 s unless told) through mivo. --to-file renders into OUT.wav instead, in\n"
           "  real time; with no sound device mivo-play does that into mivo-play.wav\n"
           "  unless --no-fallback.\n";
}

bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
    bool tone = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(arg, "--to-file") == 0 && hasValue) {
            options.outputPath = argv[++i];
        } else if (std::strcmp(arg, "--tone") == 0 && hasValue) {
            tone = true;
            if (!ReadNumber(argv[++i], options.toneHertz) || options.toneHertz >= 24000) {
                error = "--tone needs a frequency between 0 and 24000 Hz";
                return false;
            }
        } else if (std::strcmp(arg, "--seconds") == 0 && hasValue) {
            if (!ReadNumber(argv[++i], options.seconds) || options.seconds > 3600) {
                error = "--seconds needs a duration between 0 and 3600";
                return false;
            }
        } else if (std::strcmp(arg, "--no-fallback") == 0) {
            options.fallBackToFile = false;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            error = std::string("unknown or incomplete option ") + arg;
            return false;
        } else if (options.wavPath.empty()) {
            options.wavPath = arg;
        } else {
            error = "only one file can be played";
            return false;
        }
    }
    if (tone && !options.wavPath.empty()) {
        error = "give either --tone or a file, not both";
        return false;
    }
    return true;
}
