#include "device_choice.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "guid_text.h"

namespace {

// Long enough for any real list, short enough not to overflow.
constexpr size_t kMaxIndexDigits = 6;

bool AllDigits(const std::string& text) {
    return !text.empty() && text.size() <= kMaxIndexDigits &&
           std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

// The one output called `text`: a name is the system's and tells outputs
// apart, so it wins over a description. A description shared by several
// outputs picks none of them rather than a guess.
const OutputDevice* FindByText(const std::vector<OutputDevice>& outputs, const std::string& text,
                               std::string& error) {
    const auto called = [&](std::string OutputDevice::*field) {
        std::vector<size_t> found;
        for (size_t i = 0; i < outputs.size(); ++i) {
            if (outputs[i].*field == text) found.push_back(i);
        }
        return found;
    };
    std::vector<size_t> found = called(&OutputDevice::name);
    if (found.empty()) found = called(&OutputDevice::description);
    if (found.size() == 1) return &outputs[found.front()];
    if (found.empty()) {
        error = "there is no output named \"" + text + "\"";
        return nullptr;
    }
    error = "\"" + text + "\" could be any of outputs";
    for (const size_t i : found) {
        error +=
            (i == found.front() ? " " : ", ") + std::to_string(i) + " (" + outputs[i].name + ")";
    }
    error += "; pick one by its index, GUID or name";
    return nullptr;
}

}  // namespace

DeviceChoice ParseDeviceChoice(const std::string& text) {
    DeviceChoice choice;
    if (AllDigits(text)) {
        choice.by = DeviceChoice::By::kIndex;
        choice.index = std::stoul(text);
    } else if (ParseGuid(text, choice.guid)) {
        choice.by = DeviceChoice::By::kGuid;
    } else {
        choice.text = text;
    }
    return choice;
}

const OutputDevice* FindDevice(const DeviceList& list, const DeviceChoice& choice,
                               std::string& error) {
    const auto& outputs = list.outputs;
    const OutputDevice* found = nullptr;
    switch (choice.by) {
        case DeviceChoice::By::kIndex:
            if (choice.index < outputs.size()) found = &outputs[choice.index];
            error = "there is no output " + std::to_string(choice.index);
            break;
        case DeviceChoice::By::kGuid: {
            const auto it = std::find_if(
                outputs.begin(), outputs.end(),
                [&](const OutputDevice& o) { return IsEqualGUID(o.guid, choice.guid); });
            if (it != outputs.end()) found = &*it;
            error = "there is no output " + GuidText(choice.guid);
            break;
        }
        case DeviceChoice::By::kText: found = FindByText(outputs, choice.text, error); break;
    }
    if (found != nullptr) {
        error.clear();
        return found;
    }
    if (!list.limitation.empty()) error += " (" + list.limitation + ")";
    error += "; mivo-play --list-devices lists the outputs";
    return nullptr;
}
