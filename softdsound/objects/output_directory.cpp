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

}  // namespace mivo_dsound
