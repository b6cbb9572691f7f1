// Test scaffolding: a CdsObject playing into SDL's disk driver, the file it
// writes, and eventfd events.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "event_fd.h"
#include "mivo.h"

namespace device_test {

using mivo_support::EventFd;

// Points SDL's disk driver at a fresh file for the next device opened.
// `delayMs` paces the output (-1: SDL's default, about real time).
class DiskFile {
public:
    explicit DiskFile(int delayMs);
    ~DiskFile();
    DiskFile(const DiskFile&) = delete;
    DiskFile& operator=(const DiskFile&) = delete;
    std::vector<uint8_t> Read() const;

private:
    std::string path_;
};

struct Format {
    int32_t channels;
    uint16_t bits;
    int32_t rate;
    int32_t layoutKind;
};

// A CdsObject at the priority level with its primary buffer set.
std::unique_ptr<CdsObject> OpenDevice(const Format& primary);

// Writes `bytes` into block `block` through Lock/Unlock.
bool FillBlock(CdsObject& sound, uint32_t block, const uint8_t* bytes, uint32_t count);

// Signed samples of `file` in the device's output containers (8-bit
// unsigned, 16-bit, or 32-bit for both 24 and 32-bit output), interleaved.
std::vector<int32_t> Samples(const std::vector<uint8_t>& file, uint16_t bits);

// Index of the first sample that is not silence, or the size.
size_t FirstSound(const std::vector<int32_t>& samples, uint16_t bits);

}  // namespace device_test
