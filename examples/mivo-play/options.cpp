#include "options.h"

#include <cstdlib>
#include <cstring>

namespace {

bool ReadNumber(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && value > 0;
}

bool Is(const char* arg, const char* option) { return std::strcmp(arg, option) == 0; }

}  // namespace

const char* Usage() {
    return "usage: mivo-play [--device OUTPUT] [--to-file OUT.wav] [--no-fallback]\n"
           "                 [--tone HZ --seconds S | FILE]\n"
           "       mivo-play --list-devices | --help\n"
           "  Streams a sound file (WAV, FLAC, Ogg Vorbis, AIFF and whatever else libsndfile\n"
           "  reads; 1 to 8 channels) or a tone (440 Hz, 2 s unless told) through mivo.\n"
           "  Files go out as 16-bit samples, or as 32-bit ones where they hold more than\n"
           "  16 bits (24-bit samples with 24 valid bits; float and double as integers).\n"
           "  --device        the output to play on: its index in --list-devices, its GUID,\n"
           "                  its name or its description (default: output 0, the default\n"
           "                  output)\n"
           "  --list-devices  lists the outputs: index, GUID, description and, in\n"
           "                  parentheses, the system's name for it (a sink's name)\n"
           "  --to-file       renders into OUT.wav instead, in real time; with no sound\n"
           "                  device mivo-play does that into mivo-play.wav unless\n"
           "                  --no-fallback\n"
           "  A lost output is restored as soon as it comes back; mivo-play gives up when\n"
           "  it stays gone for 5 s.\n";
}

bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
    bool tone = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (Is(arg, "--help") || Is(arg, "-h")) {
            options.help = true;
            return true;
        }
        if (Is(arg, "--to-file") && hasValue) {
            options.outputPath = argv[++i];
        } else if (Is(arg, "--device") && hasValue && argv[i + 1][0] != '\0') {
            options.device = argv[++i];
        } else if (Is(arg, "--tone") && hasValue) {
            tone = true;
            if (!ReadNumber(argv[++i], options.toneHertz) || options.toneHertz >= 24000) {
                error = "--tone needs a frequency between 0 and 24000 Hz";
                return false;
            }
        } else if (Is(arg, "--seconds") && hasValue) {
            if (!ReadNumber(argv[++i], options.seconds) || options.seconds > 3600) {
                error = "--seconds needs a duration between 0 and 3600";
                return false;
            }
        } else if (Is(arg, "--no-fallback")) {
            options.fallBackToFile = false;
        } else if (Is(arg, "--list-devices")) {
            options.listDevices = true;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            error = std::string("unknown or incomplete option ") + arg;
            return false;
        } else if (options.inputPath.empty()) {
            options.inputPath = arg;
        } else {
            error = "only one file can be played";
            return false;
        }
    }
    if (tone && !options.inputPath.empty()) {
        error = "give either --tone or a file, not both";
        return false;
    }
    return true;
}
