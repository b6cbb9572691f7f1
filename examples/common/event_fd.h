// An eventfd as a mivo event handle on POSIX: the platform writes an 8-byte
// count to it each time the event fires. Shared by the example programs, the
// benchmarks and the device tests.
#pragma once

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "mivo.h"

namespace mivo_support {

class EventFd {
public:
    EventFd() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~EventFd() {
        if (fd_ >= 0) close(fd_);
    }
    EventFd(const EventFd&) = delete;
    EventFd& operator=(const EventFd&) = delete;

    // Descriptor 0 cannot serve: a null handle means "no event".
    bool Valid() const { return fd_ > 0; }
    int Fd() const { return fd_; }
    HANDLE Handle() const { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd_)); }

    // Signals received since the last call, waiting up to `timeoutMs` for
    // the first (0: do not wait).
    uint64_t Take(int timeoutMs = 0) const {
        if (timeoutMs != 0) {
            pollfd ready{fd_, POLLIN, 0};
            if (poll(&ready, 1, timeoutMs) <= 0) return 0;
        }
        uint64_t count = 0;
        return read(fd_, &count, sizeof count) == sizeof count ? count : 0;
    }

private:
    int fd_;
};

}  // namespace mivo_support
