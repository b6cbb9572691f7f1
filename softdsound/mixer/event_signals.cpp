#include "event_signals.h"

#include <unistd.h>

#include <cstdint>

namespace mivo_dsound {

void SignalEvent(int fd) {
    const uint64_t one = 1;
    // The descriptor is the client's: a full pipe or a closed one loses the
    // signal rather than stalling the audio.
    [[maybe_unused]] const ssize_t written = ::write(fd, &one, sizeof one);
}

void SignalBatch::Add(int fd) {
    if (count_ == fds_.size()) Flush();
    fds_[count_++] = fd;
}

void SignalBatch::Flush() {
    for (size_t i = 0; i < count_; ++i) SignalEvent(fds_[i]);
    count_ = 0;
}

}  // namespace mivo_dsound
