// mivo-play's command line.
#pragma once

#include <string>

struct Options {
    std::string inputPath;   // empty: play a tone
    std::string outputPath;  // empty: play on the sound device
    std::string device;      // empty: the default output
    double toneHertz = 440.0;
    double seconds = 2.0;
    bool fallBackToFile = true;  // when there is no sound device
    bool listDevices = false;
    bool help = false;
};

// False with a message in `error` for a command line that makes no sense.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);

const char* Usage();
