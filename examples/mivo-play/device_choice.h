// --device: an output named by its index in --list-devices, its GUID or its
// description.
#pragma once

#include <cstddef>
#include <string>

#include "device_list.h"

struct DeviceChoice {
    enum class By { kIndex, kGuid, kDescription };
    By by = By::kDescription;
    size_t index = 0;
    GUID guid{};
    std::string description;
};

// Digits are an index, GUID text (braces optional) a GUID, and anything
// else a description.
DeviceChoice ParseDeviceChoice(const std::string& text);

// The listed output the choice names, or null with a message in `error`.
const OutputDevice* FindDevice(const DeviceList& list, const DeviceChoice& choice,
                               std::string& error);
