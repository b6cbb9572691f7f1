// --device: an output named by its index in --list-devices, its GUID, its
// system name or its description.
#pragma once

#include <cstddef>
#include <string>

#include "device_list.h"

struct DeviceChoice {
    enum class By { kIndex, kGuid, kText };
    By by = By::kText;
    size_t index = 0;
    GUID guid{};
    std::string text;  // an output's name, or else its description
};

// Digits are an index, GUID text (braces optional) a GUID, and anything
// else a name or a description.
DeviceChoice ParseDeviceChoice(const std::string& text);

// The listed output the choice names, or null with a message in `error`. A
// name is looked for before a description, and a description that more than
// one output has names none of them.
const OutputDevice* FindDevice(const DeviceList& list, const DeviceChoice& choice,
                               std::string& error);
