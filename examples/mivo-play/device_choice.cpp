#include "device_choice.h"

#include <algorithm>
#include <cctype>

#include "guid_text.h"

namespace {

// Long enough for any real list, short enough not to overflow.
constexpr size_t kMaxIndexDigits = 6;

bool AllDigits(const std::string& text) {
    return !text.empty() && text.size() <= kMaxIndexDigits &&
           std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
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
        choice.description = text;
    }
    return choice;
}

const OutputDevice* FindDevice(const DeviceList& list, const DeviceChoice& choice,
                               std::string& error) {
    const auto& outputs = list.outputs;
    auto found = outputs.end();
    switch (choice.by) {
        case DeviceChoice::By::kIndex:
            if (choice.index < outputs.size()) {
                found = outputs.begin() + static_cast<std::ptrdiff_t>(choice.index);
            }
            error = "there is no output " + std::to_string(choice.index);
            break;
        case DeviceChoice::By::kGuid:
            found = std::find_if(outputs.begin(), outputs.end(), [&](const OutputDevice& o) {
                return IsEqualGUID(o.guid, choice.guid);
            });
            error = "there is no output " + GuidText(choice.guid);
            break;
        case DeviceChoice::By::kDescription:
            found = std::find_if(outputs.begin(), outputs.end(), [&](const OutputDevice& o) {
                return o.description == choice.description;
            });
            error = "there is no output named \"" + choice.description + "\"";
            break;
    }
    if (found != outputs.end()) {
        error.clear();
        return &*found;
    }
    if (!list.limitation.empty()) error += " (" + list.limitation + ")";
    error += "; mivo-play --list-devices lists the outputs";
    return nullptr;
}
