// The sound outputs DirectSound offers, asked for the way a Windows client
// asks: DirectSoundEnumerateA from the platform library, which on POSIX is
// libmivo-dsound.so beside libmivo.so.
#pragma once

#include <string>
#include <vector>

#include "mivo_dsound.h"

struct OutputDevice {
    GUID guid{};  // all zero for the default output
    std::string description;
    // The system's own name for the output: DirectSound's module string,
    // which the software device fills with a sink's name on PulseAudio.
    // Empty for the default output. Two sinks of one make (two headsets,
    // two null sinks) share a description but not a name.
    std::string name;
};

struct DeviceList {
    // Index 0 is always the default output.
    std::vector<OutputDevice> outputs;
    // Why the list holds only the default output, or empty when the
    // platform enumerated its outputs.
    std::string limitation;
};

DeviceList ListOutputDevices();
