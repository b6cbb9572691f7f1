#pragma once

#include <cstring>

#include "mivo.h"

// Every operation but the remove operations, assignment and destruction
// needs an open device.
inline bool DeviceReady(const CdsObject& object) { return object.InitStatus == CdsStatusReady; }

// Descriptions and format records are always filled from all-zero bytes.
template <typename Record>
void ZeroRecord(Record& record) {
    std::memset(&record, 0, sizeof record);
}
