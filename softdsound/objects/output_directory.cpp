#include "output_directory.h"

#include "output_guid.h"

namespace mivo_dsound {

void WalkOutputs(OutputBackend& backend, const OutputVisit& visit) {
    if (!visit(nullptr, kDefaultOutputDescription, "")) return;
    for (const OutputInfo& output : backend.ListOutputs()) {
        const GUID guid = OutputGuid(output.name);
        if (!visit(&guid, output.description, output.name)) return;
    }
}

bool FindOutput(OutputBackend& backend, const GUID* device, OutputInfo& output) {
    if (device == nullptr || IsEqualGUID(*device, kDefaultPlaybackDevice)) {
        output = OutputInfo{};
        return true;
    }
    for (const OutputInfo& listed : backend.ListOutputs()) {
        if (IsEqualGUID(OutputGuid(listed.name), *device)) {
            output = listed;
            return true;
        }
    }
    return false;
}

std::u16string Utf16(const std::string& utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        char32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        size_t taken = 1;
        for (; taken <= static_cast<size_t>(extra) && i + taken < utf8.size(); ++taken) {
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + taken]) & 0x3F);
        }
        i += taken;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
    }
    return out;
}

}  // namespace mivo_dsound
