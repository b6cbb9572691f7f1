// Block and stop events: event descriptors written once the mixer's lock is
// released, so that no system call is made while a client may wait on it.
#pragma once

#include <array>
#include <cstddef>

namespace mivo_dsound {

// Writes one 8-byte 1 to an event descriptor without waiting.
void SignalEvent(int fd);

class SignalBatch {
public:
    void Add(int fd);
    size_t Count() const { return count_; }
    void Flush();

private:
    std::array<int, 256> fds_{};
    size_t count_ = 0;
};

}  // namespace mivo_dsound
